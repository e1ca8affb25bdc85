// Upright pictures: the display matrix of a stream (phones record sideways and tag the rotation)
// as one of the eight quarter-turn rotations and mirrorings, applied to every picture delivered.
#pragma once

#include <cstdint>

#include "video/MediaConverter.h"

struct Orientation {
    // Upright pixel (x, y) comes from stored pixel (sx, sy): with u = flipX ? w - 1 - x : x and
    // v = flipY ? h - 1 - y : y (w, h the upright size), (sx, sy) = swap ? (v, u) : (u, v).
    bool swap = false;
    bool flipX = false;
    bool flipY = false;

    bool Identity() const { return !swap && !flipX && !flipY; }
    bool operator==(const Orientation&) const = default;
    // Degrees clockwise the stored picture is turned to be upright (0, 90, 180 or 270), and whether it
    // is mirrored as well.
    int Rotation() const;
    bool Mirrored() const;
};

// From a display matrix (nine 32-bit fields as FFmpeg and ISO BMFF store them); identity for null or
// for a matrix that is no quarter turn.
Orientation OrientationFromMatrix(const int32_t* matrix);
// Rotation clockwise by degrees (a multiple of 90), then mirrored left to right when asked.
Orientation OrientationOf(int degreesClockwise, bool mirrored);

// The upright size of a stored width x height.
void UprightSize(const Orientation& o, int32_t width, int32_t height, int32_t* uprightWidth, int32_t* uprightHeight);
// The stored shape that holds an upright shape's pixels.
PictureShape StoredShape(const Orientation& o, const PictureShape& upright);

// Turns top-down rows of a stored picture (width x height, bytesPerPixel 1 to 4) upright into dst
// (its top row at dst, rows dstStride bytes apart; negative for bottom-up).
void OrientPixels(const Orientation& o, const uint8_t* src, int64_t srcStride, int32_t width, int32_t height,
                  int bytesPerPixel, uint8_t* dst, int64_t dstStride);
