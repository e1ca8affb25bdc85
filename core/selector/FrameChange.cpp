#include "selector/FrameChange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kSamplesPerCell = 16;

// The sampled positions of a cell's span [begin, end): at most kSamplesPerCell, evenly spread.
template <typename Visit>
void SampleSpan(int32_t begin, int32_t end, Visit visit) {
    const int32_t length = std::max(end - begin, 1);
    const int32_t samples = std::min(length, kSamplesPerCell);
    for (int32_t i = 0; i < samples; ++i) visit(begin + int32_t(int64_t(i) * length / samples));
}

// The bounds of cell k of count over size pixels; a cell never empty (small pictures repeat pixels).
void CellBounds(int32_t k, int32_t count, int32_t size, int32_t* begin, int32_t* end) {
    *begin = int32_t(int64_t(k) * size / count);
    *end = std::max(int32_t(int64_t(k + 1) * size / count), *begin + 1);
    *begin = std::min(*begin, size - 1);
    *end = std::min(*end, size);
}

// sample(x, y) gives a pixel's luma in 8-bit steps times scale.
template <typename Sample>
Thumbnail Build(int32_t width, int32_t height, int64_t scale, Sample sample) {
    Thumbnail thumb{};
    if (width <= 0 || height <= 0) return thumb;
    for (int32_t cy = 0; cy < kThumbnailHeight; ++cy) {
        int32_t y0 = 0, y1 = 0;
        CellBounds(cy, kThumbnailHeight, height, &y0, &y1);
        for (int32_t cx = 0; cx < kThumbnailWidth; ++cx) {
            int32_t x0 = 0, x1 = 0;
            CellBounds(cx, kThumbnailWidth, width, &x0, &x1);
            int64_t sum = 0, count = 0;
            SampleSpan(y0, y1, [&](int32_t y) {
                SampleSpan(x0, x1, [&](int32_t x) {
                    sum += sample(x, y);
                    ++count;
                });
            });
            const int64_t mean = (sum + count * scale / 2) / (count * scale);
            thumb[size_t(cy * kThumbnailWidth + cx)] = uint8_t(std::clamp<int64_t>(mean, 0, 255));
        }
    }
    return thumb;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

Thumbnail LumaThumbnail(const LumaPlane& plane) {
    if (!plane.data) return Thumbnail{};
    if (plane.depth > 8) {
        const int64_t scale = int64_t(1) << std::min(plane.depth - 8, 8);
        return Build(plane.width, plane.height, scale, [&](int32_t x, int32_t y) {
            return int64_t(reinterpret_cast<const uint16_t*>(plane.data + int64_t(y) * plane.stride)[x]);
        });
    }
    return Build(plane.width, plane.height, 1,
                 [&](int32_t x, int32_t y) { return int64_t(plane.data[int64_t(y) * plane.stride + x]); });
}

Thumbnail BgrThumbnail(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine, bool bottomUp) {
    if (!rows) return Thumbnail{};
    return Build(width, height, 1000, [&](int32_t x, int32_t y) {
        const uint8_t* p = rows + int64_t(bottomUp ? height - 1 - y : y) * bytesPerLine + 3 * int64_t(x);
        return int64_t(114 * p[0] + 587 * p[1] + 299 * p[2]);
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
