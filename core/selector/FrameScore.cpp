#include "selector/FrameScore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "image/dib.h"
#include "image/xfile.h"
#include "image/ximage.h"

// A memory stream that keeps its block between encodes: Reset empties it without freeing, so scoring
// a video costs no reallocation once the largest frame's JPEG has been seen.
class ScoreStream : public CxStream {
public:
    ScoreStream() = default;
    ~ScoreStream() override { std::free(buffer_); }

    void Reset() {
        size_ = 0;
        position_ = 0;
    }
    uint8_t* Data() const { return buffer_; }

    bool Close() override {
        Reset();
        return true;
    }
    size_t Read(void* destination, size_t elementSize, size_t count) override {
        if (!destination || elementSize == 0 || position_ >= size_) return 0;
        const size_t available = size_ - position_;
        const size_t elements = std::min(count, available / elementSize);
        std::memcpy(destination, buffer_ + position_, elements * elementSize);
        position_ += elements * elementSize;
        return elements;
    }
    size_t Write(const void* source, size_t elementSize, size_t count) override {
        if (!source || elementSize == 0 || count == 0 || count > kMaxSize / elementSize) return 0;
        const size_t bytes = elementSize * count;
        if (bytes > kMaxSize - position_ || !Reserve(position_ + bytes)) return 0;
        std::memcpy(buffer_ + position_, source, bytes);
        position_ += bytes;
        size_ = std::max(size_, position_);
        return count;
    }
    bool Seek(int32_t offset, int origin) override {
        int64_t base = origin == kSeekSet ? 0 : origin == kSeekCur ? int64_t(position_) : int64_t(size_);
        if (origin != kSeekSet && origin != kSeekCur && origin != kSeekEnd) return false;
        const int64_t target = base + offset;
        if (target < 0 || target > int64_t(kMaxSize)) return false;
        position_ = size_t(target);
        return true;
    }
    int32_t Tell() const override { return int32_t(position_); }
    int32_t Size() const override { return int32_t(size_); }
    bool Flush() override { return true; }
    bool AtEnd() const override { return position_ >= size_; }
    int32_t HasError() const override { return position_ > size_ ? 1 : 0; }
    bool PutByte(uint8_t c) override { return Write(&c, 1, 1) == 1; }
    int32_t GetByte() override {
        if (position_ >= size_) return -1;
        return buffer_[position_++];
    }

private:
    // Sizes stay within what Size() can report.
    static constexpr size_t kMaxSize = size_t(std::numeric_limits<int32_t>::max());

    bool Reserve(size_t needed) {
        if (needed <= capacity_) return true;
        // Grow in whole steps with headroom, so a video's JPEGs settle into one block quickly.
        size_t capacity = std::max(needed + needed / 4, size_t(64) * 1024);
        capacity = std::min(capacity, kMaxSize);
        auto* grown = static_cast<uint8_t*>(std::realloc(buffer_, capacity));
        if (!grown) return false;
        buffer_ = grown;
        capacity_ = capacity;
        return true;
    }

    uint8_t* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t size_ = 0;
    size_t position_ = 0;
};

namespace {

// An image whose pixels are the caller's rows, for the length of one encode. Its header is the one
// CreateFromPixels gives a 24-bit image of that size, so GetDibSize and the JPEG bytes are the same;
// it frees nothing.
class BorrowedRows : public CxImage {
public:
    BorrowedRows(const uint8_t* pixels, int32_t width, int32_t height) {
        const int64_t stride = DibStride24(width);
        m_head.biSize = sizeof(BITMAPINFOHEADER);
        m_head.biWidth = width;
        m_head.biHeight = height;
        m_head.biPlanes = 1;
        m_head.biBitCount = 24;
        m_head.biCompression = BI_RGB;
        m_head.biSizeImage = static_cast<uint32_t>(stride * height);
        m_head.biClrUsed = 0;
        m_head.biClrImportant = 0;
        m_rowWidth = static_cast<uint32_t>(stride);
        // The encoder only reads the rows.
        m_pixels = const_cast<uint8_t*>(pixels);
        m_dib = m_pixels;
        m_borrowedFrom = this;  // Destroy leaves the rows alone
    }
};

int32_t ClampScore(int64_t score) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(score, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Rows the image code accepts: sizes its header fields hold (the reader never delivers more).
bool RowsUsable(const uint8_t* pixels, int32_t width, int32_t height, int32_t bytesPerLine) {
    return pixels && width > 0 && height > 0 && bytesPerLine >= 3 * int64_t(width) &&
           FrameBlockSize(width, height) <= std::numeric_limits<int32_t>::max();
}

}  // namespace

int32_t EmptyJpegScore(int64_t dibSize) { return ClampScore(dibSize + 100); }

JpegScorer::JpegScorer() : stream_(new (std::nothrow) ScoreStream) {}

JpegScorer::~JpegScorer() = default;

const uint8_t* JpegScorer::LastJpeg() const { return stream_ ? stream_->Data() : nullptr; }

JpegScore JpegScorer::Score(const uint8_t* pixels, int32_t width, int32_t height, int32_t bytesPerLine, int quality) {
    JpegScore result;
    const int64_t dibSize = FrameBlockSize(std::max(width, 0), std::max(height, 0));
    result.score = EmptyJpegScore(dibSize);
    if (!stream_ || !RowsUsable(pixels, width, height, bytesPerLine)) return result;

    stream_->Reset();
    bool encoded = false;
    if (bytesPerLine == DibStride24(width)) {
        BorrowedRows image(pixels, width, height);
        image.jpegQuality = static_cast<uint8_t>(quality & 0xFF);
        encoded = image.Encode(stream_.get(), CXIMAGE_FORMAT_JPG);
    } else {
        if (!copy_) copy_.reset(new (std::nothrow) CxImage(CXIMAGE_FORMAT_UNKNOWN));
        if (copy_ &&
            copy_->CreateFromPixels(pixels, uint32_t(width), uint32_t(height), 24, uint32_t(bytesPerLine), false)) {
            copy_->jpegQuality = static_cast<uint8_t>(quality & 0xFF);
            encoded = copy_->Encode(stream_.get(), CXIMAGE_FORMAT_JPG);
        }
    }
    if (encoded && stream_->Size() > 0) {
        result.encoded = true;
        result.jpegBytes = stream_->Size();
        result.score = ClampScore(dibSize - result.jpegBytes + 100);
    }
    return result;
}

JpegScore JpegScorer::ScoreImage(CxImage& image, const uint8_t* pixels, int32_t width, int32_t height,
                                 int32_t bytesPerLine, int quality, bool preview) {
    JpegScore result;
    const int64_t dibSize = FrameBlockSize(std::max(width, 0), std::max(height, 0));
    result.score = EmptyJpegScore(dibSize);
    if (!stream_ || !RowsUsable(pixels, width, height, bytesPerLine)) return result;
    if (!image.CreateFromPixels(pixels, uint32_t(width), uint32_t(height), 24, uint32_t(bytesPerLine), false))
        return result;
    image.jpegQuality = static_cast<uint8_t>(quality & 0xFF);
    stream_->Reset();
    if (!image.Encode(stream_.get(), CXIMAGE_FORMAT_JPG) || stream_->Size() <= 0) return result;
    result.encoded = true;
    result.jpegBytes = stream_->Size();
    result.score = ClampScore(image.GetDibSize() - result.jpegBytes + 100);
    // Exactly the bytes the encoder produced; a failed decode keeps the plain frame in image.
    if (preview) image.Decode(stream_->Data(), uint32_t(result.jpegBytes), CXIMAGE_FORMAT_JPG);
    return result;
}

const char* ScoreKindName(ScoreKind kind) {
    switch (kind) {
    case ScoreKind::Sharpness: return "sharpness";
    case ScoreKind::LocalSharpness: return "local-sharpness";
    case ScoreKind::Jpeg: break;
    }
    return "jpeg";
}

bool ParseScoreKind(const std::string& text, ScoreKind* kind) {
    for (ScoreKind k : {ScoreKind::Jpeg, ScoreKind::Sharpness, ScoreKind::LocalSharpness})
        if (text == ScoreKindName(k)) {
            if (kind) *kind = k;
            return true;
        }
    return false;
}

bool ScoreBetter(ScoreKind kind, const JpegScore& a, const JpegScore& b) {
    return IsSharpnessKind(kind) ? a.sharpness > b.sharpness : a.score < b.score;
}

int32_t WholeScore(ScoreKind kind, const JpegScore& score) {
    if (!IsSharpnessKind(kind)) return score.score;
    return static_cast<int32_t>(std::llround(std::clamp(score.sharpness, 0.0, double(INT32_MAX))));
}
