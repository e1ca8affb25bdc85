#include "tests/support/TestVideos.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <sys/wait.h>
#include <unistd.h>

#include "image/dib.h"

#ifndef TESSARON_TEST_VIDEO_DIR
#define TESSARON_TEST_VIDEO_DIR "/tmp/tessaron-test-videos"
#endif

namespace fs = std::filesystem;

namespace testsupport {
namespace {

// Bumped whenever the drawing or a recipe changes, so stale cached files are not used.
constexpr const char* kVersion = "v1";

constexpr int kGrid = 4;
constexpr int kIndexBits = 12;

int CheckBits(int index) { return ((index & 0xF) + ((index >> 4) & 0xF) * 3 + ((index >> 8) & 0xF) * 5 + 7) & 0xF; }

// The grid covers the middle three quarters of the picture.
struct Grid {
    int x0, y0, cellW, cellH;
};
Grid GridFor(int width, int height) {
    Grid g;
    g.x0 = width / 8;
    g.y0 = height / 8;
    g.cellW = (width - 2 * g.x0) / kGrid;
    g.cellH = (height - 2 * g.y0) / kGrid;
    return g;
}

struct Recipe {
    TestVideoInfo info;
    std::string outputArgs;
    std::string extension;
    bool combed;
};

const std::vector<Recipe>& Recipes() {
    static const std::vector<Recipe> recipes = {
        {{TestVideo::RawAviOddWidth, "raw-odd", 65, 48, 24, 25, true, true, false},
         "-c:v rawvideo -pix_fmt bgr24",
         "avi",
         false},
        {{TestVideo::Pal8Avi, "pal8", 64, 48, 20, 25, true, true, false}, "-c:v rawvideo -pix_fmt pal8", "avi", false},
        {{TestVideo::Rgb555Avi, "rgb555", 64, 48, 20, 25, true, true, false},
         "-c:v rawvideo -pix_fmt rgb555le",
         "avi",
         false},
        {{TestVideo::Rgb32Avi, "rgb32", 64, 48, 20, 25, true, true, false},
         "-c:v rawvideo -pix_fmt bgra",
         "avi",
         false},
        {{TestVideo::OneFrameAvi, "one-frame", 32, 24, 1, 25, true, true, false},
         "-c:v rawvideo -pix_fmt bgr24",
         "avi",
         false},
        {{TestVideo::MjpegAvi, "mjpeg", 96, 64, 30, 25, false, true, true},
         "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p",
         "avi",
         false},
        {{TestVideo::H264Mp4, "h264", 64, 48, 50, 25, false, true, true},
         "-c:v libx264 -preset veryfast -crf 12 -bf 3 -g 250 -x264-params scenecut=0 -pix_fmt yuv420p",
         "mp4",
         false},
        {{TestVideo::Mpeg4Avi, "mpeg4", 64, 48, 40, 25, false, true, true},
         "-c:v mpeg4 -q:v 2 -bf 2 -g 12",
         "avi",
         false},
        {{TestVideo::Vp9Webm, "vp9", 64, 48, 50, 30000.0 / 1001.0, false, true, true},
         "-c:v libvpx-vp9 -crf 10 -b:v 0 -g 20 -deadline good -cpu-used 5",
         "webm",
         false},
        {{TestVideo::Mp4LateStart, "late-start", 80, 48, 40, 25, false, true, true},
         "-vf setpts=PTS+12 -fps_mode passthrough -c:v libx264 -preset veryfast -crf 12 -bf 3 -g 12 "
         "-pix_fmt yuv420p",
         "mp4",
         false},
        {{TestVideo::Mp4AudioFirst, "audio-first", 64, 48, 30, 25, false, true, true},
         "-f lavfi -i anullsrc=r=8000:cl=mono -map 1:a -map 0:v -t 1.2 -c:a aac -c:v libx264 -preset veryfast "
         "-crf 12 -bf 2 -pix_fmt yuv420p",
         "mp4",
         false},
        {{TestVideo::Interlaced, "interlaced", 96, 96, 30, 25, false, true, true},
         "-c:v mpeg2video -q:v 2 -flags +ilme+ildct -top 1 -g 12 -bf 2",
         "ts",
         true},
    };
    return recipes;
}

const std::vector<TestVideoInfo>& Infos() {
    static const std::vector<TestVideoInfo> infos = [] {
        std::vector<TestVideoInfo> v;
        for (const Recipe& r : Recipes()) v.push_back(r.info);
        v.push_back({TestVideo::Mp4CoverArt, "cover-art", 64, 48, 20, 25, false, true, true});
        v.push_back({TestVideo::AudioOnly, "audio-only", 0, 0, 0, 0, false, false, false});
        v.push_back({TestVideo::ZeroByte, "zero-byte", 0, 0, 0, 0, false, false, false});
        v.push_back({TestVideo::TruncatedAvi, "truncated", 65, 48, 24, 25, true, true, false});
        v.push_back({TestVideo::TextAsAvi, "text", 0, 0, 0, 0, false, false, false});
        return v;
    }();
    return infos;
}

std::string UniqueTempName(const fs::path& final) {
    static std::atomic<int> counter{0};
    return (final.parent_path() /
            (".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + final.filename().string()))
        .string();
}

bool Publish(const std::string& temp, const fs::path& final) {
    std::error_code ec;
    fs::rename(temp, final, ec);
    if (ec) fs::remove(temp, ec);
    return fs::exists(final);
}

bool WriteBytes(const fs::path& final, const std::string& bytes) {
    std::string temp = UniqueTempName(final);
    {
        std::ofstream out(temp, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) return false;
    }
    return Publish(temp, final);
}

fs::path CachedPath(const std::string& name, const std::string& extension) {
    return fs::path(TestVideoDir()) / (std::string(kVersion) + "-" + name + "." + extension);
}

bool Usable(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

std::string TestVideoDir() {
    const char* env = std::getenv("TESSARON_TEST_VIDEO_DIR");
    std::string dir = env && *env ? env : TESSARON_TEST_VIDEO_DIR;
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

std::vector<uint8_t> DrawFramePicture(int index, int width, int height, bool combed) {
    std::vector<uint8_t> picture(size_t(width) * height * 3);
    const int code = (index & ((1 << kIndexBits) - 1)) | (CheckBits(index) << kIndexBits);
    const Grid g = GridFor(width, height);
    for (int y = 0; y < height; ++y) {
        // Interlaced material: odd rows belong to the second field, half a frame later, so its
        // gradient has moved on.
        int shift = (combed && (y & 1)) ? 4 * (index % 8) + 2 : 0;
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &picture[(size_t(y) * width + x) * 3];
            int gx = (x + shift) % width;
            p[0] = uint8_t(64 + 128 * gx / width);
            p[1] = uint8_t(64 + 128 * y / height);
            p[2] = uint8_t(96 + 64 * ((gx + y) & 31) / 32);
            int cx = (x - g.x0) / g.cellW, cy = (y - g.y0) / g.cellH;
            if (x >= g.x0 && y >= g.y0 && cx < kGrid && cy < kGrid) {
                int bit = (code >> (cy * kGrid + cx)) & 1;
                p[0] = p[1] = p[2] = bit ? 255 : 0;
            }
        }
    }
    return picture;
}

int ReadFrameIndex(const uint8_t* frameBlock) {
    if (!frameBlock) return -1;
    BITMAPINFOHEADER h;
    std::memcpy(&h, frameBlock, sizeof h);
    if (h.biBitCount != 24 || h.biWidth < 16 || h.biWidth > 16384 || h.biHeight == 0) return -1;
    const bool topDown = h.biHeight < 0;
    const int width = h.biWidth;
    const int height = topDown ? -h.biHeight : h.biHeight;
    if (height < 16 || height > 16384) return -1;
    const int64_t stride = DibStride24(width);
    const uint8_t* rows = frameBlock + kDibHeaderSize;
    const Grid g = GridFor(width, height);
    int code = 0;
    for (int cy = 0; cy < kGrid; ++cy) {
        for (int cx = 0; cx < kGrid; ++cx) {
            // The middle half of the cell, away from edges that codecs blur.
            int xa = g.x0 + cx * g.cellW + g.cellW / 4, xb = g.x0 + cx * g.cellW + (3 * g.cellW) / 4;
            int ya = g.y0 + cy * g.cellH + g.cellH / 4, yb = g.y0 + cy * g.cellH + (3 * g.cellH) / 4;
            int64_t sum = 0, n = 0;
            for (int y = ya; y < std::max(yb, ya + 1); ++y) {
                int row = topDown ? y : height - 1 - y;
                const uint8_t* p = rows + row * stride;
                for (int x = xa; x < std::max(xb, xa + 1); ++x) {
                    sum += p[3 * x] + p[3 * x + 1] + p[3 * x + 2];
                    n += 3;
                }
            }
            if (sum > 128 * n) code |= 1 << (cy * kGrid + cx);
        }
    }
    int index = code & ((1 << kIndexBits) - 1);
    return (code >> kIndexBits) == CheckBits(index) ? index : -1;
}

std::string MakeTestVideo(const TestVideoRecipe& recipe) {
    fs::path final = CachedPath(recipe.name, recipe.extension);
    if (Usable(final)) return final.string();

    std::string raw = UniqueTempName(final) + ".bgr";
    {
        std::ofstream out(raw, std::ios::binary);
        for (int i = 0; i < recipe.frames; ++i) {
            std::vector<uint8_t> picture = DrawFramePicture(i, recipe.width, recipe.height, recipe.combed);
            out.write(reinterpret_cast<const char*>(picture.data()), std::streamsize(picture.size()));
        }
        if (!out) return {};
    }
    std::string temp = UniqueTempName(final);
    std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(recipe.width) +
                          "x" + std::to_string(recipe.height) + " -r " + recipe.rate + " -i " + ShellQuote(raw) + " " +
                          recipe.outputArgs + " -f " +
                          (recipe.extension == "mp4"    ? std::string("mp4")
                           : recipe.extension == "ts"   ? std::string("mpegts")
                           : recipe.extension == "webm" ? std::string("webm")
                           : recipe.extension == "mkv"  ? std::string("matroska")
                                                        : recipe.extension) +
                          " " + ShellQuote(temp);
    int status = RunCommand(command);
    std::error_code ec;
    fs::remove(raw, ec);
    if (status != 0) {
        fs::remove(temp, ec);
        return {};
    }
    return Publish(temp, final) ? final.string() : std::string();
}

std::string MakeTestVideo(const std::string& name, int width, int height, int frames) {
    TestVideoRecipe recipe;
    recipe.name = name;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    return MakeTestVideo(recipe);
}

std::string MakeCachedFile(const std::string& name, const std::string& extension, const std::string& format,
                           const std::string& ffmpegArgs) {
    fs::path final = CachedPath(name, extension);
    if (Usable(final)) return final.string();
    std::string temp = UniqueTempName(final);
    if (RunCommand("ffmpeg -nostdin -v error -y " + ffmpegArgs + " -f " + format + " " + ShellQuote(temp)) != 0) {
        std::error_code ec;
        fs::remove(temp, ec);
        return {};
    }
    return Publish(temp, final) ? final.string() : std::string();
}

std::string MakeScriptedFile(const std::string& name, const std::string& extension, const std::string& script) {
    fs::path final = CachedPath(name, extension);
    if (Usable(final)) return final.string();
    const std::string temp = UniqueTempName(final);
    const std::string work = temp + ".work";
    std::error_code ec;
    fs::create_directories(work, ec);
    const int status = RunCommand("OUT=" + ShellQuote(temp) + " WORK=" + ShellQuote(work) + " bash -euc " +
                                  ShellQuote(script) + " </dev/null");
    fs::remove_all(work, ec);
    if (status != 0) {
        fs::remove(temp, ec);
        return {};
    }
    return Publish(temp, final) ? final.string() : std::string();
}

std::string DamagedPacketMp4(int width, int height, int frames, int damaged) {
    const std::string name = "damaged-packet-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                             std::to_string(frames) + "-" + std::to_string(damaged);
    const fs::path final = CachedPath(name, "mp4");
    if (Usable(final)) return final.string();
    TestVideoRecipe recipe;
    recipe.name = name + "-whole";
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.outputArgs = "-c:v libx264 -bf 0 -g 25 -pix_fmt yuv420p";
    recipe.extension = "mp4";
    const std::string whole = MakeTestVideo(recipe);
    if (whole.empty()) return {};
    // The packet's place in the file: "size,pos" lines (ffprobe's field order) in file order, which is
    // presentation order here.
    const CommandRun probe = RunCapture(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pos,size -of csv=p=0 " + ShellQuote(whole));
    std::istringstream lines(probe.out);
    std::string line;
    long long pos = -1, size = 0;
    for (int i = 0; std::getline(lines, line) && i <= damaged; ++i)
        if (i == damaged && std::sscanf(line.c_str(), "%lld,%lld", &size, &pos) != 2) pos = -1;
    Bytes bytes = ReadFileBytes(whole);
    if (pos < 0 || size < 8 || size_t(pos + size) > bytes.size()) return {};
    // The 4-byte length and the NAL header stay; everything after them becomes 0xFF.
    for (long long i = pos + 5; i < pos + size; ++i) bytes[size_t(i)] = 0xFF;
    return WriteBytes(final, std::string(bytes.begin(), bytes.end())) ? final.string() : std::string();
}

Bytes FfmpegOutput(const std::string& path, const std::string& options) {
    const std::string raw = UniqueTempName(fs::path(Scratch("ffmpeg.out")));
    Bytes bytes;
    if (RunCommand("ffmpeg -nostdin -v error -y -i " + ShellQuote(path) + " " + options + " " + ShellQuote(raw)) == 0)
        bytes = ReadFileBytes(raw);
    std::remove(raw.c_str());
    return bytes;
}

std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height, const std::string& options) {
    const Bytes all = FfmpegOutput(path, options + " -f rawvideo -pix_fmt bgr24");
    std::vector<Bytes> frames;
    const size_t frameSize = size_t(3) * width * height;
    for (size_t at = 0; frameSize > 0 && at + frameSize <= all.size(); at += frameSize)
        frames.emplace_back(all.begin() + std::ptrdiff_t(at), all.begin() + std::ptrdiff_t(at + frameSize));
    return frames;
}

const std::vector<TestVideoInfo>& AllTestVideos() { return Infos(); }

const TestVideoInfo& Info(TestVideo kind) {
    for (const TestVideoInfo& i : Infos())
        if (i.kind == kind) return i;
    return Infos().front();
}

std::string TestVideoPath(TestVideo kind) {
    for (const Recipe& r : Recipes()) {
        if (r.info.kind != kind) continue;
        TestVideoRecipe recipe;
        recipe.name = r.info.name;
        recipe.width = r.info.width;
        recipe.height = r.info.height;
        recipe.frames = r.info.frames;
        recipe.rate = r.info.framesPerSecond == 25 ? "25" : "30000/1001";
        recipe.outputArgs = r.outputArgs;
        recipe.extension = r.extension;
        recipe.combed = r.combed;
        return MakeTestVideo(recipe);
    }
    switch (kind) {
    case TestVideo::Mp4CoverArt: {
        std::string cover = MakeCachedFile("cover", "png", "image2", "-f lavfi -i color=red:s=128x128 -frames:v 1");
        if (cover.empty()) return {};
        TestVideoRecipe recipe;
        recipe.name = "cover-art";
        recipe.frames = 20;
        recipe.outputArgs = "-i " + ShellQuote(cover) +
                            " -map 1 -map 0 -c:v:0 png -disposition:v:0 attached_pic -c:v:1 libx264 -preset veryfast "
                            "-crf 12 -pix_fmt yuv420p";
        recipe.extension = "mp4";
        return MakeTestVideo(recipe);
    }
    case TestVideo::AudioOnly:
        return MakeCachedFile("audio-only", "wav", "wav", "-f lavfi -i anullsrc=r=8000:cl=mono -t 1");
    case TestVideo::ZeroByte: {
        fs::path final = CachedPath("zero-byte", "avi");
        return Usable(final) || WriteBytes(final, "") ? final.string() : std::string();
    }
    case TestVideo::TextAsAvi: {
        fs::path final = CachedPath("text", "avi");
        return Usable(final) || WriteBytes(final, "This is a text file, not a video.\nIt only has an .avi name.\n")
                   ? final.string()
                   : std::string();
    }
    case TestVideo::TruncatedAvi: {
        fs::path final = CachedPath("truncated", "avi");
        if (Usable(final)) return final.string();
        std::string whole = TestVideoPath(TestVideo::RawAviOddWidth);
        if (whole.empty()) return {};
        std::ifstream in(whole, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Cut in the middle of the frames: the header and the first half of the pictures survive,
        // the index is gone.
        bytes.resize(bytes.size() / 2 + 1000);
        return WriteBytes(final, bytes) ? final.string() : std::string();
    }
    default: return {};
    }
}

}  // namespace testsupport
