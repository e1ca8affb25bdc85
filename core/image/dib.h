// Packed device-independent bitmap structures, laid out byte for byte as in BMP and AVI files,
// and the row arithmetic every part of the program shares.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct BITMAPFILEHEADER {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(BITMAPFILEHEADER) == 14);

constexpr uint32_t BI_RGB = 0;
constexpr int kDibHeaderSize = 40;

// Bytes of one 24-bit row, filled up to a multiple of 4.
constexpr int64_t DibStride24(int64_t width) { return (3 * width + 3) & ~int64_t(3); }

// Size of a 24-bit frame block: header plus bottom-up rows.
constexpr int64_t FrameBlockSize(int64_t width, int64_t height) { return DibStride24(width) * height + kDibHeaderSize; }

// Largest picture side and frame block accepted from any file: they bound every allocation a frame needs.
constexpr int32_t kMaxFrameSide = 16384;
constexpr int64_t kMaxFrameBlockBytes = int64_t(1) << 30;

constexpr bool FrameSizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide &&
           FrameBlockSize(width, height) <= kMaxFrameBlockBytes;
}

// True when block is a whole 24-bit bottom-up frame of exactly length bytes (a 40-byte header with a
// positive width and height, then the rows); width and height, when given, receive its size.
bool IsWholeFrameBlock(const uint8_t* block, int64_t length, int32_t* width = nullptr, int32_t* height = nullptr);

// Frame blocks and encoded buffers travel as malloc'd memory that the receiver frees with std::free.
struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using FrameBlockPtr = std::unique_ptr<uint8_t, FreeDeleter>;
