#include "video/MediaOrientation.h"

#include <cstring>

int Orientation::Rotation() const {
    // Undo the mirroring (left to right in the upright picture) first, then name the turn.
    Orientation turn = *this;
    if (Mirrored()) turn.flipX = !turn.flipX;
    if (!turn.swap) return turn.flipX ? 180 : 0;
    return turn.flipX ? 90 : 270;
}

bool Orientation::Mirrored() const {
    // Quarter turns keep the two flips equal without a swap and different with one.
    return swap ? flipX == flipY : flipX != flipY;
}

Orientation OrientationOf(int degreesClockwise, bool mirrored) {
    Orientation o;
    switch (((degreesClockwise % 360) + 360) % 360) {
    case 90: o = {true, true, false}; break;
    case 180: o = {false, true, true}; break;
    case 270: o = {true, false, true}; break;
    default: break;
    }
    if (mirrored) o.flipX = !o.flipX;
    return o;
}

Orientation OrientationFromMatrix(const int32_t* m) {
    if (!m) return {};
    // The 2 x 2 part maps stored (p, q) to shown (a p + c q, b p + d q); only its signs matter here.
    const auto sign = [](int32_t v) { return v > 0 ? 1 : v < 0 ? -1 : 0; };
    const int a = sign(m[0]), b = sign(m[1]), c = sign(m[3]), d = sign(m[4]);
    Orientation o;
    if (a != 0 && d != 0 && b == 0 && c == 0) {
        o.flipX = a < 0;
        o.flipY = d < 0;
    } else if (a == 0 && d == 0 && b != 0 && c != 0) {
        o.swap = true;
        o.flipY = b < 0;
        o.flipX = c < 0;
    }
    return o;
}

void UprightSize(const Orientation& o, int32_t width, int32_t height, int32_t* uprightWidth, int32_t* uprightHeight) {
    *uprightWidth = o.swap ? height : width;
    *uprightHeight = o.swap ? width : height;
}

PictureShape StoredShape(const Orientation& o, const PictureShape& upright) {
    const int32_t w = upright.frameWidth, h = upright.frameHeight;
    const PictureBox& b = upright.box;
    // The box's corners, mirrored as the rows and columns are.
    const int32_t left = o.flipX ? w - b.left - b.width : b.left;
    const int32_t top = o.flipY ? h - b.top - b.height : b.top;
    if (!o.swap) return PictureShape{w, h, PictureBox{left, top, b.width, b.height}};
    return PictureShape{h, w, PictureBox{top, left, b.height, b.width}};
}

void OrientPixels(const Orientation& o, const uint8_t* src, int64_t srcStride, int32_t width, int32_t height,
                  int bytesPerPixel, uint8_t* dst, int64_t dstStride) {
    int32_t uw = 0, uh = 0;
    UprightSize(o, width, height, &uw, &uh);
    const int64_t bpp = bytesPerPixel;
    for (int32_t y = 0; y < uh; ++y) {
        uint8_t* out = dst + int64_t(y) * dstStride;
        const int32_t v = o.flipY ? uh - 1 - y : y;
        if (!o.swap) {
            const uint8_t* row = src + int64_t(v) * srcStride;
            if (!o.flipX) {
                std::memcpy(out, row, size_t(uw * bpp));
                continue;
            }
            for (int32_t x = 0; x < uw; ++x) std::memcpy(out + x * bpp, row + int64_t(uw - 1 - x) * bpp, size_t(bpp));
            continue;
        }
        // A stored column becomes the row: sx = v, sy = u.
        const uint8_t* column = src + int64_t(v) * bpp;
        for (int32_t x = 0; x < uw; ++x) {
            const int32_t u = o.flipX ? uw - 1 - x : x;
            std::memcpy(out + x * bpp, column + int64_t(u) * srcStride, size_t(bpp));
        }
    }
}
