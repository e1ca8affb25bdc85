// The luma of a frame as the reader hands it out for scoring: the decoder's own Y plane where there
// is one, so that no colour conversion is needed.
#pragma once

#include <cstdint>

// Top-down rows of luma samples: 8-bit samples in bytes, deeper ones (9 to 16 bits) in native-endian
// 16-bit words. Valid until the reader's next read or Close.
struct LumaPlane {
    const uint8_t* data = nullptr;  // the top-left sample
    int64_t stride = 0;             // bytes from one row to the next
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;  // bits per sample
};

enum class LumaRead {
    Plane,       // the plane was handed out
    NoPlane,     // the picture has no Y plane (RGB, palette, packed formats, the AVI back end): the
                 // caller takes the frame's pixels instead
    Unreadable,  // the frame cannot be read
};
