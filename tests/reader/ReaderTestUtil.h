// Small helpers shared by the reader tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/dib.h"
#include "video/VideoFrameReader.h"

namespace readertest {

using Block = std::vector<uint8_t>;

// Selects the back end of readers opened from now on.
inline void UseMediaDetector(bool media)
{
    setenv("TESSARON_MEDIA_DETECTOR", media ? "1" : "0", 1);
}

// Frame n as a copy; empty when the reader gives none.
inline Block ReadBlock(VideoFrameReader& reader, FrameInfo& info, int32_t n)
{
    Block b;
    uint8_t* p = reader.ReadFrame(info, n);
    if (p && info.frameBlockSize > 0) {
        b.resize(size_t(info.frameBlockSize));
        std::memcpy(b.data(), p, b.size());
    }
    std::free(p);
    return b;
}

inline BITMAPINFOHEADER HeaderOf(const Block& b)
{
    BITMAPINFOHEADER h{};
    if (b.size() >= sizeof h) std::memcpy(&h, b.data(), sizeof h);
    return h;
}

// Pixel row y of the picture (0 = top) of a bottom-up 24-bit block.
inline const uint8_t* PictureRow(const Block& b, int width, int height, int y)
{
    return b.data() + kDibHeaderSize + (height - 1 - y) * DibStride24(width);
}

}  // namespace readertest
