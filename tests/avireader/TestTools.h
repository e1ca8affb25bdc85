// Helpers shared by the AVI reader tests: whether the ffmpeg command line is there to referee, and a
// check of a frame block against reference rows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AviTestBuilder.h"
#include "tests/support/TestVideos.h"

using namespace testsupport;

bool HaveFfmpeg();

// A frame block is a 40-byte 24-bit bottom-up header, rows of DibStride24(width) bytes with zero
// filler, and the picture of topDownRows (width × 3 bytes per row, top row first).
::testing::AssertionResult BlockMatches(const uint8_t* block, int32_t blockSize, int width, int height,
                                        const Bytes& topDownRows);
