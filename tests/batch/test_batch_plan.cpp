// What batch decides before it reads a video: the manifest read (or refused with its line), the
// folder names, which shard takes which video, and whether an earlier result stands.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/BatchPlan.h"
#include "tests/support/TestFiles.h"

using namespace cli;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

// path|id|from|to of every video, or the error.
std::string Read(const std::string& text) {
    std::vector<BatchVideo> videos;
    std::string error;
    if (!ReadManifest(text, "m.csv", &videos, &error)) return "error: " + error;
    if (!NameVideos(videos, &error)) return "error: " + error;
    std::string out;
    for (const BatchVideo& v : videos) {
        out += (out.empty() ? "" : "; ") + v.path + "|" + v.name + "|" + v.from + "|" + v.to;
        if (v.range.from.set)
            out += std::string(v.range.from.isTime ? " t" : " f") + std::to_string(v.range.from.value);
    }
    return out;
}

TEST(BatchPlan, ManifestsAndTheirRefusals) {
    struct Row {
        const char* text;
        const char* expected;
    } const rows[] = {
        {"a.mp4\nb/c.mkv,cam2\n", "a.mp4|a||; b/c.mkv|cam2||"},
        {"# comment\n\n a.mp4 , x , 10 , 20\r\n", "a.mp4|x|10|20 f10.000000"},
        {"path,from,to\na.mp4,1.5s,300\n", "a.mp4|a|1.5s|300 t1.500000"},
        {"id,path\nfirst,\"a,b.mp4\"\n", "a,b.mp4|first||"},
        {"\"say \"\"hi\"\".mp4\"\n", "say \"hi\".mp4|say \"hi\"||"},
        // The same stem twice, and a stem an id already holds: numbered, in list order.
        {"x/a.mp4\ny/a.mp4\nz.mp4,a-2\n.hidden.mp4\n",
         "x/a.mp4|a||; y/a.mp4|a-3||; z.mp4|a-2||; .hidden.mp4|_hidden||"},
        {R"([{"path": "a.mp4", "id": "x", "from": 5, "to": "9s"}, {"path": "b.mp4"}])",
         "a.mp4|x|5|9s f5.000000; b.mp4|b||"},
        {"a.mp4,x,1,2,3\n", "error: m.csv line 1: 5 fields; a line holds at most 4 (path,id,from,to)"},
        {"a.mp4\n,x\n", "error: m.csv line 2: no path"},
        {"a.mp4\nb.mp4,,ten\n", "error: m.csv line 2: from 'ten' is neither a frame number nor a time such as 4.5s"},
        {"a.mp4,,20,10\n", "error: m.csv line 1: the range 20 to 10 holds no frame"},
        {"a.mp4,,-3\n", "error: m.csv line 1: from '-3' is neither a frame number nor a time such as 4.5s"},
        {"\"a.mp4,x\n", "error: m.csv line 1: the quote at column 1 is not closed"},
        {"path,camera\n", "error: m.csv line 1: unknown column 'camera' (path, id, from, to)"},
        {"a.mp4,x\n\nb.mp4,x\n", "error: m.csv line 3: the id 'x' is given to two videos (also m.csv line 1)"},
        {"a.mp4,../up\n", "error: m.csv line 1: the id '../up' holds a /"},
        {"a.mp4,.x\n", "error: m.csv line 1: the id '.x' starts with a dot"},
        {R"([{"path": "a.mp4"}, {"file": "b.mp4"}])",
         "error: m.csv entry 2: unknown key \"file\" (path, id, from, to)"},
        {R"([{"path": "a.mp4", "from": -1}])", "error: m.csv entry 1: \"from\" is no frame number or text"},
        {"[{\"path\": ",
         "error: m.csv: not JSON: line 1, column 11: syntax error while parsing value - unexpected end of input; "
         "expected '[', '{', or a literal"},
    };
    for (const Row& row : rows) EXPECT_EQ(Read(row.text), row.expected) << row.text;
}

TEST(BatchPlan, ShardsFromTheCommandLineAndTheEnvironment) {
    struct Row {
        std::map<std::string, std::string> env;
        int32_t shards;  // --shards
        const char* expected;
    } const rows[] = {
        {{}, 0, "0/1"},
        {{{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, "2/4"},
        // --array=1-4 and --array=10-40:10 are four shards too.
        {{{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_COUNT", "4"}, {"SLURM_ARRAY_TASK_MIN", "1"}}, 0, "3/4"},
        {{{"SLURM_ARRAY_TASK_ID", "30"},
          {"SLURM_ARRAY_TASK_COUNT", "4"},
          {"SLURM_ARRAY_TASK_MIN", "10"},
          {"SLURM_ARRAY_TASK_STEP", "10"}},
         0,
         "2/4"},
        {{{"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, "error"},
        {{{"SLURM_ARRAY_TASK_ID", "3"}}, 0, "0/1"},  // not an array job
        {{{"JOB_COMPLETION_INDEX", "5"}}, 8, "5/8"},
        {{{"JOB_COMPLETION_INDEX", "8"}}, 8, "error"},
        {{}, 8, "error"},
        {{{"JOB_COMPLETION_INDEX", "1"}, {"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "2"}}, 3, "1/3"},
    };
    for (const Row& row : rows) {
        Shard shard;
        std::string error;
        const bool ok = ShardFromEnvironment(
            [&](const char* name) {
                const auto at = row.env.find(name);
                return at == row.env.end() ? nullptr : at->second.c_str();
            },
            row.shards, &shard, &error);
        EXPECT_EQ(ok ? std::to_string(shard.index) + "/" + std::to_string(shard.count) : "error", row.expected)
            << error;
    }
    Shard parsed;
    for (const char* bad : {"4/4", "-1/4", "1/0", "1", "a/b", "1/4/2"}) EXPECT_FALSE(ParseShard(bad, &parsed)) << bad;
    // Every video falls in exactly one shard, whatever the count.
    for (int32_t count = 1; count <= 5; ++count) {
        for (size_t position = 0; position < 23; ++position) {
            int takers = 0;
            for (int32_t index = 0; index < count; ++index) takers += InShard(position, {index, count});
            EXPECT_EQ(takers, 1) << position << " of " << count;
        }
    }
}

TEST(BatchPlan, AResultStandsOnlyForTheSameParametersAndVideo) {
    TempDir dir;
    const std::string video = dir / "v.mp4", folder = dir / "v";
    ASSERT_TRUE(WriteFileText(video, "video bytes"));
    std::filesystem::create_directory(folder);
    const Json source = SourceStamp(video);
    const std::string hash = "fnv1a64:0000000000000001";
    const auto result = [&](const char* status, const std::string& h, const Json& s) {
        return JsonText(Json{{"status", status}, {"parametersHash", h}, {"source", s}}, JsonLayout::Compact);
    };
    struct Row {
        std::string resultJson;  // empty: none
        bool force;
        BatchAction expected;
    } const rows[] = {
        {"", false, BatchAction::Run},
        {result("ok", hash, source), false, BatchAction::Skip},
        {result("failed", hash, source), false, BatchAction::Skip},  // running again would not mend it
        {result("ok", hash, source), true, BatchAction::Run},
        {result("ok", "fnv1a64:0000000000000002", source), false, BatchAction::Run},
        {result("ok", hash, Json{{"size", 1}, {"modified", "0.0"}}), false, BatchAction::Run},
        {result("started", hash, source), false, BatchAction::Run},
        {"{\"status\": \"ok\", \"parametersHash\": ", false, BatchAction::Run},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(folder + "/result.json");
        if (!row.resultJson.empty()) {
            ASSERT_TRUE(WriteFileText(folder + "/result.json", row.resultJson));
        }
        EXPECT_EQ(DecideVideo(folder, hash, source, row.force).action, row.expected) << row.resultJson;
    }
    // The hash follows the options, not their order on the command line.
    PickJob a, b;
    a.given = {{"--count", "3"}, {"--score", "sharpness"}};
    b.given = {{"--score", "sharpness"}, {"--count", "3"}};
    BatchVideo v;
    EXPECT_EQ(ParametersHash(BatchParameters(a, false, v)), ParametersHash(BatchParameters(b, false, v)));
    EXPECT_NE(ParametersHash(BatchParameters(a, false, v)), ParametersHash(BatchParameters(a, true, v)));
    v.to = "10";
    EXPECT_NE(ParametersHash(BatchParameters(a, false, v)), ParametersHash(BatchParameters(b, false, BatchVideo())));
}

}  // namespace
