// The structure walk behind AviReader: headers of the first video stream and a compact frame index
// (offset + size per frame), taken from the OpenDML indices, else idx1, else a scan of the movi lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/RiffSource.h"

struct AviFrameRef {
    uint64_t offset = 0;  // first byte of the frame's data (after the chunk header)
    uint32_t size = 0;    // bytes of data; 0 only for a dropped frame with nothing before it to repeat
    uint32_t reserved = 0;
};

// A palette change chunk (##pc): takes effect from frame firstFrame on.
struct AviPaletteChange {
    uint64_t offset = 0;  // of the chunk's data
    uint32_t size = 0;
    uint32_t firstFrame = 0;
};

enum class AviIndexSource { None, OpenDml, Idx1, Idx1AndScan, Scan };

struct AviLayout {
    // Stream header (strh) of the first video stream.
    uint32_t streamNumber = 0;  // position among the file's streams; names its chunks ("00dc")
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;  // as declared; the index decides what can be read

    // Its format (strf: BITMAPINFOHEADER and colour table).
    int32_t width = 0;
    int32_t height = 0;  // as stored: negative for top-down rows
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t paletteEntries = 0;   // entries the format block actually holds
    uint8_t palette[256][4] = {};  // RGBQUAD order (blue, green, red, reserved); missing entries black

    uint32_t streamCount = 0;  // strl lists seen
    uint32_t avihTotalFrames = 0;
    uint32_t dmlhTotalFrames = 0;  // OpenDML total, informational

    AviIndexSource indexSource = AviIndexSource::None;
    std::vector<AviFrameRef> frames;
    std::vector<AviPaletteChange> paletteChanges;
};

// Parses src into *layout. False (with a reason in *error when given) when src is not an AVI file with a
// video stream whose frame size is usable. Never reads outside src, never allocates more than a small
// multiple of src's size, and throws only std::bad_alloc.
bool ParseAvi(const ByteSource& src, AviLayout* layout, std::string* error);
