// Turns decoded pictures into 24-bit BGR rows with the stream's own colour matrix and range.
#pragma once

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

class MediaConverter {
public:
    MediaConverter() = default;
    ~MediaConverter();
    MediaConverter(const MediaConverter&) = delete;
    MediaConverter& operator=(const MediaConverter&) = delete;

    // Writes width x height pixels as top-down BGR rows of DibStride24(width) bytes to dst, scaling
    // when the picture has another size. The filler bytes at the row ends are left untouched.
    bool Convert(const AVFrame* frame, int32_t width, int32_t height, uint8_t* dst);

private:
    SwsContext* context_ = nullptr;
    // YUV goes through planar G, B, R first: swscale's planar RGB output rounds exactly and is fast,
    // its packed 24-bit output is only exact on a slow path.
    bool viaPlanes_ = false;
    std::vector<uint8_t> planes_;
    std::vector<int16_t> yuvScratch_;  // for the direct 8-bit YUV path
    // What the context was made for
    int srcWidth_ = 0, srcHeight_ = 0, srcFormat_ = -1, matrix_ = -1, fullRange_ = -1;
    int dstWidth_ = 0, dstHeight_ = 0;
};
