// Writing 300 frames of 1920x1080 24-bit video to AVI: our writer against ffmpeg's AVI muxer writing the
// same frames (rawvideo, bgr24) in the same run, on the same disk. Prints MB/s of frame data and the
// ratio, once up to the end of the writing process and once including fsync of the output (disk speed).
// The sides run in alternating rounds (bench/BenchSpawn.h); figures are medians (range) of the rounds.
//
// Environment: TESSARON_BENCH_DIR picks the folder for the outputs (default: $TMPDIR or /tmp);
// TESSARON_BENCH_FRAMES changes the frame count.
#include "output/AviOutput.h"

#include "bench/BenchSpawn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDistinct = 10;  // frames cycled through; ffmpeg loops the same raw file
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool SyncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

struct Timing {
    double written = 0;  // until the writer is done
    double synced = 0;   // plus fsync of the output
    bool ok = false;
};

Timing WriteOurs(const std::string& path, const std::vector<std::vector<uint8_t>>& frames, int count) {
    Timing t;
    BITMAPINFOHEADER h{40, kWidth, kHeight, 1, 24, BI_RGB, uint32_t(DibStride24(kWidth) * kHeight), 0, 0, 0, 0};
    const auto start = Clock::now();
    AviOutput* out = AviOutputOpen(path.c_str(), 40, nullptr);
    if (!out) return t;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const auto& f = frames[size_t(i % kDistinct)];
        ok = AviOutputAddFrame(out, f.data(), int32_t(f.size()), &h) == 0;
    }
    ok = AviOutputClose(out) == 0 && ok;
    t.written = Seconds(start);
    t.ok = ok && SyncFile(path);
    t.synced = Seconds(start);
    return t;
}

Timing WriteFfmpeg(const std::string& raw, const std::string& path, int count) {
    Timing t;
    const std::string cmd = "ffmpeg -nostdin -v error -f rawvideo -pix_fmt bgr24 -s " + std::to_string(kWidth) + "x" +
                            std::to_string(kHeight) + " -r 25 -stream_loop " + std::to_string(count / kDistinct - 1) +
                            " -i '" + raw + "' -frames:v " + std::to_string(count) + " -c:v rawvideo -y '" + path + "'";
    const auto start = Clock::now();
    const int rc = std::system(cmd.c_str());
    t.written = Seconds(start);
    t.ok = rc == 0 && SyncFile(path);
    t.synced = Seconds(start);
    return t;
}

}  // namespace

int main() {
    int count = 300;
    if (const char* n = std::getenv("TESSARON_BENCH_FRAMES"))
        count = std::max(kDistinct, std::atoi(n) / kDistinct * kDistinct);
    std::string base = "/tmp";
    if (const char* d = std::getenv("TMPDIR"); d && *d) base = d;
    if (const char* d = std::getenv("TESSARON_BENCH_DIR"); d && *d) base = d;
    std::string pattern = base + "/tessaron-bench-avi-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;

    // Noisy frames: nothing for a file system to compress or deduplicate.
    const size_t frameSize = size_t(DibStride24(kWidth)) * kHeight;
    std::vector<std::vector<uint8_t>> frames(kDistinct, std::vector<uint8_t>(frameSize));
    std::mt19937 gen(42);
    for (auto& f : frames)
        for (size_t i = 0; i < frameSize; i += 4) {
            const uint32_t v = gen();
            for (size_t k = 0; k < 4 && i + k < frameSize; ++k) f[i + k] = uint8_t(v >> (8 * k));
        }

    // ffmpeg reads the same frames (stride 5760 has no padding at this width), looped.
    const std::string raw = dir + "/frames.raw";
    if (FILE* f = std::fopen(raw.c_str(), "wb")) {
        for (const auto& fr : frames) std::fwrite(fr.data(), 1, fr.size(), f);
        std::fclose(f);
    }
    SyncFile(raw);

    const double megabytes = double(frameSize) * count / 1e6;
    std::printf("writing %d frames of %dx%d (%.0f MB of frame data) to %s\n", count, kWidth, kHeight, megabytes,
                dir.c_str());

    // Alternating rounds (bench/BenchSpawn.h); each figure is the median (range) of the per-round ratios.
    const std::string ours = dir + "/ours.avi";
    const std::string theirs = dir + "/ffmpeg.avi";
    std::vector<double> written, synced;
    std::vector<Timing> last(2);
    const auto side = [&](int which) {
        return [&, which] {
            return bench::TimeCall([&] {
                last[size_t(which)] = which == 0 ? WriteOurs(ours, frames, count) : WriteFfmpeg(raw, theirs, count);
                std::filesystem::remove(which == 0 ? ours : theirs);
                if (which == 1 && last[0].ok && last[1].ok) {
                    written.push_back(last[1].written / last[0].written);
                    synced.push_back(last[1].synced / last[0].synced);
                }
                return last[size_t(which)].ok;
            });
        };
    };
    const auto runs = bench::AlternateSides({side(0), side(1)}, kRounds);
    std::filesystem::remove_all(dir);
    if (runs.empty()) {
        std::fprintf(stderr, "a write failed (ours %s, ffmpeg %s)\n", last[0].ok ? "ok" : "failed",
                     last[1].ok ? "ok" : "failed");
        return 1;
    }
    std::vector<double> oursRate, theirRate;
    for (size_t r = 0; r < runs[0].size(); ++r) {
        oursRate.push_back(megabytes / runs[0][r].wall);
        theirRate.push_back(megabytes / runs[1][r].wall);
    }
    std::printf("%d alternating rounds, median (range):\n", kRounds);
    std::printf("AviOutput (written and synced) %s MB/s; ffmpeg -c:v rawvideo (avi) %s MB/s\n",
                bench::Text(bench::SpreadOf(oursRate)).c_str(), bench::Text(bench::SpreadOf(theirRate)).c_str());
    std::printf("ratio (ffmpeg's time / ours, above 1: ours is faster): %s written, %s with fsync\n",
                bench::Text(bench::SpreadOf(written)).c_str(), bench::Text(bench::SpreadOf(synced)).c_str());
    return 0;
}
