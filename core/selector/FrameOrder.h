// The frame order: one text key "%010d %d" (score, frame number) per list position. Orders are sorted
// and compared as byte strings, so the zero padding makes non-negative scores sort numerically, equal
// scores fall back to the text of the frame number (10 before 9) and negative keys come first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "%010d %d" of score and frame: 987, 37 gives "0000000987 37"; -120, 5 gives "-000000120 5".
std::string MakeFrameOrderKey(int32_t score, int32_t frame);

// Reads a key back with the rules of sscanf's "%d %d": leading white space skipped, an optional sign,
// decimal digits, white space, the second number. Returns how many numbers were read (0, 1 or 2), or -1
// when the text is null or holds nothing but white space. Values beyond 32 bits saturate. Safe on any
// zero-terminated text.
int ParseFrameOrderKey(const char* key, int32_t* score, int32_t* frame);

// Sorts ascending by std::strcmp of the keys (byte-wise).
void SortFrameOrder(std::vector<std::string>& order);

// Original order: the keys (i, i) for i = 0 up to and including frameEnd; none for a negative bound (a
// video without frames). False, with order left empty or partly filled, when the keys would need more
// than half of the machine's memory or memory ran out.
bool FillOriginalOrder(std::vector<std::string>& order, int32_t frameEnd);
