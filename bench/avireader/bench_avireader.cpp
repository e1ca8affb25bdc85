// Sequential reading of every frame of uncompressed 1080p AVI files by our reader, beside the ffmpeg
// command line decoding the same file to bgr24 in the same run, in alternating rounds (bench/BenchSpawn.h).
// Both read from the page cache.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchSpawn.h"
#include "video/AviReader.h"

namespace {

constexpr int kRounds = 5;

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Opening the file and decoding every frame into a fresh block.
bool ReadAll(const std::string& path, uint32_t* frames) {
    auto reader = AviReader::OpenFile(path.c_str());
    if (!reader || !reader->CanDecode()) return false;
    *frames = reader->Length();
    for (uint32_t n = 0; n < reader->Length(); ++n) {
        int32_t size = 0;
        uint8_t* block = reader->DecodeFrame(int32_t(n), &size);
        if (!block) return false;
        std::free(block);
    }
    return true;
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
        // decoding alone; the three sides in alternating rounds. A first read fills the page cache.
        uint32_t n = 0;
        ReadAll(path, &n);
        const auto runs =
            bench::AlternateSides({[&] { return bench::TimeCall([&] { return ReadAll(path, &n); }); },
                                   [&] {
                                       return bench::RunTimed({"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo",
                                                               "-pix_fmt", "bgr24", "-y", "/dev/null"});
                                   },
                                   [&] {
                                       return bench::RunTimed({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"});
                                   }},
                                  kRounds);
        if (runs.empty()) {
            std::fprintf(stderr, "bench_avireader: %s could not be read\n", name);
            status = 1;
            break;
        }
        std::vector<double> rate;
        for (const bench::Measure& m : runs[0]) rate.push_back(n / m.wall);
        // Ratios of ffmpeg's time to ours, median (range) of the rounds: above 1, AviReader is faster.
        std::printf(
            "%s, %u frames, %d alternating rounds: AviReader %s frames/s; %s the speed of ffmpeg -f "
            "rawvideo -pix_fmt bgr24; %s the speed of ffmpeg -f null (demux and decode alone)\n",
            name, n, kRounds, bench::Text(bench::SpreadOf(rate)).c_str(),
            bench::Text(bench::Ratio(runs[1], runs[0], false)).c_str(),
            bench::Text(bench::Ratio(runs[2], runs[0], false)).c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
