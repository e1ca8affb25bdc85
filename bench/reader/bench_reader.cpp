// Reads a 1080p H.264 clip (B-frames, one GOP of 250) through VideoFrameReader's media detector and
// compares with the ffmpeg command line on the same file in the same run:
//   sequential: every frame in order, frames per second, beside
//               ffmpeg -i clip -f rawvideo -pix_fmt bgr24 -y /dev/null
//   random:     random frames, one process a frame on both sides, each writing the frame as a BMP:
//               tessaron-cli frame clip N -o F.bmp  beside  ffmpeg -ss T -i clip -frames:v 1 F.bmp;
//               5 rounds of 4 frames, the two alternating frame by frame; median (range) of the
//               rounds' ratios. (Random frames through one open reader in this process, the GUI's
//               case, are timed too, without a comparison: ffmpeg has no such mode.)
//   stepping:   frame N + 1 right after frame N, as a multiple of one frame's time in order
//   overlap:    every frame in order, each JPEG-encoded by the caller (as the JPEG-size sort does),
//               with and without the detector's decoding ahead
// The clip is made once with ffmpeg into a temporary folder and kept there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <jpeglib.h>

#include "bench/BenchSpawn.h"
#include "image/dib.h"
#include "video/MediaDetector.h"
#include "video/VideoFrameReader.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Processor seconds used so far by this process (all its threads) or by its finished children.
double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string MakeClip() {
    fs::path dir = fs::temp_directory_path() / "tessaron-bench-reader";
    std::error_code ec;
    fs::create_directories(dir, ec);
    fs::path clip = dir / "clip-1080p-h264-gop250.mp4";
    if (fs::exists(clip)) return clip.string();
    std::printf("making the clip (1920x1080, 25 fps, 10 s, x264 veryfast, 3 B-frames, GOP 250)...\n");
    std::fflush(stdout);
    fs::path temp = dir / ("making-" + std::to_string(::getpid()) + ".mp4");
    if (!Run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 -c:v libx264 "
             "-preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p " +
             Quote(temp.string())))
        return {};
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

struct Opened {
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
};

bool Open(Opened& o, const std::string& clip, bool readAhead) {
    o.info = &o.reader.Open(clip.c_str());
    if (!o.info->succeeded || !o.reader.Detector()) return false;
    o.reader.Detector()->SetReadAhead(readAhead);
    return true;
}

bool Read(Opened& o, int n) {
    uint8_t* block = o.reader.ReadFrame(*o.info, n);
    std::free(block);
    return block != nullptr;
}

// Seconds to read every frame in order; negative on failure.
double Sequential(const std::string& clip, bool readAhead, int* frames) {
    Opened o;
    if (!Open(o, clip, readAhead)) return -1;
    *frames = o.info->frameCount;
    auto t0 = Clock::now();
    for (int i = 0; i < o.info->frameCount; ++i)
        if (!Read(o, i)) return -1;
    return Seconds(t0, Clock::now());
}

// The caller's work per frame in the JPEG-size sort: a JPEG at quality 75 in memory; its size.
unsigned long EncodeJpeg(const uint8_t* block, int width, int height) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 75, TRUE);
    jpeg_start_compress(&c, TRUE);
    const int64_t stride = DibStride24(width);
    while (c.next_scanline < c.image_height) {
        // Bottom-up rows: the picture's top row is the block's last.
        JSAMPROW row = const_cast<JSAMPROW>(block + kDibHeaderSize + (height - 1 - int64_t(c.next_scanline)) * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::free(out);
    return size;
}

// Seconds to read and JPEG-encode every frame in order; negative on failure.
double SequentialWithJpeg(const std::string& clip, bool readAhead) {
    Opened o;
    if (!Open(o, clip, readAhead)) return -1;
    auto t0 = Clock::now();
    for (int i = 0; i < o.info->frameCount; ++i) {
        uint8_t* block = o.reader.ReadFrame(*o.info, i);
        if (!block) return -1;
        EncodeJpeg(block, o.info->width, o.info->height);
        std::free(block);
    }
    return Seconds(t0, Clock::now());
}

}  // namespace

int main() {
    setenv("TESSARON_MEDIA_DETECTOR", "1", 1);
    const std::string clip = MakeClip();
    if (clip.empty()) {
        std::fprintf(stderr, "bench_reader: cannot make the clip with ffmpeg\n");
        return 1;
    }

    // The machine may be shared: alternate the three runs and keep the best of each.
    int frames = 0;
    double oursSeq = 1e300, oursSeqNoAhead = 1e300, ffSeq = 1e300, oursCpu = 1e300, ffCpu = 1e300;
    for (int round = 0; round < 3; ++round) {
        double cpu0 = CpuSeconds(RUSAGE_SELF);
        oursSeq = std::min(oursSeq, Sequential(clip, true, &frames));
        oursCpu = std::min(oursCpu, CpuSeconds(RUSAGE_SELF) - cpu0);
        oursSeqNoAhead = std::min(oursSeqNoAhead, Sequential(clip, false, &frames));
        auto t0 = Clock::now();
        double child0 = CpuSeconds(RUSAGE_CHILDREN);
        if (Run("ffmpeg -nostdin -v error -i " + Quote(clip) + " -f rawvideo -pix_fmt bgr24 -y /dev/null")) {
            ffSeq = std::min(ffSeq, Seconds(t0, Clock::now()));
            ffCpu = std::min(ffCpu, CpuSeconds(RUSAGE_CHILDREN) - child0);
        } else {
            ffSeq = -1;
        }
    }
    if (oursSeq <= 0 || oursSeqNoAhead <= 0 || ffSeq <= 0 || frames <= 0) {
        std::fprintf(stderr, "bench_reader: sequential reading failed\n");
        return 1;
    }
    const double fps = frames / oursSeq, fpsNoAhead = frames / oursSeqNoAhead, ffFps = frames / ffSeq;
    std::printf("clip: %s, %d frames\n", clip.c_str(), frames);
    std::printf(
        "sequential: tessaron %.1f fps (%.1f without read-ahead), ffmpeg -> bgr24 %.1f fps, ratio %.2f "
        "(goal >= 1)\n",
        fps, fpsNoAhead, ffFps, fps / ffFps);
    std::printf("sequential processor time: tessaron %.1f ms/frame, ffmpeg %.1f ms/frame, ratio %.2f\n",
                oursCpu / frames * 1e3, ffCpu / frames * 1e3, ffCpu / oursCpu);

    // Random access, process against process: the same frames for both, alternating.
    std::mt19937 random(2024);
    Opened o;
    if (!Open(o, clip, true)) return 1;
    const double period = o.info->framePeriod;
    const std::string bmp =
        (fs::temp_directory_path() / ("tessaron-bench-reader-" + std::to_string(::getpid()) + ".bmp")).string();
    std::vector<double> ratios;
    double oursTotal = 0, theirsTotal = 0;
    for (int round = 0; round < 5; ++round) {
        double ours = 0, theirs = 0;
        for (int k = 0; k < 4; ++k) {
            const int n = int(random() % unsigned(frames));
            char ts[32];
            std::snprintf(ts, sizeof ts, "%.6f", n * period + 0.01 * period);
            const bench::Measure a = bench::RunTimed(
                {TESSARON_CLI, "frame", clip, std::to_string(n), "-o", bmp, "--force"});
            const bench::Measure b = bench::RunTimed(
                {"ffmpeg", "-nostdin", "-v", "error", "-ss", ts, "-i", clip, "-frames:v", "1", "-y", bmp});
            if (!a.ok || !b.ok) {
                std::fprintf(stderr, "bench_reader: tessaron-cli frame or ffmpeg -ss failed\n");
                return 1;
            }
            ours += a.wall;
            theirs += b.wall;
        }
        ratios.push_back(theirs / ours);
        oursTotal += ours;
        theirsTotal += theirs;
    }
    std::remove(bmp.c_str());
    const bench::Spread randomSpread = bench::SpreadOf(ratios);
    std::printf(
        "random frames, a process a frame each side (20 frames): tessaron-cli frame %.0f ms/frame, ffmpeg -ss "
        "%.0f ms/frame; %s x faster\n",
        oursTotal / 20 * 1e3, theirsTotal / 20 * 1e3, bench::Text(randomSpread).c_str());
    double inProcess = 0;
    for (int k = 0; k < 20; ++k) {
        const int n = int(random() % unsigned(frames));
        auto t0 = Clock::now();
        if (!Read(o, n)) return 1;
        inProcess += Seconds(t0, Clock::now());
    }
    std::printf("random frames through one open reader in this process: %.0f ms/frame (not compared)\n",
                inProcess / 20 * 1e3);
    bench::ReadmeRow("reader/bench_reader",
                     "random frames of 1080p H.264 (GOP 250), a process a frame each side: "
                     "`tessaron-cli frame` " +
                         bench::Text(randomSpread) + "x as fast as `ffmpeg -ss T -frames:v 1`");

    // Stepping: N + 1 right after a jump to N.
    double step = 0;
    int steps = 0;
    for (int k = 0; k < 20; ++k) {
        int n = int(random() % unsigned(frames - 1));
        if (!Read(o, n)) return 1;
        auto t0 = Clock::now();
        if (!Read(o, n + 1)) return 1;
        step += Seconds(t0, Clock::now());
        ++steps;
    }
    step /= steps;
    const double perFrame = oursSeqNoAhead / frames;
    std::printf("stepping N -> N+1: %.1f ms, one frame in order without read-ahead %.1f ms, ratio %.2f (goal <= 1.5)\n",
                step * 1e3, perFrame * 1e3, step / perFrame);
    MediaDetector::Counters c = o.reader.Detector()->GetCounters();
    std::printf("detector work in the random and stepping runs: %lld decoded, %lld seeks, %lld converted\n",
                (long long)c.decoded, (long long)c.seeks, (long long)c.converted);

    double withAhead = 1e300, withoutAhead = 1e300;
    for (int round = 0; round < 2; ++round) {
        withAhead = std::min(withAhead, SequentialWithJpeg(clip, true));
        withoutAhead = std::min(withoutAhead, SequentialWithJpeg(clip, false));
    }
    if (withAhead <= 0 || withoutAhead <= 0) return 1;
    std::printf("overlap (read + JPEG q75 per frame): %.1f fps with read-ahead, %.1f fps without, ratio %.2f\n",
                frames / withAhead, frames / withoutAhead, withoutAhead / withAhead);
    return 0;
}
