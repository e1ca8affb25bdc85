// What image sets for pipelines cost, each against a reference run in the same rounds:
//   local sharpness: tessaron-cli rank --score local-sharpness on a 10 s 1920x1080 H.264 clip beside
//                    ffmpeg -f rawvideo -pix_fmt yuv420p (decoding alone; goal: at most 1.15x);
//   --min-change:    pick --every 0.5s with --min-change 2 beside the same pick without it (the
//                    thumbnails it needs are made only then; goal: at most 1.05x), with the JPEG score
//                    and with the sharpness score (where the pick costs little more than decoding);
//   origin:          export of 100 frames as JPEG (quality 95) from a clip whose container holds
//                    camera, time and GPS tags, beside the same export with --no-origin (goal: at most
//                    1.05x).
// 5 alternating rounds, median (range) of the per-round ratios of processor time and of wall time.
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

using bench::Measure;
using bench::Ratio;
using bench::Text;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

fs::path Folder() {
    fs::path dir = fs::temp_directory_path() / "tessaron-bench-picksets";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

// A clip made with ffmpeg unless it is there already.
std::string MakeClip(const std::string& name, const std::string& args) {
    const fs::path clip = Folder() / name;
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s...\n", clip.c_str());
    std::fflush(stdout);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + clip.extension().string());
    if (std::system(("ffmpeg -nostdin -v error -y " + args + " " + Quote(temp.string())).c_str()) != 0) return {};
    std::error_code ec;
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

void Row(const char* what, const std::vector<Measure>& a, const std::vector<Measure>& b) {
    std::printf("  %-58s %s | %s\n", what, Text(Ratio(a, b, true)).c_str(), Text(Ratio(a, b, false)).c_str());
}

}  // namespace

int main() {
    const std::string clip = MakeClip("plain-10s.mp4",
                                      "-f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 -c:v libx264 -preset veryfast "
                                      "-bf 3 -g 250 -pix_fmt yuv420p");
    const std::string tagged =
        MakeClip("tagged-4s.mov",
                 "-f lavfi -i testsrc2=size=1920x1080:rate=25 -t 4 -c:v libx264 -preset veryfast -pix_fmt yuv420p "
                 "-movflags use_metadata_tags -metadata com.apple.quicktime.make=Apple -metadata "
                 "com.apple.quicktime.model=iPhone -metadata com.apple.quicktime.creationdate=2024-05-01T12:20:30+0200 "
                 "-metadata com.apple.quicktime.location.ISO6709=+48.8584+002.2945+035.000/");
    if (clip.empty() || tagged.empty()) {
        std::printf("bench_picksets: cannot make the clips with ffmpeg\n");
        return 1;
    }
    const std::string out = (Folder() / "out").string() + "/";
    std::string frames;
    for (int f = 0; f < 100; ++f) frames += (f ? "," : "") + std::to_string(f);
    std::printf(
        "bench_picksets: clips in %s; %d alternating rounds, median (range); load average %.2f on %ld processors\n\n",
        Folder().c_str(), kRounds, bench::LoadAverage(), ::sysconf(_SC_NPROCESSORS_ONLN));
    const std::string cli = TESSARON_CLI;
    const auto runs = bench::Alternate(
        {{"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-y", "/dev/null"},
         {cli, "rank", "--score", "local-sharpness", clip},
         {cli, "pick", "--every", "0.5s", clip},
         {cli, "pick", "--every", "0.5s", "--min-change", "2", clip},
         {cli, "pick", "--every", "0.5s", "--score", "sharpness", clip},
         {cli, "pick", "--every", "0.5s", "--score", "sharpness", "--min-change", "2", clip},
         {cli, "export", tagged, "--frames", frames, "--format", "jpg", "--force", "-o", out},
         {cli, "export", tagged, "--frames", frames, "--format", "jpg", "--force", "--no-origin", "-o", out}},
        kRounds);
    if (runs.empty()) {
        std::printf("bench_picksets: a command failed\n");
        return 1;
    }
    std::printf("ratios per round, median (range), processor time | wall time:\n");
    Row("rank --score local-sharpness / yuv420p decode (goal <= 1.15)", runs[1], runs[0]);
    Row("pick --min-change 2 / pick, JPEG score (goal <= 1.05)", runs[3], runs[2]);
    Row("pick --min-change 2 / pick, sharpness score", runs[5], runs[4]);
    Row("100 JPEGs with origin / without (goal <= 1.05)", runs[6], runs[7]);
    std::printf("\n");
    bench::ReadmeRow("picksets/bench_picksets",
                     "`rank --score local-sharpness`, 10 s 1080p H.264: " + Text(Ratio(runs[1], runs[0], true)) +
                         "x the processor time, " + Text(Ratio(runs[1], runs[0], false)) +
                         "x the wall time of `ffmpeg -f rawvideo -pix_fmt yuv420p`");
    bench::ReadmeRow("picksets/bench_picksets", "`pick --every 0.5s --min-change 2` / the same pick without it: " +
                                                    Text(Ratio(runs[3], runs[2], true)) +
                                                    "x the processor time (JPEG score), " +
                                                    Text(Ratio(runs[5], runs[4], true)) + "x (sharpness score)");
    bench::ReadmeRow("picksets/bench_picksets",
                     "100 JPEGs (1080p, quality 95) with their origin (EXIF and XMP) / with `--no-origin`: " +
                         Text(Ratio(runs[6], runs[7], true)) + "x the processor time, " +
                         Text(Ratio(runs[6], runs[7], false)) + "x the wall time");
    return 0;
}
