// Helpers of the scoring, export and crop tests: scratch files, reference tools (ffmpeg, ffprobe,
// cjpeg) run as processes, videos made from pictures of the test's own, and frames read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/VideoFrameReader.h"

namespace opstest {

using Bytes = std::vector<uint8_t>;

// A fresh folder for this test process, removed at exit.
std::string ScratchDir();
std::string Scratch(const std::string& name);

Bytes ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
// 64-bit FNV-1a of a file's bytes (0 for a missing file); enough to see that a file did not change.
uint64_t FileHash(const std::string& path);

// Runs a shell command; its exit status and standard output.
struct CommandRun {
    int status = -1;
    std::string out;
};
CommandRun RunCapture(const std::string& command);

// A video made by ffmpeg from top-down BGR pictures of width x height, "-c:v rawvideo -pix_fmt bgr24"
// AVI unless outputArgs/extension say otherwise. Empty path on failure.
std::string MakeVideo(const std::string& name, int width, int height, const std::vector<Bytes>& pictures,
                      const std::string& outputArgs = "-c:v rawvideo -pix_fmt bgr24",
                      const std::string& extension = "avi", const std::string& rate = "25");

// Every frame of a file as ffmpeg decodes it to top-down BGR rows of 3 * width bytes.
std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height);

// A few fields of the first video stream, as ffprobe reports them ("" when missing).
struct ProbeInfo {
    int width = 0;
    int height = 0;
    std::string rate;       // r_frame_rate, e.g. "25/1"
    int decodedFrames = -1;  // frames counted by decoding (-count_frames)
    bool ok = false;
};
ProbeInfo Probe(const std::string& path);

// The picture of a bottom-up 24-bit frame block as top-down BGR rows of 3 * width bytes.
Bytes PictureOf(const uint8_t* block, int width, int height);
// The box [left, right) x [top, bottom) of a top-down BGR picture.
Bytes BoxOf(const Bytes& picture, int width, int left, int top, int right, int bottom);

// Opens path on the chosen back end; info points into the reader.
bool OpenReader(VideoFrameReader& reader, const std::string& path, bool media, FrameInfo** info);
// Frame n as a copy of its block; empty when the reader gives none.
Bytes ReadBlock(VideoFrameReader& reader, FrameInfo& info, int32_t n);

// Size of "cjpeg -quality q -baseline" of the picture (top-down BGR); -1 when cjpeg fails.
long CjpegSize(const Bytes& picture, int width, int height, int quality);

}  // namespace opstest
