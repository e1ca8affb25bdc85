// Picking frames and writing image files, on a 10 s 1920x1080 H.264 clip, each beside a reference in
// the same run:
//   pick:  tessaron-cli pick clip --every 1s           beside   tessaron-cli rank clip   (goal <= 1.05)
//   png:   tessaron-cli export clip --frames 0..99 -o DIR/ --format png
//          beside ffmpeg -i clip -frames:v 100 -pix_fmt rgb24 DIR/%03d.png   (goal <= 1, bytes <= 1.05)
//   jpeg:  the same with --format jpg --jpeg-quality 95 beside ffmpeg ... -q:v 2 DIR/%03d.jpg (goal <= 1)
// The two commands of a pair take turns, five rounds; medians of the wall times count. Outputs go to
// /dev/shm when it is there (the programs are measured, not the disk) and are removed after each run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/BenchSpawn.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;

struct Pair {
    double ours = 0, theirs = 0;  // median wall seconds
    std::vector<double> ratios;   // ours / theirs of each round
    uintmax_t ourBytes = 0, theirBytes = 0;
    bool ok = false;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

uintmax_t FolderBytes(const fs::path& dir) {
    uintmax_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename() != "frames.csv") total += entry.file_size(ec);
    return total;
}

// The two commands in turns; each writes into its own emptied folder (empty path: no output).
Pair Compare(const std::vector<std::string>& ours, const fs::path& ourDir, const std::vector<std::string>& theirs,
             const fs::path& theirDir) {
    Pair pair;
    std::vector<double> oursWall, theirsWall;
    for (int i = 0; i < kRounds; ++i) {
        for (int side = 0; side < 2; ++side) {
            const fs::path& dir = side == 0 ? ourDir : theirDir;
            std::error_code ec;
            if (!dir.empty()) {
                fs::remove_all(dir, ec);
                fs::create_directories(dir, ec);
            }
            ::sync();
            const bench::Measure m = bench::RunTimed(side == 0 ? ours : theirs);
            if (!m.ok) return pair;
            if (!dir.empty()) (side == 0 ? pair.ourBytes : pair.theirBytes) = FolderBytes(dir);
            if (!dir.empty()) fs::remove_all(dir, ec);
            (side == 0 ? oursWall : theirsWall).push_back(m.wall);
        }
        pair.ratios.push_back(oursWall.back() / theirsWall.back());
    }
    pair.ours = Median(oursWall);
    pair.theirs = Median(theirsWall);
    pair.ok = true;
    return pair;
}

fs::path Folder() {
    fs::path dir = fs::temp_directory_path() / "tessaron-bench-export";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

fs::path OutputFolder() {
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0)
        return fs::path("/dev/shm") / ("tessaron-bench-images-" + std::to_string(::getpid()));
    return Folder() / ("images-" + std::to_string(::getpid()));
}

// The clip bench_export makes (and shares).
std::string MakeClip() {
    const fs::path clip = Folder() / "clip-1080p-10s.mp4";
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (1920x1080, 25 fps, 10 s, x264 veryfast, 3 B-frames, GOP 250)...\n", clip.c_str());
    std::fflush(stdout);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + ".mp4");
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 -c:v libx264 -preset veryfast "
        "-bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p '" +
        temp.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::error_code ec;
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

// what: the README's description of the comparison, with %s where "M (lo-hi)x" goes.
bool Report(const char* what, const char* reference, const Pair& p, bool sizes, const char* readme) {
    if (!p.ok) {
        std::printf("%s: a command failed\n", what);
        return false;
    }
    std::printf("%s:\n  tessaron-cli %6.2f s   %s %6.2f s   ratio %.2f\n", what, p.ours, reference, p.theirs,
                p.ours / p.theirs);
    if (sizes)
        std::printf("  bytes: %.1f MiB beside %.1f MiB, ratio %.3f\n", double(p.ourBytes) / 1048576.0,
                    double(p.theirBytes) / 1048576.0, double(p.ourBytes) / double(p.theirBytes));
    const auto [low, high] = std::minmax_element(p.ratios.begin(), p.ratios.end());
    char ratio[64];
    std::snprintf(ratio, sizeof ratio, "%.2f (%.2f-%.2f)x", Median(p.ratios), *low, *high);
    std::string row = readme;
    row.replace(row.find("%s"), 2, ratio);
    if (sizes)
        row += "; files " + std::to_string(double(p.ourBytes) / double(p.theirBytes)).substr(0, 4) + "x its size";
    std::printf("README| `images/bench_images` | %s |\n\n", row.c_str());
    return true;
}

}  // namespace

int main() {
    const std::string clip = MakeClip();
    if (clip.empty()) {
        std::printf("bench_images: cannot make the clip with ffmpeg\n");
        return 1;
    }
    const fs::path out = OutputFolder();
    const fs::path ours = out / "ours", theirs = out / "ffmpeg";
    std::printf("bench_images: %d rounds, the two commands in turns, medians; clip %s, outputs in %s\n\n", kRounds,
                clip.c_str(), out.c_str());
    bool ok = Report("pick --every 1s beside rank (goal <= 1.05)", "rank",
                     Compare({TESSARON_CLI, "pick", clip, "--every", "1s"}, {}, {TESSARON_CLI, "rank", clip}, {}),
                     false, "`tessaron-cli pick --every 1s`, 10 s 1080p H.264: %s the time of `tessaron-cli rank`");

    std::string frames;
    for (int i = 0; i < 100; ++i) frames += (i ? "," : "") + std::to_string(i);
    const std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip, "-frames:v", "100"};
    std::vector<std::string> theirPng = ffmpeg, theirJpeg = ffmpeg;
    for (const char* a : {"-pix_fmt", "rgb24"}) theirPng.push_back(a);
    theirPng.push_back((theirs / "%03d.png").string());
    for (const char* a : {"-q:v", "2"}) theirJpeg.push_back(a);
    theirJpeg.push_back((theirs / "%03d.jpg").string());
    ok = Report("100 PNGs (goal <= 1, bytes <= 1.05)", "ffmpeg",
                Compare({TESSARON_CLI, "export", clip, "--frames", frames, "-o", ours.string() + "/", "--format",
                         "png"},
                        ours, theirPng, theirs),
                true, "100 1080p PNGs: %s the time of `ffmpeg -frames:v 100 -pix_fmt rgb24 %03d.png`") &&
         ok;
    ok = Report("100 JPEGs at quality 95 beside -q:v 2 (goal <= 1)", "ffmpeg",
                Compare({TESSARON_CLI, "export", clip, "--frames", frames, "-o", ours.string() + "/", "--format", "jpg",
                         "--jpeg-quality", "95"},
                        ours, theirJpeg, theirs),
                true, "100 1080p JPEGs at quality 95: %s the time of `ffmpeg -frames:v 100 -q:v 2 %03d.jpg`") &&
         ok;
    std::error_code ec;
    fs::remove_all(out, ec);
    return ok ? 0 : 1;
}
