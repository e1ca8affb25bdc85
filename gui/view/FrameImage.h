// Bottom-up BGR rows as the view draws them: a top-down RGB32 image, converted with the widest
// instructions the processor has.
#pragma once

#include <QImage>
#include <cstdint>

// Rows firstRow up to endRow (exclusive; -1: to the bottom) of image, counted from the top, from the
// bottom-up BGR rows at pixels (bytesPerLine apart). image is width x height, Format_RGB32.
void BgrRowsToImage(const uint8_t* pixels, int width, int height, int64_t bytesPerLine, QImage& image, int firstRow = 0,
                    int endRow = -1);
