// tessaron-cli crop and export on a 10 s 1920x1080 H.264 clip (3 B-frames, one GOP of 250), beside the
// ffmpeg command line writing the same uncompressed AVI in the same run:
//   crop:   tessaron-cli crop clip --box 0,0,960,540 -o out.avi            (250 frames of 960x540)
//           ffmpeg -i clip -vf crop=960:540:0:0 -c:v rawvideo -pix_fmt bgr24 out.avi
//   export: tessaron-cli export clip --frames 0,1,...,99 -o out.avi       (100 whole frames)
//           ffmpeg -i clip -frames:v 100 -c:v rawvideo -pix_fmt bgr24 out.avi   (the same without the crop)
//   order:  tessaron-cli export clip20 --frames <60 frames shuffled> against the same frames sorted, on a
//           20 s clip of the same kind
// The two commands of a pair take turns, several rounds each, so a change in the machine's load falls on
// both; the best wall time of each counts (the machine may be shared), and the median is shown beside
// it. Outputs go to /dev/shm when it is there (what is measured is the programs, not the disk's
// write-back), are synced and removed after each run; the clip is kept in a temporary folder.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bench/BenchClips.h"
#include "bench/BenchSpawn.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;

using bench::Measure;
using bench::RunTimed;

struct Pair {
    Measure ours, theirs;  // best wall time of each
    double oursMedian = 0, theirsMedian = 0;
    uintmax_t ourBytes = 0, theirBytes = 0;
    bool ok = false;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The two commands in turns; each output is removed before and after its run.
Pair Compare(const std::vector<std::string>& ours, const std::string& ourOutput, const std::vector<std::string>& theirs,
             const std::string& theirOutput) {
    Pair pair;
    std::vector<double> oursWall, theirsWall;
    for (int i = 0; i < kRounds; ++i) {
        for (int side = 0; side < 2; ++side) {
            const std::string& output = side == 0 ? ourOutput : theirOutput;
            std::error_code ec;
            fs::remove(output, ec);
            ::sync();
            const Measure m = RunTimed(side == 0 ? ours : theirs);
            if (!m.ok) return pair;
            (side == 0 ? pair.ourBytes : pair.theirBytes) = fs::file_size(output, ec);
            fs::remove(output, ec);
            Measure& best = side == 0 ? pair.ours : pair.theirs;
            (side == 0 ? oursWall : theirsWall).push_back(m.wall);
            if (!best.ok || m.wall < best.wall) best = m;
        }
    }
    pair.oursMedian = Median(oursWall);
    pair.theirsMedian = Median(theirsWall);
    pair.ok = true;
    return pair;
}

// Where outputs go: memory when the machine has /dev/shm, else beside the clip.
fs::path OutputFolder(const fs::path& fallback) {
    std::error_code ec;
    const fs::path shm = "/dev/shm";
    if (fs::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0) {
        const fs::path dir = shm / ("tessaron-bench-export-" + std::to_string(::getpid()));
        if (fs::create_directories(dir, ec) || fs::is_directory(dir, ec)) return dir;
    }
    return fallback;
}

void Report(const char* what, const Pair& p, const char* ours = "tessaron-cli", const char* theirs = "ffmpeg",
            const char* goal = "1") {
    std::printf("%s:\n", what);
    std::printf("  %-12s %7.2f s wall (median %5.2f) %7.2f s cpu   %8.1f MiB written\n", ours, p.ours.wall,
                p.oursMedian, p.ours.cpu, double(p.ourBytes) / 1048576.0);
    std::printf("  %-12s %7.2f s wall (median %5.2f) %7.2f s cpu   %8.1f MiB written\n", theirs, p.theirs.wall,
                p.theirsMedian, p.theirs.cpu, double(p.theirBytes) / 1048576.0);
    std::printf("  ratio %s / %s = %.2f (goal <= %s), of medians %.2f, processor time %.2f\n\n", ours, theirs,
                p.ours.wall / p.theirs.wall, goal, p.oursMedian / p.theirsMedian, p.ours.cpu / p.theirs.cpu);
}

}  // namespace

int main() {
    const std::string clip = bench::MakeExportClip(10);
    if (clip.empty()) {
        std::printf("bench_export: cannot make the clip with ffmpeg\n");
        return 1;
    }
    const fs::path outputs = OutputFolder(bench::ExportClipFolder());
    const std::string ours = (outputs / "ours.avi").string();
    const std::string theirs = (outputs / "ffmpeg.avi").string();
    std::printf("bench_export: %d rounds, the two commands in turns, clip %s, outputs in %s\n\n", kRounds, clip.c_str(),
                outputs.c_str());

    const Pair crop = Compare({TESSARON_CLI, "crop", clip, "--box", "0,0,960,540", "-o", ours}, ours,
                              {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip, "-vf", "crop=960:540:0:0", "-c:v",
                               "rawvideo", "-pix_fmt", "bgr24", theirs},
                              theirs);
    if (!crop.ok) {
        std::printf("crop: a command failed\n");
        return 1;
    }
    Report("crop to a 960x540 box, 250 frames", crop);

    std::string frames;
    for (int i = 0; i < 100; ++i) frames += (i ? "," : "") + std::to_string(i);
    const Pair whole = Compare({TESSARON_CLI, "export", clip, "--frames", frames, "-o", ours}, ours,
                               {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip, "-frames:v", "100", "-c:v",
                                "rawvideo", "-pix_fmt", "bgr24", theirs},
                               theirs);
    if (!whole.ok) {
        std::printf("export: a command failed\n");
        return 1;
    }
    Report("export of frames 0 to 99, whole (1920x1080)", whole);

    // The same 60 frames in a shuffled and in ascending order, on a 20 s clip (two GOPs of 250).
    const std::string longClip = bench::MakeExportClip(20);
    if (longClip.empty()) {
        std::printf("bench_export: cannot make the 20 s clip with ffmpeg\n");
        return 1;
    }
    std::vector<int> frames60 = bench::SixtyShuffledFrames();
    const std::string shuffled = bench::FrameList(frames60);
    std::sort(frames60.begin(), frames60.end());
    const std::string sorted = bench::FrameList(frames60);
    const std::string other = (outputs / "sorted.avi").string();
    const Pair order = Compare({TESSARON_CLI, "export", longClip, "--frames", shuffled, "-o", ours}, ours,
                               {TESSARON_CLI, "export", longClip, "--frames", sorted, "-o", other}, other);
    if (!order.ok) {
        std::printf("export in list order: a command failed\n");
        return 1;
    }
    Report("export of 60 frames of a 20 s clip, shuffled against sorted", order, "shuffled", "sorted", "1.2");
    std::error_code ec;
    if (outputs != bench::ExportClipFolder()) fs::remove_all(outputs, ec);
    return 0;
}
