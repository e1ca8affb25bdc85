#include "video/AviReaderPixels.h"

#include <cstring>

#include "image/dib.h"
#include "video/RiffSource.h"

namespace {

// Five bits to eight, repeating the top bits below so that 31 becomes 255.
inline uint8_t Expand5(uint32_t v) { return uint8_t((v << 3) | (v >> 2)); }

void Row8(const uint8_t* s, int32_t w, const uint8_t (*pal)[4], uint8_t* d) {
    for (int32_t x = 0; x < w; ++x, d += 3) {
        const uint8_t* p = pal[s[x]];
        d[0] = p[0];
        d[1] = p[1];
        d[2] = p[2];
    }
}

void Row16(const uint8_t* s, int32_t w, uint8_t* d) {
    for (int32_t x = 0; x < w; ++x, s += 2, d += 3) {
        const uint32_t v = ReadLE16(s);  // x-rrrrr-ggggg-bbbbb
        d[0] = Expand5(v & 31);
        d[1] = Expand5((v >> 5) & 31);
        d[2] = Expand5((v >> 10) & 31);
    }
}

void Row32(const uint8_t* s, int32_t w, uint8_t* d) {
    for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

}  // namespace

bool AviFormatDecodable(uint32_t compression, uint16_t bitCount) {
    return compression == BI_RGB && (bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32);
}

AviPixelLayout MakeAviPixelLayout(int32_t width, int32_t storedHeight, uint16_t bitCount) {
    AviPixelLayout l;
    l.width = width;
    l.topDown = storedHeight < 0;
    l.height = l.topDown ? -storedHeight : storedHeight;
    l.bitCount = bitCount;
    l.srcStride = ((uint64_t(width) * bitCount + 31) / 32) * 4;
    l.srcBytes = l.srcStride * uint64_t(l.height);
    return l;
}

void ConvertAviRows(const uint8_t* srcRows, int32_t firstRow, int32_t rowCount, const AviPixelLayout& l,
                    const uint8_t (*palette)[4], uint8_t* dst) {
    const uint64_t dstStride = uint64_t(DibStride24(l.width));
    const uint64_t used = uint64_t(l.width) * 3;
    for (int32_t i = 0; i < rowCount; ++i) {
        const int32_t row = firstRow + i;
        const int32_t y = l.topDown ? l.height - 1 - row : row;  // storage row to bottom-up row
        const uint8_t* s = srcRows + uint64_t(i) * l.srcStride;
        uint8_t* d = dst + uint64_t(y) * dstStride;
        switch (l.bitCount) {
        case 8: Row8(s, l.width, palette, d); break;
        case 16: Row16(s, l.width, d); break;
        case 24: std::memcpy(d, s, used); break;
        default: Row32(s, l.width, d); break;
        }
        std::memset(d + used, 0, dstStride - used);
    }
}
