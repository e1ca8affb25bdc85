// What each fuzz target does with one input. The libFuzzer targets and the regression test of the
// normal suite call the same functions, so an input kept from a fuzzing run is replayed exactly.
// Each returns null when everything held, else a short text naming the broken expectation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What an entry made of its input, for the regression cases to assert: whether the code under test
// took it (an AVI or a video opened, a JPEG decoded, a setting or both numbers of a key read), the
// message of a refusal (for the INI file, the value read), and how many frames, pixels or numbers
// came out.
struct FuzzOutcome {
    bool accepted = false;
    std::string message;
    int64_t count = 0;
};

// Opens the bytes as an AVI file from memory and again as a file, and reads every frame (within a
// budget) from both: the two readers must agree byte for byte, and every block must be well formed.
const char* FuzzAviReader(const uint8_t* data, size_t size, FuzzOutcome* outcome = nullptr);

// The bytes are an INI file's content; NUL bytes, when present, split off a section, key and value
// (content\0section\0key\0value). Reads, writes and reads back.
const char* FuzzIniFile(const uint8_t* data, size_t size, FuzzOutcome* outcome = nullptr);

// Decodes the bytes as JPEG into an image, and on success encodes the picture and decodes it again.
const char* FuzzJpegDecode(const uint8_t* data, size_t size, FuzzOutcome* outcome = nullptr);

// Parses the bytes (up to the first NUL) as a frame order key, beside sscanf's "%d %d"; also sorts the
// lines of the text as an order and builds a short original order.
const char* FuzzFrameOrder(const uint8_t* data, size_t size, FuzzOutcome* outcome = nullptr);

// Opens the bytes as a video held in memory through the media detector (libavformat over a custom
// I/O context, the picture index, the decoder and the converter), reads a few frames in an order the
// bytes choose, whole, as a box, as luma and ahead of time, and scores one. Every block must be well
// formed, a frame read twice the same, and a refusal must say why.
const char* FuzzMedia(const uint8_t* data, size_t size, FuzzOutcome* outcome = nullptr);
