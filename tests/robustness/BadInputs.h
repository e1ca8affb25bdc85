// The inputs of the bad-input table: a tiny valid AVI written by our own writer, and copies of it
// damaged in one way each (cut short, index or header fields rewritten, one frame chunk shortened).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace robustness {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 32;
constexpr int kHeight = 24;
constexpr int kFrames = 10;
constexpr int kBrokenFrame = 4;     // the frame whose chunk is cut in half
constexpr int kFirstLostFrame = 6;  // index entries from this frame on point past the end

// A valid 32 x 24, 10-frame uncompressed AVI (AVI 1.0 with idx1) at 25 frames per second, each frame
// showing its own index. Empty on failure.
Bytes ValidAvi();

enum class Damage {
    None,
    Truncate10,  // the first 10 % of the bytes
    Truncate50,
    Truncate99,
    IndexPastEnd,  // idx1 entries of frames kFirstLostFrame.. point beyond the end of the file
    HugeFrame,     // headers claim 100000 x 100000 pixels
    LengthZero,    // stream length and total frames 0
    LengthMax,     // stream length and total frames 2^31 - 1
    BrokenFrame,   // frame kBrokenFrame holds half its bytes (the rest is a JUNK chunk)
};

// ValidAvi() with the damage applied; empty when a structure to change was not found.
Bytes DamagedAvi(Damage damage);

}  // namespace robustness
