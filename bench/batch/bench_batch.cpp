// tessaron-cli batch --jobs 2 over 20 short clips, beside GNU parallel running tessaron-cli pick two at
// a time over the same clips (parallel -j2 tessaron-cli pick {} ... -o DIR/{/.}): the same picks and
// images, the same two at a time. Five rounds, the sides in turn, each into an emptied folder; the
// figure is the median (range) of the per-round ratios of the wall times (goal <= 1.05). Memory: the
// peak resident size of the largest process of batch --jobs 1 (each video runs in a process of its own)
// beside the largest of pick run alone on each clip (goal <= 1).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/BenchSpawn.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;
constexpr int kClips = 20;

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

void Empty(const fs::path& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
}

}  // namespace

int main() {
    if (!Run("command -v parallel >/dev/null")) {
        std::printf("bench_batch: GNU parallel is missing (scripts/install-deps.sh installs it)\n");
        return 1;
    }
    const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
    const fs::path work = base / ("tessaron-bench-batch-" + std::to_string(::getpid()));
    fs::create_directories(work / "clips");
    std::vector<std::string> clips;
    for (int i = 0; i < kClips; ++i) {
        const std::string clip = (work / "clips" / ("clip" + std::to_string(i) + ".mp4")).string();
        const std::string make = "ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=3,hue=h=" +
                                 std::to_string(i * 17) + " -c:v libx264 -g 25 -pix_fmt yuv420p '" + clip + "'";
        if (!Run(make)) {
            std::printf("bench_batch: ffmpeg could not make the clips\n");
            fs::remove_all(work);
            return 1;
        }
        clips.push_back(clip);
    }
    const std::vector<std::string> rule = {"--count", "5"};
    const fs::path ours = work / "batch", theirs = work / "parallel";
    std::vector<std::string> batch = {TESSARON_CLI, "batch", "--jobs", "2", "-o", ours.string()};
    batch.insert(batch.end(), rule.begin(), rule.end());
    batch.insert(batch.end(), clips.begin(), clips.end());
    std::vector<std::string> parallel = {"parallel", "-j2", TESSARON_CLI, "pick", "{}"};
    parallel.insert(parallel.end(), rule.begin(), rule.end());
    parallel.insert(parallel.end(), {"-o", (theirs / "{/.}").string(), ":::"});
    parallel.insert(parallel.end(), clips.begin(), clips.end());

    std::vector<bench::Measure> a, b;
    for (int round = 0; round < kRounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            Empty(side == 0 ? ours : theirs);
            ::sync();
            (side == 0 ? a : b).push_back(bench::RunTimed(side == 0 ? batch : parallel));
        }
    }
    // Memory per video: batch one at a time against pick alone on each clip.
    Empty(ours);
    std::vector<std::string> single = batch;
    single[3] = "1";
    const bench::Measure batchOne = bench::RunTimed(single);
    long pickPeak = 0;
    bool picksOk = true;
    for (const std::string& clip : clips) {
        Empty(theirs);
        std::vector<std::string> pick = {TESSARON_CLI, "pick", clip, "-o", theirs.string()};
        pick.insert(pick.end(), rule.begin(), rule.end());
        const bench::Measure m = bench::RunTimed(pick);
        picksOk = picksOk && m.ok;
        pickPeak = std::max(pickPeak, m.peakKb);
    }
    fs::remove_all(work);

    bool ok = batchOne.ok && picksOk;
    for (int i = 0; i < kRounds; ++i) ok = ok && a[size_t(i)].ok && b[size_t(i)].ok;
    if (!ok) {
        std::printf("bench_batch: a run failed\n");
        return 1;
    }
    const bench::Spread wall = bench::Ratio(a, b, false), cpu = bench::Ratio(a, b, true);
    std::vector<double> aw, bw;
    for (int i = 0; i < kRounds; ++i) aw.push_back(a[size_t(i)].wall), bw.push_back(b[size_t(i)].wall);
    std::printf("batch --jobs 2, %d clips 320x240 3 s H.264, --count 5 to PNG: %s s; parallel -j2 pick: %s s\n", kClips,
                bench::Text(bench::SpreadOf(aw)).c_str(), bench::Text(bench::SpreadOf(bw)).c_str());
    std::printf("  wall time ratio %sx (goal <= 1.05), processor time ratio %sx\n", bench::Text(wall).c_str(),
                bench::Text(cpu).c_str());
    std::printf("  peak memory of a video: batch %ld kB, pick alone %ld kB: %.2fx (goal <= 1)\n", batchOne.peakKb,
                pickPeak, pickPeak > 0 ? double(batchOne.peakKb) / double(pickPeak) : 0.0);
    char figure[300];
    std::snprintf(figure, sizeof figure,
                  "`tessaron-cli batch --jobs 2` over 20 short clips: %sx the wall time of `parallel -j2 tessaron-cli "
                  "pick` (processor time %sx); %.2fx its peak memory per video",
                  bench::Text(wall).c_str(), bench::Text(cpu).c_str(),
                  pickPeak > 0 ? double(batchOne.peakKb) / double(pickPeak) : 0.0);
    bench::ReadmeRow("batch/bench_batch", figure);
    return 0;
}
