#include "image/dib.h"

#include <cstring>

bool IsWholeFrameBlock(const uint8_t* block, int64_t length, int32_t* width, int32_t* height) {
    if (!block || length < kDibHeaderSize) return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, block, sizeof header);
    if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) return false;
    if (FrameBlockSize(header.biWidth, header.biHeight) != length) return false;
    if (width) *width = header.biWidth;
    if (height) *height = header.biHeight;
    return true;
}
