// Frames read through the program's video frame reader, on the back end a test chooses.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/dib.h"
#include "tests/support/TestFiles.h"
#include "video/VideoFrameReader.h"

namespace testsupport {

// Selects the back end of readers opened from now on.
inline void UseMediaDetector(bool media) { setenv("TESSARON_MEDIA_DETECTOR", media ? "1" : "0", 1); }

// Selects the back end and opens path; info points into the reader.
inline bool OpenReader(VideoFrameReader& reader, const std::string& path, bool media, FrameInfo** info) {
    UseMediaDetector(media);
    FrameInfo& opened = reader.Open(path.c_str());
    *info = &opened;
    return opened.succeeded;
}

// Frame n as a copy; empty when the reader gives none.
inline Bytes ReadBlock(VideoFrameReader& reader, FrameInfo& info, int32_t n) {
    Bytes b;
    uint8_t* p = reader.ReadFrame(info, n);
    if (p && info.frameBlockSize > 0) {
        b.resize(size_t(info.frameBlockSize));
        std::memcpy(b.data(), p, b.size());
    }
    std::free(p);
    return b;
}

inline BITMAPINFOHEADER HeaderOf(const Bytes& b) {
    BITMAPINFOHEADER h{};
    if (b.size() >= sizeof h) std::memcpy(&h, b.data(), sizeof h);
    return h;
}

// Pixel row y of the picture (0 = top) of a bottom-up 24-bit block.
inline const uint8_t* PictureRow(const Bytes& b, int width, int height, int y) {
    return b.data() + kDibHeaderSize + (height - 1 - y) * DibStride24(width);
}

}  // namespace testsupport
