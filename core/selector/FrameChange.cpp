#include "selector/FrameChange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Rows a cell is averaged over: enough to be steady, few enough to cost little beside decoding. Each
// sampled row counts with all its pixels in the cell, summed in one pass along the row.
constexpr int32_t kRowsPerCell = 4;

// The bounds of cell k of count over size pixels; a cell never empty (small pictures repeat pixels).
void CellBounds(int32_t k, int32_t count, int32_t size, int32_t* begin, int32_t* end) {
    *begin = int32_t(int64_t(k) * size / count);
    *end = std::max(int32_t(int64_t(k + 1) * size / count), *begin + 1);
    *begin = std::min(*begin, size - 1);
    *end = std::min(*end, size);
}

// addRow(y, x0, x1) gives the sum over pixels [x0, x1) of row y of the luma in 8-bit steps times scale.
template <typename AddRow>
Thumbnail Build(int32_t width, int32_t height, int64_t scale, AddRow addRow) {
    Thumbnail thumb{};
    if (width <= 0 || height <= 0) return thumb;
    int32_t columns[kThumbnailWidth + 1][2];
    for (int32_t cx = 0; cx < kThumbnailWidth; ++cx)
        CellBounds(cx, kThumbnailWidth, width, &columns[cx][0], &columns[cx][1]);
    for (int32_t cy = 0; cy < kThumbnailHeight; ++cy) {
        int32_t y0 = 0, y1 = 0;
        CellBounds(cy, kThumbnailHeight, height, &y0, &y1);
        const int32_t rows = std::min(y1 - y0, kRowsPerCell);
        int64_t sums[kThumbnailWidth] = {};
        for (int32_t i = 0; i < rows; ++i) {
            const int32_t y = y0 + int32_t(int64_t(i) * (y1 - y0) / rows);
            for (int32_t cx = 0; cx < kThumbnailWidth; ++cx) sums[cx] += addRow(y, columns[cx][0], columns[cx][1]);
        }
        for (int32_t cx = 0; cx < kThumbnailWidth; ++cx) {
            const int64_t count = int64_t(rows) * (columns[cx][1] - columns[cx][0]) * scale;
            const int64_t mean = (sums[cx] + count / 2) / count;
            thumb[size_t(cy * kThumbnailWidth + cx)] = uint8_t(std::clamp<int64_t>(mean, 0, 255));
        }
    }
    return thumb;
}

template <typename Sample>
int64_t SumSamples(const Sample* p, int32_t n) {
    uint32_t sum = 0;  // a cell's row: at most a few thousand samples of 16 bits
    for (int32_t x = 0; x < n; ++x) sum += p[x];
    return sum;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

Thumbnail LumaThumbnail(const LumaPlane& plane) {
    if (!plane.data) return Thumbnail{};
    if (plane.depth > 8) {
        const int64_t scale = int64_t(1) << std::min(plane.depth - 8, 8);
        return Build(plane.width, plane.height, scale, [&](int32_t y, int32_t x0, int32_t x1) {
            return SumSamples(reinterpret_cast<const uint16_t*>(plane.data + int64_t(y) * plane.stride) + x0, x1 - x0);
        });
    }
    return Build(plane.width, plane.height, 1, [&](int32_t y, int32_t x0, int32_t x1) {
        return SumSamples(plane.data + int64_t(y) * plane.stride + x0, x1 - x0);
    });
}

Thumbnail BgrThumbnail(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine, bool bottomUp) {
    if (!rows) return Thumbnail{};
    // The luma is linear: the sums of B, G and R give the sum of the luma.
    return Build(width, height, 1000, [&](int32_t y, int32_t x0, int32_t x1) {
        const uint8_t* p = rows + int64_t(bottomUp ? height - 1 - y : y) * bytesPerLine + 3 * int64_t(x0);
        uint32_t b = 0, g = 0, r = 0;
        for (int32_t x = x0; x < x1; ++x, p += 3) {
            b += p[0];
            g += p[1];
            r += p[2];
        }
        return 114 * int64_t(b) + 587 * int64_t(g) + 299 * int64_t(r);
    });
}

double ThumbnailChange(const Thumbnail& a, const Thumbnail& b) {
    int64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int32_t(a[i]) - int32_t(b[i]));
    return double(sum) / double(a.size());
}

std::string ThumbnailText(const Thumbnail& thumbnail) {
    std::string text;
    text.reserve(thumbnail.size() / 3 * 4);
    for (size_t i = 0; i + 2 < thumbnail.size(); i += 3) {
        const uint32_t v = uint32_t(thumbnail[i]) << 16 | uint32_t(thumbnail[i + 1]) << 8 | thumbnail[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) text += kBase64[(v >> shift) & 63];
    }
    return text;
}

bool ParseThumbnailText(const std::string& text, Thumbnail* thumbnail) {
    static_assert(std::tuple_size<Thumbnail>::value % 3 == 0, "whole base64 groups");
    if (text.size() != thumbnail->size() / 3 * 4) return false;
    for (size_t i = 0, out = 0; i < text.size(); i += 4, out += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) {
            const char* at = std::strchr(kBase64, text[i + k]);
            if (!at || !*at) return false;
            v = v << 6 | uint32_t(at - kBase64);
        }
        (*thumbnail)[out] = uint8_t(v >> 16);
        (*thumbnail)[out + 1] = uint8_t(v >> 8);
        (*thumbnail)[out + 2] = uint8_t(v);
    }
    return true;
}
