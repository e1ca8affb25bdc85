// JPEG encoding speed of a 1920x1080 frame to memory, beside cjpeg on the same pixels in the same run.
// cjpeg is timed as whole processes (reading a PPM, writing to /dev/null); its start-up cost is
// measured with a 1x1 picture and reported subtracted as well.
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

}  // namespace

int main(int argc, char** argv) {
    const int ourFrames = argc > 1 ? std::atoi(argv[1]) : 60;
    const int cjpegRuns = argc > 2 ? std::atoi(argv[2]) : 30;
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

    std::printf("JPEG encode of a %dx%d photo-like frame to memory: %d frames ours, %d cjpeg processes\n", kWidth,
                kHeight, ourFrames, cjpegRuns);
    // Start-up of a cjpeg process, measured on a 1x1 picture.
    const double startupRuns = TimeCjpeg(75, tinyPpm, "/dev/null", cjpegRuns);
    if (startupRuns < 0) {
        std::fprintf(stderr, "cjpeg did not run (Debian: libjpeg-turbo-progs)\n");
        return 1;
    }
    const double startup = startupRuns / cjpegRuns;
    std::printf("cjpeg process start-up (1x1 picture): %.2f ms\n", startup * 1000);

    int status = 0;
    for (int quality : {25, 75}) {
        CxImage image;
        if (!image.CreateFromPixels(rows.data(), kWidth, kHeight, 24, stride, false)) return 1;
        image.jpegQuality = static_cast<uint8_t>(quality);
        int32_t size = 0;
        // One warm-up encode, then the timed ones.
        uint8_t* warmUp = nullptr;
        if (!image.Encode(warmUp, size, CXIMAGE_FORMAT_JPG)) return 1;
        std::free(warmUp);
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

        // The sort's whole round per frame: build the image from the frame's rows, encode, free.
        const auto roundStart = Clock::now();
        for (int i = 0; i < ourFrames; ++i) {
            CxImage frameImage;
            uint8_t* buffer = nullptr;
            int32_t frameSize = 0;
            frameImage.jpegQuality = static_cast<uint8_t>(quality);
            if (!frameImage.CreateFromPixels(rows.data(), kWidth, kHeight, 24, stride, false) ||
                !frameImage.Encode(buffer, frameSize, CXIMAGE_FORMAT_JPG))
                return 1;
            std::free(buffer);
        }
        const double round = Seconds(Clock::now() - roundStart) / ourFrames;

        const double cjpegTotal = TimeCjpeg(quality, framePpm, "/dev/null", cjpegRuns);
        if (cjpegTotal < 0 || TimeCjpeg(quality, framePpm, reference, 1) < 0) return 1;
        const double cjpeg = cjpegTotal / cjpegRuns;
        const double cjpegWork = cjpeg - startup;
        const auto referenceSize = std::filesystem::file_size(reference);
        if (referenceSize != uintmax_t(size)) {
            std::printf("  size mismatch: ours %d bytes, cjpeg %ju bytes\n", size, referenceSize);
            status = 1;
        }
        std::printf("quality %3d: %7d bytes (cjpeg %ju)\n", quality, size, referenceSize);
        std::printf("  ours: encode %.1f fps, with image build per frame %.1f fps\n", 1 / ours, 1 / round);
        std::printf("  cjpeg: %.1f fps, ratio ours/cjpeg %.2f\n", 1 / cjpeg, cjpeg / ours);
        if (cjpegWork > 0)
            std::printf("  cjpeg without start-up: %.1f fps, ratio ours/cjpeg %.2f\n", 1 / cjpegWork, cjpegWork / ours);
    }
    std::filesystem::remove_all(dir);
    return status;
}
