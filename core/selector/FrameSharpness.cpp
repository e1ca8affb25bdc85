#include "selector/FrameSharpness.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TESSARON_HAVE_AVX2_PATH 1
#endif

namespace {

// Sums of the Laplacian and of its square over the interior, exactly.
struct LaplacianSums {
    __int128 sum = 0;
    __int128 squares = 0;
    int64_t count = 0;

    double Variance(double unit) const {
        if (count == 0) return 0;
        const __int128 n = count;
        // n^2 times the variance, exact; the luma unit divides out at the end.
        const __int128 spread = n * squares - sum * sum;
        return double(spread) / (double(n) * double(n)) / (unit * unit);
    }
};

// Pixels [from, to) of the interior row mid, between the rows up and down.
template <typename Sample>
void RowPlain(const Sample* up, const Sample* mid, const Sample* down, int32_t from, int32_t to, int64_t* sum,
              int64_t* squares) {
    int64_t s = 0, q = 0;
    for (int32_t x = from; x < to; ++x) {
        const int64_t l = int64_t(up[x]) + down[x] + mid[x - 1] + mid[x + 1] - 4 * int64_t(mid[x]);
        s += l;
        q += l * l;
    }
    *sum += s;
    *squares += q;
}

#if defined(__SSE2__)
inline __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i Load8(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline int64_t Lanes64(__m128i v) {
    alignas(16) int64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[0] + lanes[1];
}
inline int64_t Lanes32(__m128i v) {
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return int64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

// Eight pixels at a time in 16-bit lanes (the Laplacian of 12-bit samples still fits); returns where
// the plain code takes over. Squares are summed in pairs by madd and widened to 64 bits before they
// could overflow: 8-bit squares every 512 steps, deeper ones every step.
template <typename Sample>
int32_t RowSse2(const Sample* up, const Sample* mid, const Sample* down, int32_t from, int32_t to, int64_t* sum,
                int64_t* squares) {
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    __m128i sum32 = zero, squares64 = zero;
    int32_t x = from;
    while (x + 8 <= to) {
        __m128i squares32 = zero;
        const int32_t steps = sizeof(Sample) == 1 ? 512 : 1;
        for (int32_t step = 0; step < steps && x + 8 <= to; ++step, x += 8) {
            const __m128i c = Load8(mid + x);
            const __m128i around = _mm_add_epi16(_mm_add_epi16(Load8(up + x), Load8(down + x)),
                                                 _mm_add_epi16(Load8(mid + x - 1), Load8(mid + x + 1)));
            const __m128i l = _mm_sub_epi16(around, _mm_slli_epi16(c, 2));
            sum32 = _mm_add_epi32(sum32, _mm_madd_epi16(l, ones));
            squares32 = _mm_add_epi32(squares32, _mm_madd_epi16(l, l));
        }
        squares64 = _mm_add_epi64(squares64, _mm_unpacklo_epi32(squares32, zero));
        squares64 = _mm_add_epi64(squares64, _mm_unpackhi_epi32(squares32, zero));
    }
    *sum += Lanes32(sum32);
    *squares += Lanes64(squares64);
    return x;
}
#endif

#if defined(TESSARON_HAVE_AVX2_PATH)
__attribute__((target("avx2"))) inline __m256i Load16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
__attribute__((target("avx2"))) inline __m256i Load16(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same arithmetic as RowSse2 on sixteen pixels at a time, on processors that have AVX2 (the
// unpacks work within 128-bit lanes, which does not matter for sums).
template <typename Sample>
__attribute__((target("avx2"))) int32_t RowAvx2(const Sample* up, const Sample* mid, const Sample* down, int32_t from,
                                                int32_t to, int64_t* sum, int64_t* squares) {
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i sum32 = zero, squares64 = zero;
    int32_t x = from;
    while (x + 16 <= to) {
        __m256i squares32 = zero;
        const int32_t steps = sizeof(Sample) == 1 ? 512 : 1;
        for (int32_t step = 0; step < steps && x + 16 <= to; ++step, x += 16) {
            const __m256i c = Load16(mid + x);
            const __m256i around = _mm256_add_epi16(_mm256_add_epi16(Load16(up + x), Load16(down + x)),
                                                    _mm256_add_epi16(Load16(mid + x - 1), Load16(mid + x + 1)));
            const __m256i l = _mm256_sub_epi16(around, _mm256_slli_epi16(c, 2));
            sum32 = _mm256_add_epi32(sum32, _mm256_madd_epi16(l, ones));
            squares32 = _mm256_add_epi32(squares32, _mm256_madd_epi16(l, l));
        }
        squares64 = _mm256_add_epi64(squares64, _mm256_unpacklo_epi32(squares32, zero));
        squares64 = _mm256_add_epi64(squares64, _mm256_unpackhi_epi32(squares32, zero));
    }
    alignas(32) int32_t sums[8];
    alignas(32) int64_t squareSums[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums), sum32);
    _mm256_store_si256(reinterpret_cast<__m256i*>(squareSums), squares64);
    for (int32_t v : sums) *sum += v;
    for (int64_t v : squareSums) *squares += v;
    return x;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

template <typename Sample>
LaplacianSums PlaneSums(const LumaPlane& plane, bool simd) {
    LaplacianSums sums;
    const int32_t w = plane.width, h = plane.height;
    for (int32_t y = 1; y + 1 < h; ++y) {
        const auto* mid = reinterpret_cast<const Sample*>(plane.data + int64_t(y) * plane.stride);
        const auto* up = reinterpret_cast<const Sample*>(plane.data + int64_t(y - 1) * plane.stride);
        const auto* down = reinterpret_cast<const Sample*>(plane.data + int64_t(y + 1) * plane.stride);
        int64_t sum = 0, squares = 0;
        int32_t x = 1;
#if defined(TESSARON_HAVE_AVX2_PATH)
        if (simd && plane.depth <= 12 && HaveAvx2()) x = RowAvx2(up, mid, down, x, w - 1, &sum, &squares);
#endif
#if defined(__SSE2__)
        if (simd && plane.depth <= 12) x = RowSse2(up, mid, down, x, w - 1, &sum, &squares);
#else
        (void)simd;
#endif
        RowPlain(up, mid, down, x, w - 1, &sum, &squares);
        sums.sum += sum;
        sums.squares += squares;
    }
    sums.count = int64_t(w - 2) * (h - 2);
    return sums;
}

}  // namespace

double LaplacianVariance(const LumaPlane& plane, bool simd) {
    if (!plane.data || plane.width < 3 || plane.height < 3 || plane.depth < 8 || plane.depth > 16) return 0;
    const LaplacianSums sums = plane.depth > 8 ? PlaneSums<uint16_t>(plane, simd) : PlaneSums<uint8_t>(plane, simd);
    return sums.Variance(double(1 << (plane.depth - 8)));
}

double LaplacianVarianceBgr(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine) {
    if (!rows || width < 3 || height < 3) return 0;
    // Three rows of luma at 1000 times its value, reused in turn.
    std::vector<int32_t> ring(size_t(width) * 3);
    const auto lumaRow = [&](int32_t y) {
        int32_t* out = ring.data() + size_t(y % 3) * size_t(width);
        const uint8_t* p = rows + int64_t(y) * bytesPerLine;
        for (int32_t x = 0; x < width; ++x, p += 3) out[x] = 114 * p[0] + 587 * p[1] + 299 * p[2];
        return out;
    };
    lumaRow(0);
    lumaRow(1);
    LaplacianSums sums;
    for (int32_t y = 1; y + 1 < height; ++y) {
        lumaRow(y + 1);
        const int32_t* up = ring.data() + size_t((y - 1) % 3) * size_t(width);
        const int32_t* mid = ring.data() + size_t(y % 3) * size_t(width);
        const int32_t* down = ring.data() + size_t((y + 1) % 3) * size_t(width);
        int64_t sum = 0, squares = 0;
        RowPlain(up, mid, down, 1, width - 1, &sum, &squares);
        sums.sum += sum;
        sums.squares += squares;
    }
    sums.count = int64_t(width - 2) * (height - 2);
    return sums.Variance(1000.0);
}
