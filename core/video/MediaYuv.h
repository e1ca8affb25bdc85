// Exact conversion of planar YUV (4:2:0, 4:2:2, 4:4:4; 8 bits, or 9 to 12 bits in 16-bit samples) to
// 24-bit BGR rows: chroma upsampled linearly to luma resolution with its siting, then the colour matrix
// in fixed point, rounded to nearest. swscale's exactly rounding paths are several times slower than
// decoding; this is not.
#pragma once

#include <cstdint>
#include <vector>

struct YuvMatrix {
    // Fixed-point factors: ky (value << 14) applied to (Y - yOffset) << 3, the chroma factors
    // (value << 17) to chroma held at 16 times its value, centred on zero. Samples of more than 8 bits
    // use the same factors: the sums carry depth - 8 more fraction bits, and are shifted down by that
    // much more. (12-bit luma times 8 still fits 16 bits.)
    int16_t depth = 8;  // bits per sample
    int16_t ky = 0;
    int16_t yOffset = 0;
    int16_t rv = 0;  // R from V
    int16_t gu = 0;  // G from U
    int16_t gv = 0;  // G from V
    int16_t bu = 0;  // B from U
};

// kr, kb: the matrix's luma weights of red and blue (BT.601: 0.299, 0.114; BT.709: 0.2126, 0.0722).
// depth: bits per sample, 8 to 12 (limited range scales with it: luma 16 << (depth - 8) and up).
YuvMatrix MakeYuvMatrix(double kr, double kb, bool fullRange, int depth = 8);

// One row of pixels: y holds width luma samples; u and v hold width chroma samples at 16 times their
// value minus 16 times the centre (128 << (depth - 8)). Writes 3 * width bytes of B, G, R to out.
// simd = false forces the plain code (the two agree to the bit). 16-bit samples for depths above 8.
void YuvRowToBgr(const uint8_t* y, const int16_t* u, const int16_t* v, int width, const YuvMatrix& m, uint8_t* out,
                 bool simd = true);
void YuvRowToBgr(const uint16_t* y, const int16_t* u, const int16_t* v, int width, const YuvMatrix& m, uint8_t* out,
                 bool simd = true);

struct YuvPlanes {
    const uint8_t* data[3];  // Y, U, V; 16-bit native-endian samples when depth > 8
    int linesize[3];         // bytes
    int width;
    int height;
    int chromaShiftX;     // 0 or 1
    int chromaShiftY;     // 0 or 1
    bool chromaCentredX;  // chroma between two luma columns (JPEG), else on the left one (MPEG)
    int depth = 8;        // bits per sample; the matrix must be made for the same depth
};

// The whole picture as top-down rows of stride bytes. scratch is reused between calls. simd = false:
// the plain code throughout (the reference the vector code agrees with to the bit).
bool YuvToBgr(const YuvPlanes& planes, const YuvMatrix& m, uint8_t* out, int64_t stride, std::vector<int16_t>* scratch,
              bool simd = true);

// Only the part [left, left + width) x [top, top + height) of the picture, exactly as it comes out of
// the whole: rows of stride bytes to out, its top row first. False when the part is not inside.
bool YuvToBgrPart(const YuvPlanes& planes, const YuvMatrix& m, int left, int top, int width, int height, uint8_t* out,
                  int64_t stride, std::vector<int16_t>* scratch, bool simd = true);
