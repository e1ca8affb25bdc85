// Turns decoded pictures into 24-bit BGR rows with the stream's own colour matrix and range.
#pragma once

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

// A part of a picture, in pixels of the picture as it is delivered (after any scaling).
struct PictureBox {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const PictureBox&) const = default;
};

// What a delivered picture holds: the box of the picture scaled to frameWidth x frameHeight.
struct PictureShape {
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    PictureBox box;
    bool operator==(const PictureShape&) const = default;
    bool Valid() const {
        return frameWidth > 0 && frameHeight > 0 && box.left >= 0 && box.top >= 0 && box.width > 0 && box.height > 0 &&
               box.width <= frameWidth - box.left && box.height <= frameHeight - box.top;
    }
};

inline PictureShape WholePicture(int32_t width, int32_t height) {
    return PictureShape{width, height, PictureBox{0, 0, width, height}};
}

// For tests and benchmarks: true sends every picture through swscale, as before the direct YUV path.
void SetYuvThroughSwscale(bool on);

class MediaConverter {
public:
    MediaConverter() = default;
    ~MediaConverter();
    MediaConverter(const MediaConverter&) = delete;
    MediaConverter& operator=(const MediaConverter&) = delete;

    // Writes shape's box of the picture scaled to the shape's frame size (exactly as the box is within
    // the whole) as BGR rows: the box's top row at dst, each next one dstStride bytes on (negative for
    // bottom-up rows). The filler bytes at the row ends are left untouched. Our own YUV path converts
    // nothing outside the box.
    bool Convert(const AVFrame* frame, const PictureShape& shape, uint8_t* dst, int64_t dstStride);

private:
    SwsContext* context_ = nullptr;
    // YUV goes through planar G, B, R first: swscale's planar RGB output rounds exactly and is fast,
    // its packed 24-bit output is only exact on a slow path.
    bool viaPlanes_ = false;
    std::vector<uint8_t> planes_;
    std::vector<uint8_t> whole_;       // packed BGR of the whole picture when only a box is wanted
    std::vector<int16_t> yuvScratch_;  // for the direct 8-bit YUV path
    // What the context was made for
    int srcWidth_ = 0, srcHeight_ = 0, srcFormat_ = -1, matrix_ = -1, fullRange_ = -1;
    int dstWidth_ = 0, dstHeight_ = 0;
};
