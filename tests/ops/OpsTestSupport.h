// Helpers of the scoring, export and crop tests: reference tools (ffprobe, cjpeg) run as processes,
// videos made from pictures of the test's own, and frames read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"
#include "video/VideoFrameReader.h"

namespace opstest {

// Scratch files, file reads and writes, commands and ffmpeg's decoding come from the shared support.
using namespace testsupport;

// A video made by ffmpeg from top-down BGR pictures of width x height, "-c:v rawvideo -pix_fmt bgr24"
// AVI unless outputArgs/extension say otherwise. Empty path on failure.
std::string MakeVideo(const std::string& name, int width, int height, const std::vector<Bytes>& pictures,
                      const std::string& outputArgs = "-c:v rawvideo -pix_fmt bgr24",
                      const std::string& extension = "avi", const std::string& rate = "25");

// A few fields of the first video stream, as ffprobe reports them ("" when missing).
struct ProbeInfo {
    int width = 0;
    int height = 0;
    std::string rate;        // r_frame_rate, e.g. "25/1"
    int decodedFrames = -1;  // frames counted by decoding (-count_frames)
    bool ok = false;
};
ProbeInfo Probe(const std::string& path);

// The picture of a bottom-up 24-bit frame block as top-down BGR rows of 3 * width bytes.
Bytes PictureOf(const uint8_t* block, int width, int height);
// The box [left, right) x [top, bottom) of a top-down BGR picture.
Bytes BoxOf(const Bytes& picture, int width, int left, int top, int right, int bottom);

// Size of "cjpeg -quality q -baseline <extraArgs>" of the picture (top-down BGR); -1 when cjpeg fails.
long CjpegSize(const Bytes& picture, int width, int height, int quality, const std::string& extraArgs = "");

}  // namespace opstest
