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

// Pixels [from, to) of the interior row mid, by the fastest code the processor has.
template <typename Sample>
void RowSums(const Sample* up, const Sample* mid, const Sample* down, int32_t from, int32_t to, bool simd, int depth,
             int64_t* sum, int64_t* squares) {
    int32_t x = from;
    if constexpr (sizeof(Sample) <= 2) {
#if defined(TESSARON_HAVE_AVX2_PATH)
        if (simd && depth <= 12 && HaveAvx2()) x = RowAvx2(up, mid, down, x, to, sum, squares);
#endif
#if defined(__SSE2__)
        if (simd && depth <= 12) x = RowSse2(up, mid, down, x, to, sum, squares);
#endif
    }
    (void)simd;
    (void)depth;
    RowPlain(up, mid, down, x, to, sum, squares);
}

// A grid of columns x rows windows over a width x height picture: window (i, j) holds the pixels of
// columns [i width / columns, (i + 1) width / columns) and the rows likewise.
struct Grid {
    int32_t columns = 1, rows = 1;
};

// The sums of every window of the grid over the interior; rowsAt(y) gives the rows y - 1, y, y + 1.
template <typename Sample, typename RowsAt>
std::vector<LaplacianSums> GridSums(int32_t w, int32_t h, Grid grid, bool simd, int depth, RowsAt rowsAt) {
    std::vector<LaplacianSums> cells(size_t(grid.columns) * size_t(grid.rows));
    int32_t j = 0;
    for (int32_t y = 1; y + 1 < h; ++y) {
        while (j + 1 < grid.rows && y >= int32_t(int64_t(j + 1) * h / grid.rows)) ++j;
        const Sample *up = nullptr, *mid = nullptr, *down = nullptr;
        rowsAt(y, &up, &mid, &down);
        for (int32_t i = 0; i < grid.columns; ++i) {
            const int32_t from = std::max(int32_t(int64_t(i) * w / grid.columns), 1);
            const int32_t to = std::min(int32_t(int64_t(i + 1) * w / grid.columns), w - 1);
            if (from >= to) continue;
            int64_t sum = 0, squares = 0;
            RowSums(up, mid, down, from, to, simd, depth, &sum, &squares);
            LaplacianSums& cell = cells[size_t(j) * size_t(grid.columns) + size_t(i)];
            cell.sum += sum;
            cell.squares += squares;
            cell.count += to - from;
        }
    }
    return cells;
}

template <typename Sample>
std::vector<LaplacianSums> PlaneSums(const LumaPlane& plane, bool simd, Grid grid) {
    return GridSums<Sample>(plane.width, plane.height, grid, simd, plane.depth,
                            [&plane](int32_t y, const Sample** up, const Sample** mid, const Sample** down) {
                                *mid = reinterpret_cast<const Sample*>(plane.data + int64_t(y) * plane.stride);
                                *up = reinterpret_cast<const Sample*>(plane.data + int64_t(y - 1) * plane.stride);
                                *down = reinterpret_cast<const Sample*>(plane.data + int64_t(y + 1) * plane.stride);
                            });
}

// The windows of the local score: squares of 200/720 of the picture's height (200 x 200 pixels on a
// picture scaled to 720 rows), as many as fit across and down, stretched to fill the picture.
Grid LocalGrid(int32_t width, int32_t height) {
    const int32_t side = std::max(int32_t(int64_t(height) * 200 / 720), 16);
    return {std::max((width + side / 2) / side, 1), std::max((height + side / 2) / side, 1)};
}

// The highest variance among the windows; windows too small to mean anything are left out.
double HighestVariance(const std::vector<LaplacianSums>& cells, double unit) {
    double best = 0;
    for (const LaplacianSums& cell : cells)
        if (cell.count >= 16) best = std::max(best, cell.Variance(unit));
    return best;
}

// BGR rows as luma at 1000 times its value, three rows kept in turn.
class BgrLumaRows {
public:
    BgrLumaRows(const uint8_t* rows, int32_t width, int64_t bytesPerLine)
        : rows_(rows), width_(width), bytesPerLine_(bytesPerLine), ring_(size_t(width) * 3) {}

    // Rows y - 1, y, y + 1; called with y rising by one from 1.
    void At(int32_t y, const int32_t** up, const int32_t** mid, const int32_t** down) {
        if (y == 1) {
            Convert(0);
            Convert(1);
        }
        Convert(y + 1);
        *up = Row(y - 1);
        *mid = Row(y);
        *down = Row(y + 1);
    }

private:
    int32_t* Row(int32_t y) { return ring_.data() + size_t(y % 3) * size_t(width_); }
    void Convert(int32_t y) {
        int32_t* out = Row(y);
        const uint8_t* p = rows_ + int64_t(y) * bytesPerLine_;
        for (int32_t x = 0; x < width_; ++x, p += 3) out[x] = 114 * p[0] + 587 * p[1] + 299 * p[2];
    }
    const uint8_t* rows_;
    int32_t width_;
    int64_t bytesPerLine_;
    std::vector<int32_t> ring_;
};

std::vector<LaplacianSums> BgrSums(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine,
                                   Grid grid) {
    BgrLumaRows luma(rows, width, bytesPerLine);
    // The plain code only: the luma at 1000 times its value does not fit the vector code's lanes.
    return GridSums<int32_t>(width, height, grid, false, 16,
                             [&luma](int32_t y, const int32_t** up, const int32_t** mid, const int32_t** down) {
                                 luma.At(y, up, mid, down);
                             });
}

}  // namespace

double LaplacianVariance(const LumaPlane& plane, bool simd) {
    if (!plane.data || plane.width < 3 || plane.height < 3 || plane.depth < 8 || plane.depth > 16) return 0;
    const std::vector<LaplacianSums> sums = plane.depth > 8 ? PlaneSums<uint16_t>(plane, simd, Grid())
                                                            : PlaneSums<uint8_t>(plane, simd, Grid());
    return sums[0].Variance(double(1 << (plane.depth - 8)));
}

double LaplacianVarianceBgr(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine) {
    if (!rows || width < 3 || height < 3) return 0;
    return BgrSums(rows, width, height, bytesPerLine, Grid())[0].Variance(1000.0);
}

double LocalLaplacianVariance(const LumaPlane& plane, bool simd) {
    if (!plane.data || plane.width < 3 || plane.height < 3 || plane.depth < 8 || plane.depth > 16) return 0;
    const Grid grid = LocalGrid(plane.width, plane.height);
    const std::vector<LaplacianSums> sums = plane.depth > 8 ? PlaneSums<uint16_t>(plane, simd, grid)
                                                            : PlaneSums<uint8_t>(plane, simd, grid);
    return HighestVariance(sums, double(1 << (plane.depth - 8)));
}

double LocalLaplacianVarianceBgr(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine) {
    if (!rows || width < 3 || height < 3) return 0;
    return HighestVariance(BgrSums(rows, width, height, bytesPerLine, LocalGrid(width, height)), 1000.0);
}
