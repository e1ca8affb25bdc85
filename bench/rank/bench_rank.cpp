// tessaron-cli rank on 10 s 1920x1080 H.264 clips (3 B-frames, one GOP of 250), beside the ffmpeg
// command line on the same file in the same run:
//   floor:    ffmpeg -i clip -f rawvideo -pix_fmt bgr24 -y /dev/null   (decoding and conversion alone)
//   pipeline: ffmpeg -i clip -c:v mjpeg -q:v 5 -f null -              (what a user would script)
// Two clips: "plain" (ffmpeg's testsrc2 pattern, cheap to decode) and "grain" (the same with moving
// film grain, closer to camera footage). Each command runs several times; the best wall time counts,
// since the machine may be shared. Memory: peak resident size of rank on the plain clip and on one
// four times longer (the same GOPs repeated), which should be the same.
// Clips are made once into a temporary folder and kept there.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bench/BenchSpawn.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

using bench::Measure;
using bench::Now;
using bench::RunTimed;

Measure Best(const std::vector<std::string>& argv) {
    Measure best;
    for (int i = 0; i < kRounds; ++i) {
        const Measure m = RunTimed(argv);
        if (!m.ok) return m;
        if (!best.ok || m.wall < best.wall) best = m;
    }
    return best;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

fs::path Folder() {
    fs::path dir = fs::temp_directory_path() / "tessaron-bench-rank";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

// The clip, made with ffmpeg unless it is there already.
std::string MakeClip(const std::string& name, const std::string& filter) {
    const fs::path clip = Folder() / (name + ".mp4");
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (1920x1080, 25 fps, 10 s, x264 veryfast, 3 B-frames, GOP 250)...\n", clip.c_str());
    std::fflush(stdout);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + ".mp4");
    if (!Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 " + filter +
               " -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p " +
               Quote(temp.string())))
        return {};
    std::error_code ec;
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

// The clip four times over, by stream copy (every repeat starts with its key frame).
std::string MakeLongClip(const std::string& clip) {
    const fs::path longer = Folder() / "plain-40s.mp4";
    if (fs::exists(longer)) return longer.string();
    const fs::path list = Folder() / "list.txt";
    std::FILE* f = std::fopen(list.c_str(), "w");
    if (!f) return {};
    for (int i = 0; i < 4; ++i) std::fprintf(f, "file %s\n", Quote(clip).c_str());
    std::fclose(f);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + ".mp4");
    if (!Shell("ffmpeg -nostdin -v error -y -f concat -safe 0 -i " + Quote(list.string()) + " -c copy " +
               Quote(temp.string())))
        return {};
    std::error_code ec;
    fs::rename(temp, longer, ec);
    return ec ? std::string() : longer.string();
}

void Row(const char* what, const Measure& m, const Measure& floor) {
    std::printf("  %-34s %7.2f s wall %7.2f s cpu   %5.2f x floor\n", what, m.wall, m.cpu, m.wall / floor.wall);
}

bool Compare(const char* name, const std::string& clip) {
    const Measure floor = Best(
        {"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-f", "rawvideo", "-pix_fmt", "bgr24", "-y", "/dev/null"});
    const Measure rank = Best({TESSARON_CLI, "rank", clip});
    const Measure pipeline = Best(
        {"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-c:v", "mjpeg", "-q:v", "5", "-f", "null", "-"});
    if (!floor.ok || !rank.ok || !pipeline.ok) {
        std::printf("%s: a command failed\n", name);
        return false;
    }
    std::printf("%s clip, 250 frames, best of %d:\n", name, kRounds);
    Row("ffmpeg decode to bgr24 (floor)", floor, floor);
    Row("tessaron-cli rank", rank, floor);
    Row("ffmpeg mjpeg -q:v 5 pipeline", pipeline, floor);
    std::printf("  rank / floor = %.2f (goal <= 1.5), rank / pipeline = %.2f (goal < 1), rank %.1f frames/s\n",
                rank.wall / floor.wall, rank.wall / pipeline.wall, 250.0 / rank.wall);
    // On a busy machine the processor time says more than the wall time.
    std::printf("  processor time: rank / floor = %.2f, rank / pipeline = %.2f\n\n", rank.cpu / floor.cpu,
                rank.cpu / pipeline.cpu);
    return true;
}

}  // namespace

int main() {
    const std::string plain = MakeClip("plain-10s", "");
    const std::string grain = MakeClip("grain-10s", "-vf noise=alls=8:allf=t");
    const std::string longer = plain.empty() ? std::string() : MakeLongClip(plain);
    if (plain.empty() || grain.empty() || longer.empty()) {
        std::printf("bench_rank: cannot make the clips with ffmpeg\n");
        return 1;
    }
    std::printf("bench_rank: tessaron-cli rank (quality 25) beside ffmpeg, clips in %s\n\n", Folder().c_str());
    bool ok = Compare("plain", plain);
    ok = Compare("grain", grain) && ok;

    const Measure shortRun = RunTimed({TESSARON_CLI, "rank", plain});
    const Measure longRun = RunTimed({TESSARON_CLI, "rank", longer});
    if (!shortRun.ok || !longRun.ok) {
        std::printf("memory: rank failed\n");
        return 1;
    }
    std::printf("memory: peak resident size of rank: 10 s clip %ld KiB, 40 s clip %ld KiB, ratio %.2f (flat: 1.0)\n",
                shortRun.peakKb, longRun.peakKb, double(longRun.peakKb) / double(shortRun.peakKb));
    return ok ? 0 : 1;
}
