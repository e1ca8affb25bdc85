// The sharpness score of a frame: the variance of the 3x3 Laplacian (0 1 0 / 1 -4 1 / 0 1 0) of its
// luma over the pixels that have all four neighbours (the border is left out). Sharp edges give large
// responses, blur flattens them: unlike the JPEG size, texture that is out of focus scores low.
#pragma once

#include <cstdint>

#include "video/FrameLuma.h"

// The variance in 8-bit luma steps, from the decoder's Y plane (deeper samples count 2^(depth - 8)
// to a step). 0 for planes narrower or lower than 3. The rows go through AVX2 or SSE2 code where the
// processor has it; simd = false: the plain code, the reference the vector code agrees with exactly
// (the sums are integers either way).
double LaplacianVariance(const LumaPlane& plane, bool simd = true);

// The variance of the BT.601 luma 0.299 R + 0.587 G + 0.114 B of width x height 24-bit B, G, R rows
// bytesPerLine apart (top-down or bottom-up: the kernel is symmetric). Computed exactly: the luma is
// held at 1000 times its value in integers.
double LaplacianVarianceBgr(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine);

// The local score: the highest of these variances over a grid of square windows, each 200/720 of the
// picture's height on a side (200 x 200 pixels of a picture scaled to 720 rows; the grid stretched to
// fill the picture). A sharp subject on a blurred background scores as sharp as its own window, where
// the variance of the whole picture would average it away with the background.
double LocalLaplacianVariance(const LumaPlane& plane, bool simd = true);
double LocalLaplacianVarianceBgr(const uint8_t* rows, int32_t width, int32_t height, int64_t bytesPerLine);
