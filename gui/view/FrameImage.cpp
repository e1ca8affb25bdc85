#include "view/FrameImage.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// One row of BGR pixels as RGB32 (blue, green, red, 0xff in memory).
void BgrRowToRgb32(const uint8_t* src, QRgb* dst, int width) {
    for (int x = 0; x < width; ++x, src += 3)
        dst[x] = 0xff000000u | src[0] | static_cast<QRgb>(src[1]) << 8 | static_cast<QRgb>(src[2]) << 16;
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per step: 16 bytes loaded, 12 of them spread over four words.
__attribute__((target("ssse3"))) void BgrRowToRgb32Ssse3(const uint8_t* src, QRgb* dst, int width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int x = 0;
    // The load takes 16 bytes: stop while they are all inside the row.
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        const __m128i bgr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_or_si128(_mm_shuffle_epi8(bgr, spread), opaque));
    }
    BgrRowToRgb32(src + 3 * x, dst + x, width - x);
}
#endif

}  // namespace

void BgrRowsToImage(const uint8_t* pixels, int width, int height, int64_t bytesPerLine, QImage& image, int firstRow,
                    int endRow) {
    auto convert = BgrRowToRgb32;
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) convert = BgrRowToRgb32Ssse3;
#endif
    if (endRow < 0 || endRow > height) endRow = height;
    for (int y = firstRow < 0 ? 0 : firstRow; y < endRow; ++y)
        convert(pixels + (height - 1 - y) * bytesPerLine, reinterpret_cast<QRgb*>(image.scanLine(y)), width);
}
