// Sequential reading of every frame of uncompressed 1080p AVI files by our reader, beside the ffmpeg
// command line decoding the same file to bgr24 in the same run. Both read from the page cache.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/AviReader.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Best of a few runs of an ffmpeg command line over the file.
double FfmpegSeconds(const std::string& path, const std::string& output, int runs) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        if (!Run("ffmpeg -v error -i '" + path + "' " + output)) return -1;
        best = std::min(best, Seconds(t0, Clock::now()));
    }
    return best;
}

// Best of a few runs of opening the file and decoding every frame into a fresh block.
double ReaderSeconds(const std::string& path, int runs, uint32_t* frames) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        auto reader = AviReader::OpenFile(path.c_str());
        if (!reader || !reader->CanDecode()) return -1;
        *frames = reader->Length();
        for (uint32_t n = 0; n < reader->Length(); ++n) {
            int32_t size = 0;
            uint8_t* block = reader->DecodeFrame(int32_t(n), &size);
            if (!block) return -1;
            std::free(block);
        }
        best = std::min(best, Seconds(t0, Clock::now()));
    }
    return best;
}

// Makes the top-down file bottom-up by storing its height positive; the pixels stay as they are.
bool FlipToBottomUp(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = 0; i + 20 <= b.size(); ++i) {
        if (std::memcmp(b.data() + i, "strf", 4) == 0) {
            int32_t h;
            std::memcpy(&h, b.data() + i + 16, 4);
            h = h < 0 ? -h : h;
            std::memcpy(b.data() + i + 16, &h, 4);
            std::ofstream out(to, std::ios::binary);
            out.write(b.data(), std::streamsize(b.size()));
            return bool(out);
        }
    }
    return false;
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "bench_avireader_XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::fprintf(stderr, "bench_avireader: no temporary directory\n");
        return 1;
    }
    const std::string topDown = dir + "/topdown.avi", bottomUp = dir + "/bottomup.avi";
    const int frames = 60;
    int status = 0;
    if (!Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " + std::to_string(frames) +
             " -c:v rawvideo -pix_fmt bgr24 '" + topDown + "'") ||
        !FlipToBottomUp(topDown, bottomUp)) {
        std::fprintf(stderr, "bench_avireader: ffmpeg could not make the test file\n");
        status = 1;
    }
    for (const auto& [name, path] :
         {std::pair{"1080p bgr24 top-down", topDown}, std::pair{"1080p bgr24 bottom-up", bottomUp}}) {
        if (status) break;
        // Two references: every frame converted to bgr24 and written to /dev/null, and demuxing and
        // decoding alone. The first run also fills the page cache.
        const double toRaw = FfmpegSeconds(path, "-f rawvideo -pix_fmt bgr24 -y /dev/null", 3);
        const double decodeOnly = FfmpegSeconds(path, "-f null -", 3);
        uint32_t n = 0;
        const double ours = ReaderSeconds(path, 3, &n);
        if (toRaw <= 0 || decodeOnly <= 0 || ours <= 0) {
            std::fprintf(stderr, "bench_avireader: %s could not be read\n", name);
            status = 1;
            break;
        }
        std::printf(
            "%s, %u frames: AviReader %.1f frames/s; ffmpeg -f rawvideo bgr24 %.1f frames/s (ratio %.2f); "
            "ffmpeg -f null %.1f frames/s (ratio %.2f); ratio > 1 means AviReader is faster\n",
            name, n, n / ours, n / toRaw, toRaw / ours, n / decodeOnly, decodeOnly / ours);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
