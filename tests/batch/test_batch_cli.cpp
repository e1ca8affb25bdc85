// tessaron-cli batch as a scheduler runs it: shards that together do every video once, picks the same
// as single-video pick, a damaged video failed and recorded, a run killed part-way redone without a
// trace, and a finished batch that does nothing when run again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "tests/support/TestCli.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"
#include "tests/support/TestVideos.h"

using cli::Json;
using testsupport::CommandRun;
using testsupport::FilesIn;
using testsupport::MakeTestVideo;
using testsupport::ReadFileText;
using testsupport::RunCaptureAll;
using testsupport::ShellQuote;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

const std::string kRule = "--best 2 --min-gap 3 --score sharpness";

CommandRun Batch(const std::string& args) {
    return RunCaptureAll("cd /tmp && " + ShellQuote(TESSARON_CLI) + " batch " + kRule + " " + args);
}

// The lines of a run by video path.
std::map<std::string, Json> Lines(const std::string& out) {
    std::map<std::string, Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line);
        const std::string path = j["path"];
        EXPECT_FALSE(lines.count(path)) << "twice: " << path;
        lines[path] = j;
    }
    return lines;
}

struct Clips {
    TempDir dir{"batch-cli"};
    std::vector<std::string> paths;
    std::string manifest;
    std::string damaged;
};

const Clips& TheClips() {
    static Clips* clips = [] {
        auto* c = new Clips;
        for (int i = 0; i < 5; ++i) {
            testsupport::TestVideoRecipe recipe;
            recipe.name = "batch-clip" + std::to_string(i);
            recipe.frames = 20 + 5 * i;
            recipe.outputArgs = "-c:v libx264 -g 7 -pix_fmt yuv420p";
            recipe.extension = "mp4";
            c->paths.push_back(MakeTestVideo(recipe));
        }
        c->damaged = c->dir / "damaged.mp4";
        WriteFileText(c->damaged, "not a video at all");
        c->paths.insert(c->paths.begin() + 2, c->damaged);
        std::string text = "path,id\n";
        for (const std::string& p : c->paths) text += p + (p == c->paths[0] ? ",first" : "") + "\n";
        c->manifest = c->dir / "videos.csv";
        WriteFileText(c->manifest, text);
        return c;
    }();
    return *clips;
}

std::vector<int> Picked(const Json& line) { return line["picked"].get<std::vector<int>>(); }

TEST(BatchCli, ShardsDoEveryVideoOnceAsPickDoes) {
    const Clips& clips = TheClips();
    TempDir out("batch-out");
    std::map<std::string, Json> all;
    int failedShards = 0;
    for (int shard = 0; shard < 3; ++shard) {
        const CommandRun r = Batch("-o " + ShellQuote(out.path()) + " --manifest " + ShellQuote(clips.manifest) +
                                   " --jobs 2 --shard " + std::to_string(shard) + "/3");
        // Exit status 1 only for the shard with the damaged video.
        EXPECT_EQ(r.status, r.out.find("damaged") != std::string::npos ? 1 : 0) << r.err;
        failedShards += r.status == 1;
        for (auto& [path, line] : Lines(r.out)) EXPECT_TRUE(all.emplace(path, line).second) << path;
    }
    EXPECT_EQ(failedShards, 1);
    ASSERT_EQ(all.size(), clips.paths.size());
    for (const std::string& path : clips.paths) {
        SCOPED_TRACE(path);
        const Json& line = all[path];
        if (path == clips.damaged) {
            EXPECT_EQ(line["status"], "failed");
            EXPECT_NE(line["error"].get<std::string>().find("not a media file"), std::string::npos);
            continue;
        }
        ASSERT_EQ(line["status"], "ok");
        // The same picks, files and frames.csv as pick into a folder of its own.
        const std::string folder = out / line["id"].get<std::string>();
        const std::string single = out / ("single-" + line["id"].get<std::string>());
        const CommandRun p = RunCaptureAll(ShellQuote(TESSARON_CLI) + " pick " + ShellQuote(path) + " " + kRule +
                                           " --json -o " + ShellQuote(single));
        ASSERT_EQ(p.status, 0) << p.err;
        const Json listed = Json::parse(p.out);
        std::vector<int> frames;
        for (const Json& f : listed["frames"]) frames.push_back(f["frame"]);
        EXPECT_EQ(Picked(line), frames);
        EXPECT_EQ(ReadFileText(folder + "/frames.csv"), ReadFileText(single + "/frames.csv"));
        std::vector<std::string> expected = FilesIn(single);
        for (const char* name : {"result.json", "scores.csv"}) expected.push_back(name);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(folder), expected);
        const Json result = Json::parse(ReadFileText(folder + "/result.json"));
        EXPECT_EQ(result["status"], "ok");
        EXPECT_EQ(result["picked"].size(), frames.size());
        // scores.csv: a header and every frame.
        const std::string scores = ReadFileText(folder + "/scores.csv");
        EXPECT_EQ(std::count(scores.begin(), scores.end(), '\n'), line["frames"].get<int>() + 1);
    }
    EXPECT_EQ(all[clips.paths[0]]["id"], "first");

    // Run again, all shards at once: nothing to do, the damaged video's failure told again.
    const CommandRun again = Batch("-o " + ShellQuote(out.path()) + " --manifest " + ShellQuote(clips.manifest));
    EXPECT_EQ(again.status, 0) << again.err;
    const std::map<std::string, Json> lines = Lines(again.out);
    ASSERT_EQ(lines.size(), clips.paths.size());
    for (const auto& [path, line] : lines) {
        EXPECT_EQ(line["status"], "skipped") << path;
        EXPECT_EQ(line["error"].is_null(), path != clips.damaged) << path;
        if (path != clips.damaged) {
            EXPECT_EQ(Picked(line), Picked(all[path])) << path;
        }
    }
    // Other parameters, or --force, redo a video.
    const CommandRun redo = Batch("-o " + ShellQuote(out.path()) + " --force " + ShellQuote(clips.paths[1]));
    EXPECT_EQ(Lines(redo.out)[clips.paths[1]]["status"], "ok");
}

TEST(BatchCli, ARunKilledPartWayIsRedoneWithoutATrace) {
    const Clips& clips = TheClips();
    TempDir out("batch-killed");
    // Killed (as a lost node would be) while a video is being made, after one was finished.
    const std::string run = ShellQuote(TESSARON_CLI) + " batch " + kRule + " -o " + ShellQuote(out.path()) +
                            " --manifest " + ShellQuote(clips.manifest);
    const std::string list = "ls -A " + ShellQuote(out.path());
    RunCaptureAll("setsid " + run + " > " + ShellQuote(out / "log") + " & pid=$!; i=0; while [ $i -lt 3000 ] && ! { " +
                  list + " | grep -q '[.]part$' && [ $(" + list + " | wc -l) -ge 3 ]; }; do sleep 0.005; i=$((i+1)); " +
                  "done; kill -9 -$pid; wait $pid");
    const std::map<std::string, Json> before = Lines(ReadFileText(out / "log"));
    EXPECT_LT(before.size(), clips.paths.size());
    const CommandRun again = RunCaptureAll(run);
    const std::map<std::string, Json> after = Lines(again.out);
    ASSERT_EQ(after.size(), clips.paths.size());
    EXPECT_EQ(again.status, after.at(clips.damaged)["status"] == "failed" ? 1 : 0) << again.err;
    // A video finished just before the kill may not have had its line told: it is skipped too.
    for (const auto& [path, line] : after) {
        const std::string status = line["status"];
        if (before.count(path))
            EXPECT_EQ(status, "skipped") << path;
        else
            EXPECT_TRUE(status == "skipped" || status == (path == clips.damaged ? "failed" : "ok")) << path;
    }
    for (const std::string& name : FilesIn(out.path())) EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(FilesIn(out.path()).size(), clips.paths.size() + 1);  // a folder each and the log
}

}  // namespace
