#include "video/MediaDetector.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "image/dib.h"
#include "video/ExceptionText.h"
#include "video/MediaConverter.h"
#include "video/MediaReadAhead.h"
#include "video/MediaSource.h"

namespace {

// A request this many frame periods past the last picture counts as reading in order.
constexpr int64_t kInOrderPeriods = 8;
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

}  // namespace

struct MediaDetector::Impl {
    MediaSource source;
    MediaConverter converter;
    std::unique_ptr<MediaReadAhead> ahead;  // declared after source: stops before source goes
    ConvertedFrame last;
    bool haveLast = false;
    SourceFrame held;  // the picture decoded last here, kept for another shape of it
    bool haveHeld = false;
    bool open = false;
    bool readAhead = true;
    int inOrderRun = 0;
    int64_t convertedHere = 0;
    int64_t convertedAhead = 0;  // by read-ahead sessions already stopped
    int64_t readAheads = 0;
    std::string error;

    ~Impl() { StopAhead(); }

    void StopAhead() {
        if (!ahead) return;
        ahead->Stop();
        convertedAhead += ahead->Converted();
        ahead.reset();
    }

    bool Holds(int64_t target, const PictureShape& shape) const {
        return haveLast && last.valid && last.shape == shape && last.start <= target && target < last.end;
    }

    bool Locate(int64_t target, const PictureShape& shape);
    bool Convert(const SourceFrame& picture, const PictureShape& shape);
    bool LocateAhead(int64_t target, bool* found);
    bool LocateHere(int64_t target, const PictureShape& shape);
    bool LocatePicture(int64_t target);
};

bool MediaDetector::Impl::Locate(int64_t target, const PictureShape& shape) {
    if (Holds(target, shape)) return true;
    // Another shape of the picture at hand (the box of the frame just shown, say) needs no decoding.
    if (!ahead && haveHeld && held.start <= target && target < held.end) return Convert(held, shape);
    const int64_t period = source.FramePeriodTicks();
    bool inOrder = haveLast && last.shape == shape && target >= last.end &&
                   target - last.end < kInOrderPeriods * period;
    inOrderRun = inOrder ? inOrderRun + 1 : 0;

    if (ahead) {
        if (inOrder && ahead->Shape() == shape) {
            bool found = false;
            if (LocateAhead(target, &found)) return found;
        }
        StopAhead();
    }
    if (!LocateHere(target, shape)) return false;
    if (readAhead && inOrderRun >= kInOrderRunToReadAhead && source.PeekStart() != INT64_MAX) {
        try {
            ahead = std::make_unique<MediaReadAhead>(source, shape, kReadAheadDepth);
        } catch (...) {
            ahead.reset();
        }
        if (ahead && !ahead->Start()) ahead.reset();
        if (ahead) ++readAheads;
    }
    return true;
}

// Takes pictures from the read-ahead queue up to the one shown at target. Returns false when the
// queue cannot serve the request (it must be stopped and the target reached directly); otherwise
// *found tells whether a picture is shown at target.
bool MediaDetector::Impl::LocateAhead(int64_t target, bool* found) {
    while (ahead->Pop(&last)) {
        haveLast = last.valid;
        if (!last.valid) return false;
        if (target < last.end) {
            if (target < last.start) return false;
            *found = true;
            return true;
        }
    }
    // The stream ended before the target: nothing is shown there.
    *found = false;
    return true;
}

bool MediaDetector::Impl::LocateHere(int64_t target, const PictureShape& shape) {
    if (target >= source.KnownEnd()) return false;
    if (source.ShouldSeekFor(target) && !source.Seek(target)) return false;
    haveHeld = false;
    bool found = false;
    while (source.Next(&held)) {
        if (target < held.end) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    haveHeld = true;
    // A time before this picture falls where pictures did not decode: nothing is shown there.
    if (target < held.start) return false;
    return Convert(held, shape);
}

bool MediaDetector::Impl::Convert(const SourceFrame& picture, const PictureShape& shape) {
    ++convertedHere;
    haveLast = ConvertPicture(converter, picture, shape, &last);
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

bool MediaDetector::SetFilename(const char* path) {
    if (!impl_) return false;
    try {
        impl_->StopAhead();
        impl_->haveLast = false;
        impl_->haveHeld = false;
        impl_->held = SourceFrame();
        impl_->inOrderRun = 0;
        impl_->error.clear();
        impl_->open = impl_->source.Open(path, &impl_->error);
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
    if (width) *width = impl_->source.Width();
    if (height) *height = impl_->source.Height();
    return true;
}

const uint8_t* MediaDetector::PeekBitmapPart(double streamTime, int32_t width, int32_t height, int32_t left,
                                             int32_t top, int32_t boxWidth, int32_t boxHeight) {
    if (!impl_ || !impl_->open) return nullptr;
    if (!FrameSizeAllowed(width, height)) return nullptr;
    const PictureShape shape{width, height, PictureBox{left, top, boxWidth, boxHeight}};
    if (!shape.Valid()) return nullptr;
    try {
        int64_t target = impl_->source.SecondsToTicks(streamTime);
        if (target < 0) target = 0;
        if (!impl_->Locate(target, shape)) return nullptr;
    } catch (...) {
        const std::string text = CurrentExceptionText("");
        if (!text.empty()) impl_->error = text;
        return nullptr;
    }
    return impl_->last.block.data();
}

void MediaDetector::SetReadAhead(bool enabled) {
    if (!impl_) return;
    impl_->readAhead = enabled;
    if (!enabled) impl_->StopAhead();
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
    return c;
}

// Decodes up to the picture shown at target and holds it, converting nothing; false when no picture
// is shown there.
bool MediaDetector::Impl::LocatePicture(int64_t target) {
    // The picture at hand (the frame just shown or scored) needs no decoding.
    if (!ahead && haveHeld && held.start <= target && target < held.end) return true;
    // Decoding ahead converts to BGR, which the luma does not need; the source is ours again after.
    StopAhead();
    inOrderRun = 0;
    if (target >= source.KnownEnd()) return false;
    if (source.ShouldSeekFor(target) && !source.Seek(target)) return false;
    haveHeld = false;
    while (source.Next(&held)) {
        if (target < held.end) {
            haveHeld = true;
            return target >= held.start;
        }
    }
    return false;
}

namespace {

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

LumaRead MediaDetector::PeekLuma(double streamTime, LumaPlane* plane) {
    if (!impl_ || !impl_->open || !plane) return LumaRead::Unreadable;
    *plane = LumaPlane();
    try {
        int64_t target = impl_->source.SecondsToTicks(streamTime);
        if (target < 0) target = 0;
        if (!impl_->LocatePicture(target)) return LumaRead::Unreadable;
    } catch (...) {
        const std::string text = CurrentExceptionText("");
        if (!text.empty()) impl_->error = text;
        return LumaRead::Unreadable;
    }
    const AVFrame* frame = impl_->held.frame.get();
    if (!frame || frame->width != impl_->source.Width() || frame->height != impl_->source.Height())
        return LumaRead::NoPlane;
    return YPlaneOf(frame, plane) ? LumaRead::Plane : LumaRead::NoPlane;
}
