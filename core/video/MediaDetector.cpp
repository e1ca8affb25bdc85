#include "video/MediaDetector.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "image/dib.h"
#include "video/ExceptionText.h"
#include "video/MediaConverter.h"
#include "video/MediaPictureCache.h"
#include "video/MediaReadAhead.h"
#include "video/MediaSource.h"

namespace {

// A request at most this many pictures past the last one counts as reading in order.
constexpr int32_t kInOrderPictures = 8;
// In-order requests in a row before decoding ahead starts.
constexpr int kInOrderRunToReadAhead = 2;
// Pictures decoded ahead.
constexpr size_t kReadAheadDepth = 3;

void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* debug = std::getenv("TESSARON_DEBUG");
        av_log_set_level(debug && *debug ? AV_LOG_VERBOSE : AV_LOG_QUIET);
    });
}

// The Y plane of a decoded picture: the first component alone in plane 0, in bytes or in
// native-endian 16-bit words, of a non-RGB format.
bool YPlaneOf(const AVFrame* frame, LumaPlane* plane) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc || desc->nb_components < 1 || !frame->data[0]) return false;
    constexpr uint64_t kNotY = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                               AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    if (desc->flags & kNotY) return false;
    const AVComponentDescriptor& y = desc->comp[0];
    const int depth = y.depth;
    if (y.plane != 0 || y.shift != 0 || y.offset != 0 || depth < 8 || depth > 16) return false;
    if (y.step != (depth > 8 ? 2 : 1)) return false;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (depth > 8 && (desc->flags & AV_PIX_FMT_FLAG_BE)) return false;
#else
    if (depth > 8 && !(desc->flags & AV_PIX_FMT_FLAG_BE)) return false;
#endif
    plane->data = frame->data[0];
    plane->stride = frame->linesize[0];
    plane->width = frame->width;
    plane->height = frame->height;
    plane->depth = depth;
    return true;
}

}  // namespace

struct MediaDetector::Impl {
    MediaSource source;
    MediaConverter converter;
    std::vector<uint8_t> scratch;           // stored rows while they are turned upright
    std::vector<uint8_t> lumaScratch;       // the upright luma plane
    std::unique_ptr<MediaReadAhead> ahead;  // declared after source: stops before source goes
    ConvertedFrame last;
    bool haveLast = false;
    SourceFrame held;  // the picture decoded last here, kept for another shape of it
    bool haveHeld = false;
    PictureCache kept;
    bool open = false;
    bool readAhead = true;
    int inOrderRun = 0;
    int64_t convertedHere = 0;
    int64_t convertedAhead = 0;  // by read-ahead sessions already stopped
    int64_t readAheads = 0;
    int32_t width = 0, height = 0;  // upright
    IndexProgress progress;
    std::string error;

    ~Impl() { StopAhead(); }

    void StopAhead() {
        if (!ahead) return;
        ahead->Stop();
        convertedAhead += ahead->Converted();
        ahead.reset();
    }

    bool Holds(int32_t target, const PictureShape& shape) const {
        return haveLast && last.valid && last.shape == shape && last.index == target;
    }

    // The decoded picture when it needs no decoding: the one decoded last, or one kept.
    const AVFrame* AtHand(int32_t target) {
        if (haveHeld && held.index == target) return held.frame.get();
        return kept.Find(target);
    }

    bool Locate(int32_t target, const PictureShape& shape);
    bool Convert(const AVFrame* frame, int32_t index, const PictureShape& shape);
    bool LocateAhead(int32_t target, bool* found);
    const AVFrame* DecodeTo(int32_t target);
};

bool MediaDetector::Impl::Locate(int32_t target, const PictureShape& shape) {
    if (Holds(target, shape)) return true;
    // Another shape of the picture at hand (the box of the frame just shown, say) needs no decoding.
    if (!ahead) {
        if (const AVFrame* frame = AtHand(target)) return Convert(frame, target, shape);
    }
    const bool inOrder = haveLast && last.shape == shape && target > last.index &&
                         target - last.index <= kInOrderPictures;
    inOrderRun = inOrder ? inOrderRun + 1 : 0;

    if (ahead) {
        if (inOrder && ahead->Shape() == shape) {
            bool found = false;
            if (LocateAhead(target, &found)) return found;
        }
        StopAhead();
        if (const AVFrame* frame = AtHand(target)) return Convert(frame, target, shape);
    }
    const AVFrame* frame = DecodeTo(target);
    if (!frame || !Convert(frame, target, shape)) return false;
    if (readAhead && inOrderRun >= kInOrderRunToReadAhead && source.PeekIndex() != INT32_MAX) {
        try {
            ahead = std::make_unique<MediaReadAhead>(source, shape, source.GetOrientation(), kReadAheadDepth);
        } catch (...) {
            ahead.reset();
        }
        if (ahead && !ahead->Start()) ahead.reset();
        if (ahead) {
            ++readAheads;
        }
    }
    return true;
}

// Takes pictures from the read-ahead queue up to target. Returns false when the queue cannot serve the
// request (it must be stopped and the target reached directly); otherwise *found tells whether the
// picture came out of the decoder.
bool MediaDetector::Impl::LocateAhead(int32_t target, bool* found) {
    while (ahead->Pop(&last)) {
        haveLast = last.valid;
        if (!last.valid) return false;
        if (last.index >= target) {
            *found = last.index == target;
            return true;
        }
    }
    // The stream ended before the target.
    *found = false;
    return true;
}

// Decodes up to picture target, keeping the pictures on the way when stepping back is to be quick.
// Null when the decoder never hands that picture out.
const AVFrame* MediaDetector::Impl::DecodeTo(int32_t target) {
    if (const AVFrame* frame = AtHand(target)) return frame;
    if (target < 0 || target >= source.PictureCount()) return nullptr;
    // Kept on a step back or a jump: the pictures before the target are what Left asks for next. Reading
    // on in order (a sort, an export) passes each picture once; keeping those would only fill memory.
    const bool inOrder = haveHeld && target > held.index && target - held.index <= kInOrderPictures;
    const bool keep = kept.Enabled() && !inOrder;
    if (source.ShouldSeekFor(target) && !source.SeekTo(target)) return nullptr;
    haveHeld = false;
    while (source.Next(&held)) {
        if (keep && held.repeatable) kept.Add(held.index, held.frame.get());
        if (held.index >= target) {
            haveHeld = true;
            return held.index == target ? held.frame.get() : nullptr;
        }
    }
    return nullptr;
}

bool MediaDetector::Impl::Convert(const AVFrame* frame, int32_t index, const PictureShape& shape) {
    ++convertedHere;
    haveLast = ConvertPicture(converter, frame, index, shape, source.GetOrientation(), &scratch, &last);
    return haveLast;
}

MediaDetector::MediaDetector() {
    QuietLibraries();
    try {
        impl_ = std::make_unique<Impl>();
    } catch (...) {
        impl_.reset();
    }
}

MediaDetector::~MediaDetector() = default;

void MediaDetector::SetOpenProgress(IndexProgress progress) {
    if (impl_) impl_->progress = std::move(progress);
}

bool MediaDetector::SetFilename(const char* path) { return Open(path, nullptr, 0); }

bool MediaDetector::SetMemoryFile(const uint8_t* data, size_t size) { return data && Open(nullptr, data, size); }

bool MediaDetector::Open(const char* path, const uint8_t* data, size_t size) {
    if (!impl_) return false;
    try {
        impl_->StopAhead();
        impl_->haveLast = false;
        impl_->haveHeld = false;
        impl_->held = SourceFrame();
        impl_->kept.Clear();
        impl_->inOrderRun = 0;
        impl_->error.clear();
        impl_->open = data ? impl_->source.OpenMemory(data, size, impl_->progress, &impl_->error)
                           : impl_->source.Open(path, impl_->progress, &impl_->error);
        if (impl_->open)
            UprightSize(impl_->source.GetOrientation(), impl_->source.Width(), impl_->source.Height(), &impl_->width,
                        &impl_->height);
        return impl_->open;
    } catch (...) {
        // Running out of memory leaves the error as it was; anything else is named.
        const std::string text = CurrentExceptionText("");
        if (!text.empty()) impl_->error = text;
        impl_->open = false;
        return false;
    }
}

double MediaDetector::FrameRate() const { return impl_ && impl_->open ? impl_->source.FrameRate() : 0.0; }

double MediaDetector::StreamLength() const { return impl_ && impl_->open ? impl_->source.StreamLength() : 0.0; }

bool MediaDetector::GetVideoFormat(int32_t* width, int32_t* height) const {
    if (!impl_ || !impl_->open) return false;
    if (width) *width = impl_->width;
    if (height) *height = impl_->height;
    return true;
}

int32_t MediaDetector::FrameCount() const { return impl_ && impl_->open ? impl_->source.PictureCount() : 0; }

double MediaDetector::FrameTime(int32_t frame) const {
    return impl_ && impl_->open ? impl_->source.PictureSeconds(frame) : 0.0;
}

int32_t MediaDetector::FrameAtTime(double seconds) const {
    return impl_ && impl_->open ? impl_->source.PictureAtSeconds(seconds) : -1;
}

bool MediaDetector::IsKeyFrame(int32_t frame) const {
    return impl_ && impl_->open && impl_->source.Index().IsKeyPicture(frame);
}

int32_t MediaDetector::KeyFrameAtOrBefore(int32_t frame) const {
    return impl_ && impl_->open ? impl_->source.Index().KeyPictureAtOrBefore(frame) : -1;
}

Orientation MediaDetector::GetOrientation() const {
    return impl_ && impl_->open ? impl_->source.GetOrientation() : Orientation();
}

std::vector<std::pair<std::string, std::string>> MediaDetector::Tags() const {
    if (!impl_ || !impl_->open) return {};
    try {
        return impl_->source.Tags();
    } catch (...) {
        return {};  // out of memory: no tags rather than none at all of the frame
    }
}

bool MediaDetector::IndexFromCache() const { return impl_ && impl_->open && impl_->source.IndexFromCache(); }

const uint8_t* MediaDetector::PeekBitmapPart(int32_t frame, int32_t width, int32_t height, int32_t left, int32_t top,
                                             int32_t boxWidth, int32_t boxHeight) {
    if (!impl_ || !impl_->open) return nullptr;
    if (!FrameSizeAllowed(width, height)) return nullptr;
    const PictureShape shape{width, height, PictureBox{left, top, boxWidth, boxHeight}};
    if (!shape.Valid() || frame < 0 || frame >= impl_->source.PictureCount()) return nullptr;
    try {
        if (!impl_->Locate(frame, shape)) return nullptr;
    } catch (...) {
        const std::string text = CurrentExceptionText("");
        if (!text.empty()) impl_->error = text;
        return nullptr;
    }
    return impl_->last.block.data();
}

LumaRead MediaDetector::PeekLuma(int32_t frame, LumaPlane* plane) {
    if (!impl_ || !impl_->open || !plane) return LumaRead::Unreadable;
    *plane = LumaPlane();
    const AVFrame* picture = nullptr;
    try {
        // Decoding ahead converts to BGR, which the luma does not need; the source is ours again after.
        impl_->StopAhead();
        impl_->inOrderRun = 0;
        picture = impl_->DecodeTo(frame);
    } catch (...) {
        const std::string text = CurrentExceptionText("");
        if (!text.empty()) impl_->error = text;
        return LumaRead::Unreadable;
    }
    if (!picture) return LumaRead::Unreadable;
    if (picture->width != impl_->source.Width() || picture->height != impl_->source.Height()) return LumaRead::NoPlane;
    LumaPlane stored;
    if (!YPlaneOf(picture, &stored)) return LumaRead::NoPlane;
    const Orientation orientation = impl_->source.GetOrientation();
    if (orientation.Identity()) {
        *plane = stored;
        return LumaRead::Plane;
    }
    const int sampleBytes = stored.depth > 8 ? 2 : 1;
    const int64_t stride = int64_t(impl_->width) * sampleBytes;
    try {
        impl_->lumaScratch.resize(size_t(stride * impl_->height));
    } catch (...) {
        return LumaRead::NoPlane;
    }
    OrientPixels(orientation, stored.data, stored.stride, stored.width, stored.height, sampleBytes,
                 impl_->lumaScratch.data(), stride);
    *plane = LumaPlane{impl_->lumaScratch.data(), stride, impl_->width, impl_->height, stored.depth};
    return LumaRead::Plane;
}

void MediaDetector::SetReadAhead(bool enabled) {
    if (!impl_) return;
    impl_->readAhead = enabled;
    if (!enabled) impl_->StopAhead();
}

void MediaDetector::SetStepBackMemory(int64_t bytes) {
    if (impl_) impl_->kept.SetLimit(bytes);
}

const std::string& MediaDetector::LastError() const {
    static const std::string noMemory = "out of memory";
    return impl_ ? impl_->error : noMemory;
}

MediaDetector::Counters MediaDetector::GetCounters() const {
    Counters c;
    if (!impl_) return c;
    c.decoded = impl_->source.DecodedCount();
    c.seeks = impl_->source.SeekCount();
    c.readAheads = impl_->readAheads;
    c.converted = impl_->convertedHere + impl_->convertedAhead + (impl_->ahead ? impl_->ahead->Converted() : 0);
    c.kept = int64_t(impl_->kept.Count());
    c.keptBytes = impl_->kept.Bytes();
    c.keptHits = impl_->kept.Hits();
    return c;
}
