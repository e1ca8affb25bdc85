// What each fuzz target does with one input. The libFuzzer targets and the regression test of the
// normal suite call the same functions, so an input kept from a fuzzing run is replayed exactly.
// Each returns null when everything held, else a short text naming the broken expectation.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens the bytes as an AVI file from memory and again as a file, and reads every frame (within a
// budget) from both: the two readers must agree byte for byte, and every block must be well formed.
const char* FuzzAviReader(const uint8_t* data, size_t size);

// The bytes are an INI file's content; NUL bytes, when present, split off a section, key and value
// (content\0section\0key\0value). Reads, writes and reads back.
const char* FuzzIniFile(const uint8_t* data, size_t size);

// Decodes the bytes as JPEG into an image, and on success encodes the picture and decodes it again.
const char* FuzzJpegDecode(const uint8_t* data, size_t size);

// Parses the bytes (up to the first NUL) as a frame order key, beside sscanf's "%d %d"; also sorts the
// lines of the text as an order and builds a short original order.
const char* FuzzFrameOrder(const uint8_t* data, size_t size);
