// tessaron-cli rank on a 10 s 1920x1080 H.264 clip (ffmpeg's testsrc2 pattern, 3 B-frames, one GOP of
// 250), 8-bit and the same picture in 10-bit, beside the ffmpeg command line on the same file. Every
// side is one process reading the whole file once:
//   floor:    ffmpeg -i clip -f rawvideo -pix_fmt bgr24 -y /dev/null   (decoding and conversion alone)
//   pipeline: ffmpeg -i clip -c:v mjpeg -q:v 5 -f null -              (what a user would script)
//   decode:   ffmpeg -i clip -f rawvideo -pix_fmt yuv420p -y /dev/null (decoding alone, for the
//             sharpness score: rank --score sharpness reads the luma as decoded)
// The commands run in turn, 5 rounds (alternating, so load changes hit all alike); the figures are the
// median and range of the per-round ratios. With TESSARON_BASELINE_CLI set to another tessaron-cli
// (an older build, say), its rank on the 8-bit clip joins the rounds and the processor times are
// compared. Memory: peak resident size of rank on the clip and on one four times longer (the same GOPs
// repeated), which should be the same. Clips are made once into a temporary folder and kept there.
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

constexpr int kRounds = 5;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

using bench::Measure;
using bench::Ratio;
using bench::RunTimed;
using bench::Text;

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

fs::path Folder() {
    fs::path dir = fs::temp_directory_path() / "tessaron-bench-rank";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

// The clip, made with ffmpeg unless it is there already.
std::string MakeClip(const std::string& name, const std::string& filter, const std::string& pixelFormat) {
    const fs::path clip = Folder() / (name + ".mp4");
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (1920x1080, 25 fps, 10 s, x264 veryfast, 3 B-frames, GOP 250, %s)...\n", clip.c_str(),
                pixelFormat.c_str());
    std::fflush(stdout);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + ".mp4");
    if (!Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 " + filter +
               " -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt " + pixelFormat +
               " " + Quote(temp.string())))
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

std::vector<std::string> Floor(const std::string& clip) {
    return {"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-f", "rawvideo", "-pix_fmt", "bgr24", "-y", "/dev/null"};
}
std::vector<std::string> Decode(const std::string& clip) {
    return {"ffmpeg", "-nostdin", "-v",       "error",   "-i", clip,
            "-f",     "rawvideo", "-pix_fmt", "yuv420p", "-y", "/dev/null"};
}
std::vector<std::string> Pipeline(const std::string& clip) {
    return {"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-c:v", "mjpeg", "-q:v", "5", "-f", "null", "-"};
}

void Times(const char* what, const std::vector<Measure>& runs) {
    std::vector<double> wall, cpu;
    for (const Measure& m : runs) wall.push_back(m.wall), cpu.push_back(m.cpu);
    std::printf("  %-40s wall %s s, processor %s s\n", what, Text(bench::SpreadOf(wall)).c_str(),
                Text(bench::SpreadOf(cpu)).c_str());
}

}  // namespace

int main() {
    const std::string plain = MakeClip("plain-10s", "", "yuv420p");
    const std::string deep = MakeClip("plain-10s-10bit", "", "yuv420p10le");
    const std::string longer = plain.empty() ? std::string() : MakeLongClip(plain);
    if (plain.empty() || deep.empty() || longer.empty()) {
        std::printf("bench_rank: cannot make the clips with ffmpeg\n");
        return 1;
    }
    const char* baseline = std::getenv("TESSARON_BASELINE_CLI");
    std::printf(
        "bench_rank: tessaron-cli rank (quality 25) beside ffmpeg, one process a side, the whole clip each;\n"
        "clips in %s; %d alternating rounds, median (range); load average %.2f on %ld processors\n\n",
        Folder().c_str(), kRounds, bench::LoadAverage(), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::vector<std::vector<std::string>> commands = {Floor(plain),
                                                      {TESSARON_CLI, "rank", plain},
                                                      Pipeline(plain),
                                                      {TESSARON_CLI, "rank", deep},
                                                      Pipeline(deep),
                                                      Decode(plain),
                                                      {TESSARON_CLI, "rank", "--score", "sharpness", plain}};
    if (baseline && *baseline) commands.push_back({baseline, "rank", plain});
    const auto runs = bench::Alternate(commands, kRounds);
    if (runs.empty()) {
        std::printf("bench_rank: a command failed\n");
        return 1;
    }
    const auto &floor = runs[0], &rank = runs[1], &pipeline = runs[2], &rank10 = runs[3], &pipeline10 = runs[4];
    const auto &decode = runs[5], &sharpness = runs[6];
    Times("ffmpeg decode to bgr24 (floor), 8-bit", floor);
    Times("tessaron-cli rank, 8-bit", rank);
    Times("ffmpeg mjpeg -q:v 5 pipeline, 8-bit", pipeline);
    Times("tessaron-cli rank, 10-bit", rank10);
    Times("ffmpeg mjpeg -q:v 5 pipeline, 10-bit", pipeline10);
    Times("ffmpeg decode to yuv420p, 8-bit", decode);
    Times("tessaron-cli rank --score sharpness, 8-bit", sharpness);
    if (runs.size() > 7) Times("baseline tessaron-cli rank, 8-bit", runs[7]);
    std::printf("\nratios per round, median (range), wall time | processor time:\n");
    const auto both = [](const char* what, const std::vector<Measure>& a, const std::vector<Measure>& b) {
        std::printf("  %-40s %s | %s\n", what, Text(Ratio(a, b, false)).c_str(), Text(Ratio(a, b, true)).c_str());
    };
    both("8-bit rank / floor", rank, floor);
    both("8-bit rank / pipeline (goal < 1)", rank, pipeline);
    both("10-bit rank / 8-bit rank (goal <= 1.15)", rank10, rank);
    both("10-bit rank / 10-bit pipeline (goal < 1)", rank10, pipeline10);
    both("sharpness rank / yuv420p decode (goal <= 1.15)", sharpness, decode);
    if (runs.size() > 7) both("8-bit rank / baseline rank (goal <= 0.95)", rank, runs[7]);
    std::printf("\n");

    const Measure shortRun = RunTimed({TESSARON_CLI, "rank", plain});
    const Measure longRun = RunTimed({TESSARON_CLI, "rank", longer});
    if (!shortRun.ok || !longRun.ok) {
        std::printf("memory: rank failed\n");
        return 1;
    }
    std::printf("memory: peak resident size of rank: 10 s clip %ld KiB, 40 s clip %ld KiB, ratio %.2f (flat: 1.0)\n",
                shortRun.peakKb, longRun.peakKb, double(longRun.peakKb) / double(shortRun.peakKb));
    // Processor time: on a shared machine it says more than the wall time.
    bench::ReadmeRow("rank/bench_rank",
                     "`tessaron-cli rank`, 10 s 1080p H.264, 8-bit, processor time: " + Text(Ratio(rank, floor, true)) +
                         "x the decoding floor (`ffmpeg -f rawvideo -pix_fmt bgr24`), " +
                         Text(Ratio(rank, pipeline, true)) + "x `ffmpeg -c:v mjpeg -q:v 5`");
    bench::ReadmeRow("rank/bench_rank", "the same clip in 10-bit, processor time: " + Text(Ratio(rank10, rank, true)) +
                                            "x the 8-bit clip's; " + Text(Ratio(rank10, pipeline10, true)) +
                                            "x `ffmpeg -c:v mjpeg -q:v 5` on it");
    bench::ReadmeRow("rank/bench_rank",
                     "`tessaron-cli rank --score sharpness`, the 8-bit clip: " + Text(Ratio(sharpness, decode, false)) +
                         "x the wall time, " + Text(Ratio(sharpness, decode, true)) +
                         "x the processor time of `ffmpeg -f rawvideo -pix_fmt yuv420p`");
    return 0;
}
