// Frame index <-> stream time arithmetic of the reader's media detector back end.
#pragma once

#include <cstdint>

// Frames offered for a stream of streamLength seconds: the nearest whole number of frame periods,
// halves up; 0 for a stream shorter than one period or without a rate. Clamped to what an int32 holds.
int32_t MediaFrameCount(double streamLength, double framesPerSecond, double framePeriod);

// Stream time at which frame frameIndex is asked for: one hundredth of a period past its start,
// frame 0's time for a negative index. False when the frame starts after the end of the stream.
bool MediaRequestTime(int32_t frameIndex, double framePeriod, double streamLength, double* requestTime);
