// Helpers shared by the AVI reader tests: a scratch directory, the ffmpeg command line as referee,
// and a check of a frame block against reference rows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "AviTestBuilder.h"

// A directory for this test program's files, removed when the program ends.
const std::string& ScratchDir();
std::string ScratchPath(const std::string& name);

bool HaveFfmpeg();
// Runs a shell command with its output discarded; true on exit status 0.
bool RunQuiet(const std::string& command);
std::string Quote(const std::string& s);

// Every frame of path as ffmpeg decodes it: top-down bgr24 rows without filler, one entry per frame.
std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height);

// A frame block is a 40-byte 24-bit bottom-up header, rows of DibStride24(width) bytes with zero
// filler, and the picture of topDownRows (width × 3 bytes per row, top row first).
::testing::AssertionResult BlockMatches(const uint8_t* block, int32_t blockSize, int width, int height,
                                        const Bytes& topDownRows);
