// Test videos made at test time with the ffmpeg command line. Every frame shows its own index as a
// 4 x 4 grid of large black and white blocks (12 bits of index and a 4-bit check) over a colour
// gradient, so a test can tell which frame it got after any codec; ReadFrameIndex reads it back.
// Files are cached in a per-build folder and written under a temporary name first, so tests running
// in parallel may ask for the same file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"

namespace testsupport {

enum class TestVideo {
    RawAviOddWidth,  // rawvideo bgr24 AVI, odd width (ffmpeg writes it top-down)
    Pal8Avi,         // rawvideo 8-bit AVI with a palette
    Rgb555Avi,       // rawvideo 16-bit 5-5-5 AVI
    Rgb32Avi,        // rawvideo 32-bit AVI
    OneFrameAvi,     // rawvideo bgr24 AVI of a single frame
    MjpegAvi,        // MJPEG AVI, full-range YUV
    H264Mp4,         // H.264 MP4 with B-frames and a GOP of 250 (a single key frame)
    Mpeg4Avi,        // MPEG-4 Part 2 with B-frames in AVI
    Vp9Webm,         // VP9 WebM at 30000/1001 fps; the container does not tell the stream length
    Mp4LateStart,    // H.264 MP4 whose video starts at 0.48 s, B-frames, a key frame every 12
    Mp4AudioFirst,   // MP4 whose first stream is audio, then H.264 video
    Mp4CoverArt,     // H.264 MP4 with a larger PNG cover picture as a second (attached) stream
    Interlaced,      // interlaced MPEG-2 (top field first) in MPEG-TS, fields from different moments
    AudioOnly,       // WAV, no video stream
    ZeroByte,        // empty file named .avi
    TruncatedAvi,    // the rawvideo AVI cut off in the middle of its frames
    TextAsAvi,       // a text file named .avi
};

struct TestVideoInfo {
    TestVideo kind;
    const char* name;
    int width;
    int height;
    int frames;  // frames written (0 for files that are no video)
    double framesPerSecond;
    bool uncompressedAvi;  // our AVI reader can play it
    bool playable;         // FFmpeg can play it
    bool lossy;            // pixels differ from the drawn picture
};

const std::vector<TestVideoInfo>& AllTestVideos();
const TestVideoInfo& Info(TestVideo kind);

// Path of the video, made on first use. Empty when it could not be made (a test should fail then).
std::string TestVideoPath(TestVideo kind);

// A video of one's own: frames drawn as described above, piped through ffmpeg as
// "ffmpeg -f rawvideo -pix_fmt bgr24 -s WxH -r rate -i RAW <outputArgs> OUT.<extension>".
// name must be unique per distinct recipe; the file is cached under it.
struct TestVideoRecipe {
    std::string name;
    int width = 64;
    int height = 48;
    int frames = 12;
    std::string rate = "25";
    std::string outputArgs = "-c:v rawvideo -pix_fmt bgr24";
    std::string extension = "avi";
    bool combed = false;  // odd picture rows from a later moment, as in interlaced material
};
std::string MakeTestVideo(const TestVideoRecipe& recipe);
// The default recipe (uncompressed bgr24 AVI at 25 fps) at a size and length of one's own.
std::string MakeTestVideo(const std::string& name, int width, int height, int frames);

// A file made by "ffmpeg <ffmpegArgs> -f <format> OUT", cached under name.extension, for inputs that
// are not frame pictures (lavfi sources, say). Empty when ffmpeg fails.
std::string MakeCachedFile(const std::string& name, const std::string& extension, const std::string& format,
                           const std::string& ffmpegArgs);

// A file made by a bash script that writes $OUT (and may keep intermediate files in $WORK, a folder
// of its own), cached under name.extension. Empty when the script fails.
std::string MakeScriptedFile(const std::string& name, const std::string& extension, const std::string& script);

// An H.264 MP4 (no B-frames, a key frame every 25) of frames pictures of width x height whose packet
// number damaged (0-based, in presentation order) has its slice data overwritten, so that the decoder
// rejects that picture and no other: a damaged frame in the middle of a video. Cached; empty on failure.
std::string DamagedPacketMp4(int width, int height, int frames, int damaged);

// The folder the videos are cached in (created on demand).
std::string TestVideoDir();

// The picture of frame index: top-down BGR rows of 3 * width bytes.
std::vector<uint8_t> DrawFramePicture(int index, int width, int height, bool combed = false);

// The index shown in a 24-bit frame block (header + rows, bottom-up or top-down), or -1 when the
// block shows no readable index.
int ReadFrameIndex(const uint8_t* frameBlock);

// The raw bytes ffmpeg writes when it decodes path with the given output options ("-f rawvideo
// -pix_fmt bgr24", say); empty when ffmpeg fails.
Bytes FfmpegOutput(const std::string& path, const std::string& options);
// Every frame of a file as ffmpeg decodes it (with extra output options such as "-fps_mode
// passthrough"), as top-down BGR rows of 3 * width bytes; empty when ffmpeg fails.
std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height, const std::string& options = "");

}  // namespace testsupport
