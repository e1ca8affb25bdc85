// tessaron-cli rank, export and crop as a user runs them: output, JSON read by Python, exit status and
// one-line refusals, omitted frames on standard error, time stamps, and the source left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "image/dib.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSort.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestCli.h"
#include "tests/support/TestVideos.h"

using namespace opstest;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TestVideo;
using testsupport::TestVideoPath;
namespace fs = std::filesystem;

namespace {

using Result = CommandRun;

Result Cli(const std::string& args, bool media = true) { return RunCli(TESSARON_CLI, args, media); }

// The library's order for the file, to hold the command's against.
std::vector<std::string> LibraryOrder(const std::string& path, bool media, int quality) {
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    std::vector<std::string> order;
    if (OpenReader(reader, path, media, &info)) ScoreAndSortFrames(reader, *info, quality, order, SortCallbacks{});
    return order;
}

// A copy of the uncompressed test video whose sixth frame chunk has a wrong id: FFmpeg skips it, so the
// media detector cannot deliver the last of the 24 frames the file announces.
std::string DamagedVideo() {
    const std::string path = Scratch("damaged.avi");
    if (fs::exists(path)) return path;
    Bytes bytes = ReadFileBytes(TestVideoPath(TestVideo::RawAviOddWidth));
    const std::string id = "00dc";
    auto at = bytes.begin();
    for (int i = 0; i < 6 && at != bytes.end(); ++i) {
        if (i > 0) ++at;
        at = std::search(at, bytes.end(), id.begin(), id.end());
    }
    if (at == bytes.end()) return {};
    at[0] = 'X';
    at[1] = 'X';
    return WriteFileBytes(path, bytes) ? path : std::string();
}

TEST(CliRank, LinesInSortedOrderLikeTheLibrary) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t hash = FileHash(path);
    for (bool media : {true, false}) {
        const Result r = Cli("rank " + ShellQuote(path), media);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;  // no progress when standard error is no terminal
        const std::vector<std::string> order = LibraryOrder(path, media, 25);
        ASSERT_EQ(order.size(), 24u);
        std::istringstream lines(r.out);
        std::string line;
        size_t position = 0;
        while (std::getline(lines, line)) {
            ASSERT_LT(position, order.size());
            int32_t score = 0, frame = 0;
            ParseFrameOrderKey(order[position].c_str(), &score, &frame);
            const int32_t jpegBytes = int32_t(FrameBlockSize(65, 48)) + 100 - score;
            EXPECT_EQ(line, std::to_string(position) + " " + std::to_string(frame) + " " + std::to_string(score) + " " +
                                std::to_string(jpegBytes));
            ++position;
        }
        EXPECT_EQ(position, 24u);
    }
    EXPECT_EQ(FileHash(path), hash);
}

TEST(CliRank, JsonShape) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    const std::string json = Scratch("rank.json");
    const Result r = Cli("rank --json --quality 60 " + ShellQuote(path));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(WriteFileBytes(json, Bytes(r.out.begin(), r.out.end())));
    const std::string script = Scratch("check.py");
    const std::string check =
        "import json, sys\n"
        "d = json.load(open(sys.argv[1]))\n"
        "assert list(d) == ['quality', 'frameCount', 'frames'], list(d)\n"
        "assert d['quality'] == 60 and d['frameCount'] == 24, d\n"
        "fs = d['frames']\n"
        "assert len(fs) == 24\n"
        "for i, f in enumerate(fs):\n"
        "    assert list(f) == ['position', 'frame', 'score', 'jpegBytes'], f\n"
        "    assert f['position'] == i and f['jpegBytes'] > 0, f\n"
        "    assert f['score'] + f['jpegBytes'] == 40 + 196 * 48 + 100, f\n"
        "keys = ['%010d %d' % (f['score'], f['frame']) for f in fs]\n"
        "assert keys == sorted(keys), keys\n"
        "assert sorted(f['frame'] for f in fs) == list(range(24))\n";
    ASSERT_TRUE(WriteFileBytes(script, Bytes(check.begin(), check.end())));
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(json)), 0) << r.out;
    // Spelled exactly so (key order, spaces), since scripts may read the output as text.
    EXPECT_EQ(r.out.rfind("{\"quality\": 60, \"frameCount\": 24, \"frames\": [{\"position\": 0, \"frame\": ", 0), 0u)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "}]}\n");
}

TEST(CliRank, UnreadableFramePrintsWhatWasScoredAndFails) {
    const std::string path = DamagedVideo();
    ASSERT_FALSE(path.empty());
    const Result r = Cli("rank " + ShellQuote(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 23);
    EXPECT_NE(r.err.find("cannot handle frames beyond frame 23"), std::string::npos) << r.err;
}

TEST(CliRank, RefusesBadArguments) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality 0"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality 101"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality high"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(Scratch("missing.avi"))), "no such file");
    ExpectOneLineError(Cli("rank"), "FILE");
}

TEST(CliExport, FramesInTheOrderGivenWithTheSourceTime) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t hash = FileHash(source);
    const std::string out = Scratch("cli-export.avi");
    const Result r = Cli("export " + ShellQuote(source) + " --frames 7,2,5 -o " + ShellQuote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::vector<Bytes> src = FfmpegFrames(source, 65, 48);
    const std::vector<Bytes> got = FfmpegFrames(out, 65, 48);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0] == src[7] && got[1] == src[2] && got[2] == src[5]);
    EXPECT_TRUE(SameTime(ModificationTime(out), ModificationTime(source)));

    // An existing output is kept unless --force is given.
    const uint64_t outHash = FileHash(out);
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1 -o " + ShellQuote(out)), "--force");
    EXPECT_EQ(FileHash(out), outHash);
    const Result forced = Cli("export " + ShellQuote(source) + " --frames 1 -o " + ShellQuote(out) + " --force", false);
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(Probe(out).decodedFrames, 1);
    EXPECT_EQ(FileHash(source), hash);
}

TEST(CliExport, RefusesBadArguments) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t hash = FileHash(source);
    const std::string out = Scratch("never.avi");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 7,24 -o " + ShellQuote(out)), "frame 24");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames -1 -o " + ShellQuote(out)), "frame -1");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1,,2 -o " + ShellQuote(out)), "1,,2");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " -o " + ShellQuote(out)), "--frames");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1"), "-o");
    EXPECT_FALSE(fs::exists(out));
    // The source is never the output, --force or not.
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1 --force -o " + ShellQuote(source)),
                       "video being read");
    // A folder that does not exist: the file and the reason named.
    const Result r = Cli("export " + ShellQuote(source) + " --frames 1 -o " + ShellQuote(Scratch("nowhere/x.avi")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot create " + Scratch("nowhere/x.avi") + ": No such file or directory"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(FileHash(source), hash);
}

TEST(CliCrop, BoxEitherWayWithTheSourceTime) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const uint64_t hash = FileHash(source);
    const std::string a = Scratch("cli-crop-a.avi"), b = Scratch("cli-crop-b.avi");
    const Result r = Cli("crop " + ShellQuote(source) + " --box 10,20,17,25 -o " + ShellQuote(a));
    ASSERT_EQ(r.status, 0) << r.err;
    const Result r2 = Cli("crop " + ShellQuote(source) + " -o " + ShellQuote(b) + " --box 17,25,10,20", false);
    ASSERT_EQ(r2.status, 0) << r2.err;
    EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(b));
    const ProbeInfo p = Probe(a);
    EXPECT_EQ(p.width, 7);
    EXPECT_EQ(p.height, 5);
    EXPECT_EQ(p.decodedFrames, 24);
    EXPECT_TRUE(SameTime(ModificationTime(a), ModificationTime(source)));
    EXPECT_EQ(FileHash(source), hash);
}

TEST(CliCrop, RefusesBadBoxes) {
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const std::string out = Scratch("never-crop.avi");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 0,0,66,48 -o " + ShellQuote(out)), "not inside");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box -1,0,10,10 -o " + ShellQuote(out)), "not inside");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 5,5,5,40 -o " + ShellQuote(out)), "empty");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 1,2,3 -o " + ShellQuote(out)), "1,2,3");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 1,2,3,4,5 -o " + ShellQuote(out)), "1,2,3,4,5");
    EXPECT_FALSE(fs::exists(out));
}

TEST(CliCrop, OmittedFramesOnStandardError) {
    const std::string source = DamagedVideo();
    ASSERT_FALSE(source.empty());
    const uint64_t hash = FileHash(source);
    const std::string out = Scratch("cli-crop-damaged.avi");
    const Result r = Cli("crop " + ShellQuote(source) + " --box 0,0,65,48 -o " + ShellQuote(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Frames omitted due to file size limits:\n23\n"), std::string::npos) << r.err;
    EXPECT_EQ(Probe(out).decodedFrames, 23);
    EXPECT_TRUE(SameTime(ModificationTime(out), ModificationTime(source)));
    EXPECT_EQ(FileHash(source), hash);
}

}  // namespace
