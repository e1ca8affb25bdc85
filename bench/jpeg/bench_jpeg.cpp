// JPEG encoding speed of a 1920x1080 frame to memory, beside libjpeg-turbo's own tools on the same
// pixels at the same settings (quality, 4:2:0, baseline, the default DCT) in the same run:
//   tjbench: the same library's TurboJPEG encoder timed inside its own process, frames to memory,
//            as ours is; the like-for-like comparison (our encoder is libjpeg-turbo too, so about 1x);
//   cjpeg:   whole processes (reading a PPM, writing to /dev/null); its start-up cost, measured with a
//            1x1 picture, is subtracted.
// The three run in turn, 5 rounds; the figures are the median and range of the per-round ratios.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/BenchSpawn.h"
#include "image/ximage.h"

extern char** environ;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Bottom-up BGR rows: gradients, hard-edged shapes, fine texture and a little sensor-like noise.
std::vector<uint8_t> PhotoLikeRows(int stride) {
    std::vector<uint8_t> rows(size_t(stride) * kHeight, 0);
    uint32_t state = 2024;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = rows.data() + size_t(kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth, v = double(y) / kHeight;
            double r = 50 + 140 * u + 30 * std::sin(v * 9.0);
            double g = 80 + 110 * v + 25 * std::cos(u * 6.0 + v * 4.0);
            double b = 180 - 130 * u * v;
            if (std::hypot(x - 1250.0, y - 420.0) < 260) {
                r = 230 - 50 * v;
                g = 205 + 20 * std::sin(x * 0.05);
                b = 70 + 40 * u;
            }
            if (x > 200 && x < 700 && y > 560 && y < 980) {
                r *= 0.3;
                g *= 0.35;
                b *= 0.4;
            }
            if (y < 220 && ((x / 5 + y / 5) % 2 == 0)) {
                r += 30;
                g += 30;
                b += 30;
            }
            state = state * 1664525u + 1013904223u;
            const double noise = double(state >> 29) - 3.5;
            const double values[3] = {b + noise, g + noise, r + noise};
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] = static_cast<uint8_t>(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
        }
    }
    return rows;
}

bool WritePpm(const std::string& path, const uint8_t* rows, int width, int height, int stride) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    std::vector<uint8_t> line(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = rows + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            line[3 * x] = row[3 * x + 2];
            line[3 * x + 1] = row[3 * x + 1];
            line[3 * x + 2] = row[3 * x];
        }
        std::fwrite(line.data(), 1, line.size(), file);
    }
    return std::fclose(file) == 0;
}

// Seconds for `runs` cjpeg processes; negative when one fails.
double TimeCjpeg(int quality, const std::string& input, const std::string& output, int runs) {
    std::string q = std::to_string(quality);
    char* argv[] = {const_cast<char*>("cjpeg"),
                    const_cast<char*>("-quality"),
                    q.data(),
                    const_cast<char*>("-baseline"),
                    const_cast<char*>("-outfile"),
                    const_cast<char*>(output.c_str()),
                    const_cast<char*>(input.c_str()),
                    nullptr};
    const auto start = Clock::now();
    for (int i = 0; i < runs; ++i) {
        pid_t pid = 0;
        if (posix_spawnp(&pid, "cjpeg", nullptr, nullptr, argv, environ) != 0) return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    }
    return Seconds(Clock::now() - start);
}

// tjbench's compression speed in megapixels a second (encoding only, nothing written); negative when it
// fails.
double TjbenchMpixels(int quality, const std::string& input) {
    const std::string command =
        "tjbench '" + input + "' " + std::to_string(quality) +
        " -subsamp 420 -componly -nowrite -quiet -bottomup -benchtime 1 -warmup 0.2 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char line[512];
    double mpixels = -1;
    while (std::fgets(line, sizeof line, pipe)) {
        char format[16], bu[16], subsamp[16];
        int q = 0, w = 0, h = 0;
        double perf = 0;
        if (std::sscanf(line, "%15s %15s %15s %d %d %d %lf", format, bu, subsamp, &q, &w, &h, &perf) == 7 &&
            std::string(format) == "BGR")
            mpixels = perf;
    }
    return ::pclose(pipe) == 0 ? mpixels : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int ourFrames = argc > 1 ? std::atoi(argv[1]) : 20;
    const int cjpegRuns = argc > 2 ? std::atoi(argv[2]) : 10;
    const int stride = (kWidth * 3 + 3) & ~3;
    const std::vector<uint8_t> rows = PhotoLikeRows(stride);

    char pattern[] = "/tmp/tessaron-bench-jpeg-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string framePpm = dir + "/frame.ppm", tinyPpm = dir + "/tiny.ppm", reference = dir + "/ref.jpg";
    const uint8_t tinyPixel[4] = {10, 20, 30, 0};
    if (!WritePpm(framePpm, rows.data(), kWidth, kHeight, stride) || !WritePpm(tinyPpm, tinyPixel, 1, 1, 4)) {
        std::fprintf(stderr, "cannot write the PPM files\n");
        return 1;
    }

    std::printf(
        "JPEG encode of a %dx%d photo-like frame: %d frames to memory ours a round, tjbench for 1 s, %d cjpeg "
        "processes (and %d on a 1x1 picture for the start-up)\n",
        kWidth, kHeight, ourFrames, cjpegRuns, cjpegRuns);
    // Start-up of a cjpeg process, measured on a 1x1 picture.
    const double startupRuns = TimeCjpeg(75, tinyPpm, "/dev/null", cjpegRuns);
    if (startupRuns < 0) {
        std::fprintf(stderr, "cjpeg did not run (Debian: libjpeg-turbo-progs)\n");
        return 1;
    }
    const double startup = startupRuns / cjpegRuns;
    std::printf("cjpeg process start-up (1x1 picture): %.2f ms\n", startup * 1000);

    int status = 0;
    constexpr int kRounds = 5;
    std::printf("%d alternating rounds (ours, tjbench, cjpeg), median (range); load average %.2f\n", kRounds,
                bench::LoadAverage());
    for (int quality : {25, 75}) {
        CxImage image;
        if (!image.CreateFromPixels(rows.data(), kWidth, kHeight, 24, stride, false)) return 1;
        image.jpegQuality = static_cast<uint8_t>(quality);
        int32_t size = 0;
        // One warm-up encode, then the timed ones.
        uint8_t* warmUp = nullptr;
        if (!image.Encode(warmUp, size, CXIMAGE_FORMAT_JPG)) return 1;
        std::free(warmUp);
        std::vector<double> oursFps, toTj, toCjpeg;
        for (int round = 0; round < kRounds; ++round) {
            const auto start = Clock::now();
            for (int i = 0; i < ourFrames; ++i) {
                uint8_t* buffer = nullptr;
                if (!image.Encode(buffer, size, CXIMAGE_FORMAT_JPG)) {
                    std::fprintf(stderr, "encode failed: %s\n", image.lastError);
                    return 1;
                }
                std::free(buffer);
            }
            const double ours = Seconds(Clock::now() - start) / ourFrames;
            const double tj = TjbenchMpixels(quality, framePpm);
            const double cjpegTotal = TimeCjpeg(quality, framePpm, "/dev/null", cjpegRuns);
            const double startupTotal = TimeCjpeg(quality, tinyPpm, "/dev/null", cjpegRuns);
            if (tj <= 0 || cjpegTotal < 0 || startupTotal < 0) {
                std::fprintf(stderr, "tjbench or cjpeg did not run (Debian: libjpeg-turbo-progs)\n");
                return 1;
            }
            oursFps.push_back(1 / ours);
            toTj.push_back((1 / ours) / (tj * 1e6 / (double(kWidth) * kHeight)));
            toCjpeg.push_back((cjpegTotal - startupTotal) / cjpegRuns / ours);
        }
        if (TimeCjpeg(quality, framePpm, reference, 1) < 0) return 1;
        const auto referenceSize = std::filesystem::file_size(reference);
        if (referenceSize != uintmax_t(size)) {
            std::printf("  size mismatch: ours %d bytes, cjpeg %ju bytes\n", size, referenceSize);
            status = 1;
        }
        std::printf("quality %3d: %7d bytes (cjpeg %ju)\n", quality, size, referenceSize);
        std::printf("  ours: %s frames/s\n", bench::Text(bench::SpreadOf(oursFps)).c_str());
        std::printf("  ours / tjbench (frames to memory, one process each): %s x the speed\n",
                    bench::Text(bench::SpreadOf(toTj)).c_str());
        std::printf("  ours / cjpeg (its start-up subtracted): %s x the speed\n",
                    bench::Text(bench::SpreadOf(toCjpeg)).c_str());
        if (quality == 75)
            bench::ReadmeRow("jpeg/bench_jpeg",
                             "1920x1080 encode to memory at quality 75: " + bench::Text(bench::SpreadOf(toTj)) +
                                 "x the speed of `tjbench` (the same library, like for like), " +
                                 bench::Text(bench::SpreadOf(toCjpeg)) +
                                 "x `cjpeg` (its start-up subtracted); byte for byte the same JPEG");
    }
    std::filesystem::remove_all(dir);
    return status;
}
