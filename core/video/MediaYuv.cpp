#include "video/MediaYuv.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TESSARON_HAVE_AVX2_PATH 1
#endif

namespace {

// Chroma factors carry 17 fraction bits, the luma factor 14 (more would not fit 16 bits) applied to
// luma times 8, so all three terms add up at 17 bits; with deeper samples at 17 + depth - 8.
constexpr int kShift = 17;
constexpr int kLumaShift = 14;
constexpr int kLumaUp = kShift - kLumaShift;
inline int ShiftOf(const YuvMatrix& m) { return kShift + m.depth - 8; }
constexpr int kChromaScale = 16;  // chroma carried at 16 times its value: room for the interpolation

// 16 times the chroma centre of a depth; for 12 bits it is 32768, which the 16-bit vector arithmetic
// wraps to -32768: the centred results fit, so the wrap-around cancels.
constexpr int ChromaCentre(int depth) { return (128 << (depth - 8)) * kChromaScale; }

int16_t Fixed(double v, int bits) { return int16_t(std::lround(v * (1 << bits))); }

inline uint8_t Clamp(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

template <typename Sample>
void RowPlain(const Sample* y, const int16_t* u, const int16_t* v, int from, int width, const YuvMatrix& m,
              uint8_t* out) {
    const int shift = ShiftOf(m), round = 1 << (shift - 1);
    for (int x = from; x < width; ++x) {
        const int ys = m.ky * ((y[x] - m.yOffset) << kLumaUp) + round;
        out[3 * x] = Clamp((ys + m.bu * u[x]) >> shift);
        out[3 * x + 1] = Clamp((ys + m.gu * u[x] + m.gv * v[x]) >> shift);
        out[3 * x + 2] = Clamp((ys + m.rv * v[x]) >> shift);
    }
}

#if defined(__SSE2__)
// Four b,g,r,0 pixels to their 12 bytes at the bottom of the register, zeros above.
inline __m128i Pack4(__m128i p) {
    const __m128i low24 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    // Each 64-bit lane: 3 bytes of its even pixel, then 3 of its odd one.
    __m128i t = _mm_or_si128(_mm_and_si128(p, low24), _mm_slli_epi64(_mm_srli_epi64(p, 32), 24));
    return _mm_or_si128(_mm_move_epi64(t), _mm_slli_si128(_mm_srli_si128(t, 8), 6));
}

// Eight pixels' 16-bit B, G, R (values 0..255 after saturation) to their 24 bytes at out.
inline void StoreBgr8(__m128i b, __m128i g, __m128i r, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i bg = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), _mm_packus_epi16(g, g));
    __m128i r0 = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), zero);
    __m128i first = Pack4(_mm_unpacklo_epi16(bg, r0));
    __m128i second = Pack4(_mm_unpackhi_epi16(bg, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(first, _mm_slli_si128(second, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_srli_si128(second, 4));
}

// Eight luma samples as 16-bit values.
inline __m128i LoadLuma8(const uint8_t* y) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)), _mm_setzero_si128());
}
inline __m128i LoadLuma8(const uint16_t* y) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(y)); }

// (sum + round) >> shift; a constant shift for 8-bit samples, the faster instruction.
template <typename Sample>
inline __m128i Scale(__m128i sum, __m128i round, __m128i shift) {
    if constexpr (sizeof(Sample) == 1) return _mm_srai_epi32(_mm_add_epi32(sum, round), kShift);
    return _mm_sra_epi32(_mm_add_epi32(sum, round), shift);
}

// Pixels [from, width & ~7); returns where the plain code takes over.
template <typename Sample>
int RowSse2(const Sample* y, const int16_t* u, const int16_t* v, int from, int width, const YuvMatrix& m,
            uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yOffset = _mm_set1_epi16(m.yOffset);
    const __m128i shift = _mm_cvtsi32_si128(ShiftOf(m));
    const __m128i round = _mm_set1_epi32(1 << (ShiftOf(m) - 1));
    const __m128i yRv = _mm_set_epi16(m.rv, m.ky, m.rv, m.ky, m.rv, m.ky, m.rv, m.ky);
    const __m128i yGu = _mm_set_epi16(m.gu, m.ky, m.gu, m.ky, m.gu, m.ky, m.gu, m.ky);
    const __m128i yBu = _mm_set_epi16(m.bu, m.ky, m.bu, m.ky, m.bu, m.ky, m.bu, m.ky);
    const __m128i gv = _mm_set_epi16(0, m.gv, 0, m.gv, 0, m.gv, 0, m.gv);
    int x = from;
    for (; x + 8 <= width; x += 8) {
        __m128i ys = _mm_slli_epi16(_mm_sub_epi16(LoadLuma8(y + x), yOffset), kLumaUp);
        __m128i us = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x));
        __m128i vs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x));
        __m128i yvLo = _mm_unpacklo_epi16(ys, vs), yvHi = _mm_unpackhi_epi16(ys, vs);
        __m128i yuLo = _mm_unpacklo_epi16(ys, us), yuHi = _mm_unpackhi_epi16(ys, us);
        __m128i v0Lo = _mm_unpacklo_epi16(vs, zero), v0Hi = _mm_unpackhi_epi16(vs, zero);
        __m128i r = _mm_packs_epi32(Scale<Sample>(_mm_madd_epi16(yvLo, yRv), round, shift),
                                    Scale<Sample>(_mm_madd_epi16(yvHi, yRv), round, shift));
        __m128i g = _mm_packs_epi32(Scale<Sample>(_mm_add_epi32(_mm_madd_epi16(yuLo, yGu), _mm_madd_epi16(v0Lo, gv)),
                                                  round, shift),
                                    Scale<Sample>(_mm_add_epi32(_mm_madd_epi16(yuHi, yGu), _mm_madd_epi16(v0Hi, gv)),
                                                  round, shift));
        __m128i b = _mm_packs_epi32(Scale<Sample>(_mm_madd_epi16(yuLo, yBu), round, shift),
                                    Scale<Sample>(_mm_madd_epi16(yuHi, yBu), round, shift));
        StoreBgr8(b, g, r, out + 3 * x);
    }
    return x;
}
#endif

#if defined(TESSARON_HAVE_AVX2_PATH)
template <typename Sample>
__attribute__((target("avx2"))) inline __m256i Scale(__m256i sum, __m256i round, __m128i shift) {
    if constexpr (sizeof(Sample) == 1) return _mm256_srai_epi32(_mm256_add_epi32(sum, round), kShift);
    return _mm256_sra_epi32(_mm256_add_epi32(sum, round), shift);
}

__attribute__((target("avx2"))) inline __m256i LoadLuma16(const uint8_t* y) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)));
}
__attribute__((target("avx2"))) inline __m256i LoadLuma16(const uint16_t* y) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
}

// The same arithmetic as RowSse2 on sixteen pixels at a time, on processors that have AVX2. The
// 256-bit unpacks and packs work within 128-bit lanes, so the results come out in pixel order.
template <typename Sample>
__attribute__((target("avx2"))) int RowAvx2(const Sample* y, const int16_t* u, const int16_t* v, int width,
                                            const YuvMatrix& m, uint8_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i yOffset = _mm256_set1_epi16(m.yOffset);
    const __m128i shift = _mm_cvtsi32_si128(ShiftOf(m));
    const __m256i round = _mm256_set1_epi32(1 << (ShiftOf(m) - 1));
    const __m256i yRv = _mm256_set1_epi32(int32_t(uint16_t(m.ky)) | int32_t(uint32_t(uint16_t(m.rv)) << 16));
    const __m256i yGu = _mm256_set1_epi32(int32_t(uint16_t(m.ky)) | int32_t(uint32_t(uint16_t(m.gu)) << 16));
    const __m256i yBu = _mm256_set1_epi32(int32_t(uint16_t(m.ky)) | int32_t(uint32_t(uint16_t(m.bu)) << 16));
    const __m256i gv = _mm256_set1_epi32(int32_t(uint16_t(m.gv)));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m256i ys = _mm256_slli_epi16(_mm256_sub_epi16(LoadLuma16(y + x), yOffset), kLumaUp);
        __m256i us = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + x));
        __m256i vs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + x));
        __m256i yvLo = _mm256_unpacklo_epi16(ys, vs), yvHi = _mm256_unpackhi_epi16(ys, vs);
        __m256i yuLo = _mm256_unpacklo_epi16(ys, us), yuHi = _mm256_unpackhi_epi16(ys, us);
        __m256i v0Lo = _mm256_unpacklo_epi16(vs, zero), v0Hi = _mm256_unpackhi_epi16(vs, zero);
        __m256i r = _mm256_packs_epi32(Scale<Sample>(_mm256_madd_epi16(yvLo, yRv), round, shift),
                                       Scale<Sample>(_mm256_madd_epi16(yvHi, yRv), round, shift));
        __m256i g = _mm256_packs_epi32(
            Scale<Sample>(_mm256_add_epi32(_mm256_madd_epi16(yuLo, yGu), _mm256_madd_epi16(v0Lo, gv)), round, shift),
            Scale<Sample>(_mm256_add_epi32(_mm256_madd_epi16(yuHi, yGu), _mm256_madd_epi16(v0Hi, gv)), round, shift));
        __m256i b = _mm256_packs_epi32(Scale<Sample>(_mm256_madd_epi16(yuLo, yBu), round, shift),
                                       Scale<Sample>(_mm256_madd_epi16(yuHi, yBu), round, shift));
        StoreBgr8(_mm256_castsi256_si128(b), _mm256_castsi256_si128(g), _mm256_castsi256_si128(r), out + 3 * x);
        StoreBgr8(_mm256_extracti128_si256(b, 1), _mm256_extracti128_si256(g, 1), _mm256_extracti128_si256(r, 1),
                  out + 3 * x + 24);
    }
    return x;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

// Vertical step: 3/4 of the nearer chroma row plus 1/4 of the other, times 4 (or the row itself
// times 4). Returns how far the vector code got.
template <typename Sample>
int VerticalSse2(const Sample* a, const Sample* b, int n, int16_t* out) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        __m128i x = LoadLuma8(a + i);
        __m128i sum;
        if (b) {
            __m128i y = LoadLuma8(b + i);
            sum = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(x, 1), x), y);
        } else {
            sum = _mm_slli_epi16(x, 2);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), sum);
    }
#else
    (void)a, (void)b, (void)n, (void)out;
#endif
    return i;
}

// Horizontal step for chroma on the left one of each two luma columns: even columns take the sample,
// odd ones the mean of the samples on either side. In: n values times 4; out: 2n values times 16,
// centred on zero. Returns how many input values the vector code handled.
int HorizontalLeftSse2(const int16_t* in, int n, int centreValue, int16_t* out) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i centre = _mm_set1_epi16(int16_t(centreValue));
    for (; i + 9 <= n; i += 8) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1));
        __m128i even = _mm_sub_epi16(_mm_slli_epi16(here, 2), centre);
        __m128i odd = _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(here, next), 1), centre);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(even, odd));
    }
#else
    (void)in, (void)n, (void)centreValue, (void)out;
#endif
    return i;
}

// Chroma of one luma row at luma resolution, times 16, centred on zero, for the luma columns
// [x0, x1): only the chroma samples those columns draw on (and their neighbours) are computed, so a
// part of the picture converts exactly as it does within the whole.
template <typename Sample>
void ChromaRow(const YuvPlanes& p, int plane, int row, int x0, int x1, int16_t* vertical, int16_t* out, bool simd) {
    const int sx = p.chromaShiftX;
    const int centre = ChromaCentre(p.depth);
    const int chromaWidth = (p.width + sx) >> sx;
    const int chromaHeight = (p.height + p.chromaShiftY) >> p.chromaShiftY;
    const int near = row >> p.chromaShiftY;
    const Sample* a = reinterpret_cast<const Sample*>(p.data[plane] + int64_t(near) * p.linesize[plane]);
    const Sample* b = nullptr;
    if (p.chromaShiftY) {
        const int far = std::clamp((row & 1) ? near + 1 : near - 1, 0, chromaHeight - 1);
        b = reinterpret_cast<const Sample*>(p.data[plane] + int64_t(far) * p.linesize[plane]);
    }
    // Chroma samples under [x0, x1), and with horizontal interpolation one more on each side.
    const int first = x0 >> sx, end = ((x1 - 1) >> sx) + 1;
    const int c0 = std::max(first - sx, 0), c1 = std::min(end + sx, chromaWidth);
    const int vectorDone = simd ? VerticalSse2(a + c0, b ? b + c0 : nullptr, c1 - c0, vertical + c0) : 0;
    for (int i = c0 + vectorDone; i < c1; ++i) vertical[i] = int16_t(b ? 3 * a[i] + b[i] : 4 * a[i]);

    if (!sx) {
        for (int x = x0; x < x1; ++x) out[x] = int16_t(4 * vertical[x] - centre);
        return;
    }
    const int last = chromaWidth - 1;
    int i = first + (p.chromaCentredX || !simd
                         ? 0
                         : HorizontalLeftSse2(vertical + first, end - first, centre, out + 2 * first));
    for (; i < end; ++i) {
        const int here = vertical[i];
        const int next = vertical[std::min(i + 1, last)];
        int even, odd;
        if (p.chromaCentredX) {
            even = 3 * here + vertical[std::max(i - 1, 0)];
            odd = 3 * here + next;
        } else {
            even = 4 * here;
            odd = 2 * (here + next);
        }
        out[2 * i] = int16_t(even - centre);
        if (2 * i + 1 < p.width) out[2 * i + 1] = int16_t(odd - centre);
    }
}

template <typename Sample>
void RowToBgr(const Sample* y, const int16_t* u, const int16_t* v, int width, const YuvMatrix& m, uint8_t* out,
              bool simd) {
    int done = 0;
#if defined(TESSARON_HAVE_AVX2_PATH)
    if (simd && HaveAvx2()) done = RowAvx2(y, u, v, width, m, out);
#endif
#if defined(__SSE2__)
    if (simd) done = RowSse2(y, u, v, done, width, m, out);
#else
    (void)simd;
#endif
    RowPlain(y, u, v, done, width, m, out);
}

template <typename Sample>
void PartToBgr(const YuvPlanes& p, const YuvMatrix& m, int left, int top, int width, int height, uint8_t* out,
               int64_t stride, int16_t* u, int16_t* v, int16_t* verticalU, int16_t* verticalV, bool simd) {
    for (int y = top; y < top + height; ++y) {
        ChromaRow<Sample>(p, 1, y, left, left + width, verticalU, u, simd);
        ChromaRow<Sample>(p, 2, y, left, left + width, verticalV, v, simd);
        RowToBgr(reinterpret_cast<const Sample*>(p.data[0] + int64_t(y) * p.linesize[0]) + left, u + left, v + left,
                 width, m, out + (y - top) * stride, simd);
    }
}

}  // namespace

YuvMatrix MakeYuvMatrix(double kr, double kb, bool fullRange, int depth) {
    depth = std::clamp(depth, 8, 12);
    const int extra = depth - 8;
    const double kg = 1.0 - kr - kb;
    const double yScale = fullRange ? 1.0 : 255.0 / 219.0;
    const double cScale = (fullRange ? 1.0 : 255.0 / 224.0) / kChromaScale;
    YuvMatrix m;
    m.depth = int16_t(depth);
    m.ky = Fixed(yScale, kLumaShift);
    m.yOffset = int16_t(fullRange ? 0 : 16 << extra);
    m.rv = Fixed(2 * (1 - kr) * cScale, kShift);
    m.bu = Fixed(2 * (1 - kb) * cScale, kShift);
    m.gu = Fixed(-2 * kb * (1 - kb) / kg * cScale, kShift);
    m.gv = Fixed(-2 * kr * (1 - kr) / kg * cScale, kShift);
    return m;
}

void YuvRowToBgr(const uint8_t* y, const int16_t* u, const int16_t* v, int width, const YuvMatrix& m, uint8_t* out,
                 bool simd) {
    RowToBgr(y, u, v, width, m, out, simd);
}

void YuvRowToBgr(const uint16_t* y, const int16_t* u, const int16_t* v, int width, const YuvMatrix& m, uint8_t* out,
                 bool simd) {
    RowToBgr(y, u, v, width, m, out, simd);
}

bool YuvToBgr(const YuvPlanes& p, const YuvMatrix& m, uint8_t* out, int64_t stride, std::vector<int16_t>* scratch,
              bool simd) {
    return YuvToBgrPart(p, m, 0, 0, p.width, p.height, out, stride, scratch, simd);
}

bool YuvToBgrPart(const YuvPlanes& p, const YuvMatrix& m, int left, int top, int width, int height, uint8_t* out,
                  int64_t stride, std::vector<int16_t>* scratch, bool simd) {
    if (p.width <= 0 || p.height <= 0 || p.chromaShiftX < 0 || p.chromaShiftX > 1 || p.chromaShiftY < 0 ||
        p.chromaShiftY > 1 || p.depth < 8 || p.depth > 12 || p.depth != m.depth)
        return false;
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || width > p.width - left || height > p.height - top)
        return false;
    const size_t row = size_t(p.width) + 8;
    try {
        scratch->resize(4 * row);
    } catch (...) {
        return false;
    }
    int16_t* u = scratch->data();
    int16_t* v = u + row;
    int16_t* verticalU = v + row;
    int16_t* verticalV = verticalU + row;
    if (p.depth == 8)
        PartToBgr<uint8_t>(p, m, left, top, width, height, out, stride, u, v, verticalU, verticalV, simd);
    else
        PartToBgr<uint16_t>(p, m, left, top, width, height, out, stride, u, v, verticalU, verticalV, simd);
    return true;
}
