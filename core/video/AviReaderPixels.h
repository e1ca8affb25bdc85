// Conversion of uncompressed AVI frame data (BI_RGB at 8, 16, 24 or 32 bits, rows bottom-up or
// top-down) into the rows of a 24-bit bottom-up frame block.
#pragma once

#include <cstdint>

struct AviPixelLayout {
    int32_t width = 0;
    int32_t height = 0;    // positive
    bool topDown = false;  // the format stored a negative height: first row in the data is the top
    uint16_t bitCount = 0;
    uint64_t srcStride = 0;  // bytes per source row, rounded up to 4 as in every DIB
    uint64_t srcBytes = 0;   // bytes a frame's data must hold
};

// True for the uncompressed layouts ConvertAviRows understands.
bool AviFormatDecodable(uint32_t compression, uint16_t bitCount);

// Row layout of a frame with the format's width, stored height (negative = top-down) and depth.
AviPixelLayout MakeAviPixelLayout(int32_t width, int32_t storedHeight, uint16_t bitCount);

// Converts rowCount source rows, which start at srcRows and are rows firstRow... of the frame data in
// storage order, into their places among the rows of dst (DibStride24(width) bytes each, bottom row
// first, filler bytes zero). palette (RGBQUAD order) is used for 8-bit data only.
void ConvertAviRows(const uint8_t* srcRows, int32_t firstRow, int32_t rowCount, const AviPixelLayout& layout,
                    const uint8_t (*palette)[4], uint8_t* dst);
