// The picture index, beside the ffmpeg command line on the same files:
//   index:   opening a 20-minute 1920x1080 H.264 file never seen before (tessaron-cli info, the cache
//            off), in MPEG-TS, MP4 and Matroska, against ffmpeg's copy pass over its video
//            (ffmpeg -v error -i F -map 0:v:0 -c copy -f null -), which reads every packet as the
//            index pass does. Goal: at most 1.2.
//   reopen:  opening the 20-minute MP4 again with its index cached, against opening a 10-second clip
//            (also cached). Goal: at most 1.2.
// With TESSARON_BASELINE_CLI set to an older tessaron-cli, the same work through both, on the 10 s
// clip (one key frame every 250): random frames (tessaron-cli frame N, one process each), frames in
// order (export of 100 frames) and rank; goal: at most 1.05 of the older build.
// Every comparison runs its sides in turn, 5 rounds, and prints the median (range) of the per-round
// ratios. Files are made once (the long ones by repeating one minute with stream copy) and kept in
// a temporary folder.
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

std::string Quote(const std::string& s) { return "'" + s + "'"; }
bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

fs::path Folder() {
    const fs::path dir = fs::temp_directory_path() / "tessaron-bench-index";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

// Made by command (which writes $OUT) unless it is there already.
std::string Make(const std::string& name, const std::string& command) {
    const fs::path file = Folder() / name;
    if (fs::exists(file)) return file.string();
    std::printf("making %s...\n", file.c_str());
    std::fflush(stdout);
    const fs::path temp = Folder() / ("making-" + std::to_string(::getpid()) + "-" + name);
    if (!Shell("OUT=" + Quote(temp.string()) + " bash -c " + Quote(command))) return {};
    std::error_code ec;
    fs::rename(temp, file, ec);
    return ec ? std::string() : file.string();
}

std::vector<std::string> Env(const std::vector<std::string>& assignments, std::vector<std::string> command) {
    std::vector<std::string> all = {"env"};
    all.insert(all.end(), assignments.begin(), assignments.end());
    all.insert(all.end(), command.begin(), command.end());
    return all;
}

void Row(const char* what, const std::vector<bench::Measure>& a, const std::vector<bench::Measure>& b,
         const char* readme) {
    const std::string wall = bench::Text(bench::Ratio(a, b, false)), cpu = bench::Text(bench::Ratio(a, b, true));
    std::printf("  %-58s %s | %s\n", what, wall.c_str(), cpu.c_str());
    if (readme) bench::ReadmeRow("bench_index", std::string(readme) + ": " + wall);
}

double Median(const std::vector<bench::Measure>& runs) {
    std::vector<double> wall;
    for (const bench::Measure& m : runs) wall.push_back(m.wall);
    return bench::SpreadOf(wall).median;
}

}  // namespace

int main() {
    const std::string minute = Make("minute-1080p.ts",
                                    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 60 "
                                    "-c:v libx264 -preset ultrafast -bf 2 -g 250 -sc_threshold 0 -pix_fmt yuv420p "
                                    "-f mpegts \"$OUT\"");
    const std::string list = (Folder() / "twenty.txt").string();
    if (std::FILE* f = std::fopen(list.c_str(), "w")) {
        for (int i = 0; i < 20; ++i) std::fprintf(f, "file %s\n", Quote(minute).c_str());
        std::fclose(f);
    }
    const std::string concat = "ffmpeg -nostdin -v error -y -f concat -safe 0 -i " + Quote(list) + " -c copy ";
    const std::string ts = minute.empty() ? "" : Make("twenty-1080p.ts", concat + "-f mpegts \"$OUT\"");
    const std::string mp4 = minute.empty() ? "" : Make("twenty-1080p.mp4", concat + "-f mp4 \"$OUT\"");
    const std::string mkv = minute.empty() ? "" : Make("twenty-1080p.mkv", concat + "-f matroska \"$OUT\"");
    const std::string clip = Make("clip-10s-1080p.mp4",
                                  "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 "
                                  "-c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "
                                  "-pix_fmt yuv420p -f mp4 \"$OUT\"");
    if (ts.empty() || mp4.empty() || mkv.empty() || clip.empty()) {
        std::printf("bench_index: cannot make the files with ffmpeg\n");
        return 1;
    }
    const std::string cache = "XDG_CACHE_HOME=" + (Folder() / "cache").string();
    std::printf(
        "bench_index: files in %s; %d alternating rounds, median (range) of the per-round ratios, wall | "
        "processor time; load average %.2f on %ld processors\n\n",
        Folder().c_str(), kRounds, bench::LoadAverage(), ::sysconf(_SC_NPROCESSORS_ONLN));

    const auto copyPass = [](const std::string& f) {
        return std::vector<std::string>{"ffmpeg", "-nostdin", "-v",   "error", "-i",   f,  "-map",
                                        "0:v:0",  "-c",       "copy", "-f",    "null", "-"};
    };
    const auto info = [&](const std::string& f, bool cached) {
        return Env({cache, std::string("TESSARON_INDEX_CACHE=") + (cached ? "1" : "0")}, {TESSARON_CLI, "info", f});
    };
    int status = 0;
    std::printf("index of a 20-minute 1080p file never opened before / ffmpeg's copy pass (goal <= 1.2):\n");
    for (const auto& [name, file] :
         {std::pair<const char*, std::string>{"MPEG-TS", ts}, {"MP4", mp4}, {"Matroska", mkv}}) {
        const auto runs = bench::Alternate({info(file, false), copyPass(file)}, kRounds);
        if (runs.empty()) {
            std::printf("  %s: a command failed\n", name);
            status = 1;
            continue;
        }
        std::printf("  %-10s index %.2f s, copy pass %.2f s\n", name, Median(runs[0]), Median(runs[1]));
        Row((std::string("index / copy pass, ") + name).c_str(), runs[0], runs[1],
            (std::string("index of 20 min 1080p ") + name + " / ffmpeg -c copy pass (goal <= 1.2)").c_str());
    }

    // Both indexes in the cache first.
    bench::RunTimed(info(mp4, true));
    bench::RunTimed(info(clip, true));
    const auto reopen = bench::Alternate({info(mp4, true), info(clip, true)}, kRounds);
    if (reopen.empty()) {
        std::printf("reopen: a command failed\n");
        status = 1;
    } else {
        std::printf("\nreopening with the index cached: 20-minute MP4 %.3f s, 10-second clip %.3f s\n",
                    Median(reopen[0]), Median(reopen[1]));
        Row("cached 20 min / 10 s open (goal <= 1.2)", reopen[0], reopen[1],
            "open of a cached 20 min file / of a 10 s file (goal <= 1.2)");
    }

    const char* baseline = std::getenv("TESSARON_BASELINE_CLI");
    if (!baseline || !*baseline) {
        std::printf(
            "\n(set TESSARON_BASELINE_CLI to an older tessaron-cli to compare random access, in-order "
            "reading and rank with it)\n");
        return status;
    }
    const std::string out = (Folder() / "frame.bmp").string(), avi = (Folder() / "range.avi").string();
    // Four frames spread over the clip's one group of pictures, each in a process of its own.
    const std::vector<int> frames = {217, 38, 151, 96};
    const auto randomFrames = [&](const std::string& cli) {
        std::string script;
        for (int n : frames)
            script += cli + " frame " + Quote(clip) + " " + std::to_string(n) + " -o " + Quote(out) + " --force && ";
        return Env({cache}, {"bash", "-c", script + "true"});
    };
    std::string hundred;
    for (int n = 100; n < 200; ++n) hundred += (n > 100 ? "," : "") + std::to_string(n);
    const auto inOrder = [&](const std::string& cli) {
        return Env({cache}, {cli, "export", clip, "--frames", hundred, "-o", avi, "--force"});
    };
    const auto rank = [&](const std::string& cli) { return Env({cache}, {cli, "rank", clip}); };
    const auto runs = bench::Alternate({randomFrames(TESSARON_CLI), randomFrames(baseline), inOrder(TESSARON_CLI),
                                        inOrder(baseline), rank(TESSARON_CLI), rank(baseline)},
                                       kRounds);
    if (runs.empty()) {
        std::printf("baseline: a command failed\n");
        return 1;
    }
    std::printf("\nthis build / %s on the 10 s clip (goal <= 1.05):\n", baseline);
    Row("random frames, a process each", runs[0], runs[1], "random frames / older build (goal <= 1.05)");
    Row("100 frames in order (export)", runs[2], runs[3], "100 frames in order / older build (goal <= 1.05)");
    Row("rank", runs[4], runs[5], "rank / older build (goal <= 1.05)");
    return status;
}
