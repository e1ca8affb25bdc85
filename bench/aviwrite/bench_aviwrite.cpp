// Writing 300 frames of 1920x1080 24-bit video to AVI: our writer against ffmpeg's AVI muxer writing the
// same frames (rawvideo, bgr24) in the same run, on the same disk. Prints MB/s of frame data and the
// ratio, once up to the end of the writing process and once including fsync of the output (disk speed).
// Each side runs twice, in alternating order, and its best time counts.
//
// Environment: TESSARON_BENCH_DIR picks the folder for the outputs (default: $TMPDIR or /tmp);
// TESSARON_BENCH_FRAMES changes the frame count.
#include "output/AviOutput.h"

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

    // Two rounds in alternating order; the best of each counts, as the disk is shared with other work.
    const std::string ours = dir + "/ours.avi";
    const std::string theirs = dir + "/ffmpeg.avi";
    Timing a, b;
    auto keepBest = [](Timing& best, const Timing& t) {
        if (!t.ok) return false;
        if (!best.ok || t.written < best.written) best.written = t.written;
        if (!best.ok || t.synced < best.synced) best.synced = t.synced;
        best.ok = true;
        return true;
    };
    bool ok = true;
    for (int round = 0; round < 2 && ok; ++round) {
        for (int which = 0; which < 2 && ok; ++which) {
            if ((which + round) % 2 == 0) {
                ok = keepBest(a, WriteOurs(ours, frames, count));
                std::filesystem::remove(ours);
            } else {
                ok = keepBest(b, WriteFfmpeg(raw, theirs, count));
                std::filesystem::remove(theirs);
            }
        }
    }
    std::filesystem::remove_all(dir);
    if (!a.ok || !b.ok) {
        std::fprintf(stderr, "a write failed (ours %s, ffmpeg %s)\n", a.ok ? "ok" : "failed", b.ok ? "ok" : "failed");
        return 1;
    }

    std::printf("%-28s %10s %10s\n", "", "written", "+fsync");
    std::printf("%-28s %7.0f MB/s %5.0f MB/s\n", "AviOutput", megabytes / a.written, megabytes / a.synced);
    std::printf("%-28s %7.0f MB/s %5.0f MB/s\n", "ffmpeg -c:v rawvideo (avi)", megabytes / b.written,
                megabytes / b.synced);
    std::printf("ratio (ours / ffmpeg): %.2f written, %.2f with fsync\n", b.written / a.written, b.synced / a.synced);
    return 0;
}
