// How much a picture differs from another: the mean absolute difference of two small luma thumbnails
// (32 x 18 cells, each the mean of its part of the picture, 0-255). Averaging whole cells drowns
// sensor noise and compression artefacts, so a camera standing still measures near 0, a pan or a
// person walking through the picture measures several steps.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "video/FrameLuma.h"

constexpr int32_t kThumbnailWidth = 32;
constexpr int32_t kThumbnailHeight = 18;

using Thumbnail = std::array<uint8_t, size_t(kThumbnailWidth* kThumbnailHeight)>;

// The thumbnail of a luma plane (deeper samples scaled to 8 bits). Each cell averages up to four of its
// rows, evenly spread, each with all its pixels in the cell: steady, and cheap beside decoding. Planes
// smaller than the thumbnail give cells that repeat pixels.
Thumbnail LumaThumbnail(const LumaPlane& plane);
// The same from width x height 24-bit B, G, R rows bytesPerLine apart, top-down or bottom-up as the
// caller says, with the BT.601 luma.
Thumbnail BgrThumbnail(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine, bool bottomUp);

// The mean absolute difference of the cells, 0 to 255.
double ThumbnailChange(const Thumbnail& a, const Thumbnail& b);

// The thumbnail as base64 text (768 characters) for saved scores, and back; false for anything that
// is not exactly such a text.
std::string ThumbnailText(const Thumbnail& thumbnail);
bool ParseThumbnailText(const std::string& text, Thumbnail* thumbnail);
