// tessaron-cli rank, export and crop as a user runs them: output, JSON read by Python, exit status and
// one-line refusals, omitted frames on standard error, time stamps, and the source left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

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
        "assert list(d) == ['quality', 'scoreKind', 'frameCount', 'frames'], list(d)\n"
        "assert d['scoreKind'] == 'jpeg', d\n"
        "assert d['quality'] == 60 and d['frameCount'] == 24, d\n"
        "fs = d['frames']\n"
        "assert len(fs) == 24\n"
        "for i, f in enumerate(fs):\n"
        "    assert list(f) == ['position', 'frame', 'score', 'jpegBytes', 'time', 'change', 'thumbnail'], f\n"
        "    assert f['position'] == i and f['jpegBytes'] > 0, f\n"
        "    assert abs(f['time'] - f['frame'] / 25) < 1e-9 and len(f['thumbnail']) == 768, f\n"
        "    assert (f['change'] is None) == (f['frame'] == 0) and (f['frame'] == 0 or 0 < f['change'] < 255), f\n"
        "    assert f['score'] + f['jpegBytes'] == 40 + 196 * 48 + 100, f\n"
        "keys = ['%010d %d' % (f['score'], f['frame']) for f in fs]\n"
        "assert keys == sorted(keys), keys\n"
        "assert sorted(f['frame'] for f in fs) == list(range(24))\n";
    ASSERT_TRUE(WriteFileBytes(script, Bytes(check.begin(), check.end())));
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(json)), 0) << r.out;
    // Spelled exactly so (key order, spaces), since scripts may read the output as text.
    EXPECT_EQ(
        r.out.rfind("{\"quality\": 60, \"scoreKind\": \"jpeg\", \"frameCount\": 24, \"frames\": [{\"position\": 0, "
                    "\"frame\": ",
                    0),
        0u)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "}]}\n");
}

TEST(CliRank, ScoreKindsAndTheBoxAsTheLibraryScoresThem) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    struct Row {
        const char* args;
        ScoreKind kind;
        bool box, media;
    };
    const Row rows[] = {
        {"--score sharpness", ScoreKind::Sharpness, false, true},
        {"--score sharpness --box 50,3,7,31", ScoreKind::Sharpness, true, false},
        {"--score jpeg --box 7,31,50,3", ScoreKind::Jpeg, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const Result r = Cli("rank --csv " + ShellQuote(path) + " " + row.args, row.media);
        ASSERT_EQ(r.status, 0) << r.err;
        ScoreSettings settings;
        settings.kind = row.kind;
        settings.useBox = row.box;
        settings.left = 7, settings.top = 3, settings.width = 43, settings.height = 28;
        VideoFrameReader reader;
        FrameInfo* info = nullptr;
        ASSERT_TRUE(OpenReader(reader, path, row.media, &info));
        std::vector<JpegScore> scores(24);
        SortCallbacks callbacks;
        callbacks.scored = [&](int32_t frame, const JpegScore& score) { scores[size_t(frame)] = score; };
        std::vector<std::string> order;
        ASSERT_EQ(ScoreAndSortFrames(reader, *info, settings, order, callbacks).stop, SortStop::Done);
        std::string expected = row.kind == ScoreKind::Sharpness
                                   ? "position,frame,score,time,change,thumbnail\n"
                                   : "position,frame,score,jpegBytes,time,change,thumbnail\n";
        for (size_t position = 0; position < order.size(); ++position) {
            int32_t frame = 0;
            ParseFrameOrderKey(order[position].c_str(), nullptr, &frame);
            const JpegScore& s = scores[size_t(frame)];
            char line[96];
            if (row.kind == ScoreKind::Sharpness)
                std::snprintf(line, sizeof line, "%zu,%d,%.17g\n", position, frame, s.sharpness);
            else
                std::snprintf(line, sizeof line, "%zu,%d,%d,%d\n", position, frame, s.score, s.jpegBytes);
            expected += line;
        }
        // The variance is printed as the shortest text that reads back the same: compare as numbers.
        std::istringstream got(r.out), want(expected);
        std::string a, b;
        while (std::getline(want, b)) {
            ASSERT_TRUE(std::getline(got, a));
            // The scores only: time, change and thumbnail have tests of their own.
            if (a.rfind("position", 0) != 0)
                for (int cut = 0; cut < 3; ++cut) a.erase(a.rfind(','));
            if (row.kind == ScoreKind::Jpeg || b.rfind("position", 0) == 0) {
                EXPECT_EQ(a, b);
            } else {
                EXPECT_EQ(a.substr(0, a.rfind(',')), b.substr(0, b.rfind(',')));
                EXPECT_EQ(std::stod(a.substr(a.rfind(',') + 1)), std::stod(b.substr(b.rfind(',') + 1)));
            }
        }
        EXPECT_FALSE(std::getline(got, a)) << a;
    }
    // JSON of a sharpness rank and pick: the kind named, no JPEG sizes, the best first.
    const std::string json = Scratch("sharp.json"), pickJson = Scratch("sharp-pick.json");
    const Result r = Cli("rank --json --score sharpness " + ShellQuote(path));
    const Result p = Cli("pick --json --score sharpness --best 3 " + ShellQuote(path));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(p.status, 0) << p.err;
    ASSERT_TRUE(WriteFileBytes(json, Bytes(r.out.begin(), r.out.end())));
    ASSERT_TRUE(WriteFileBytes(pickJson, Bytes(p.out.begin(), p.out.end())));
    const std::string script = Scratch("check-sharp.py");
    const std::string check =
        "import json, sys\n"
        "d = json.load(open(sys.argv[1]))\n"
        "assert list(d) == ['quality', 'scoreKind', 'frameCount', 'frames'] and d['scoreKind'] == 'sharpness', d\n"
        "fs = d['frames']\n"
        "assert all(list(f) == ['position', 'frame', 'score', 'time', 'change', 'thumbnail'] for f in fs), fs\n"
        "assert all(a['score'] >= b['score'] for a, b in zip(fs, fs[1:])), fs\n"
        "p = json.load(open(sys.argv[2]))\n"
        "assert p['scoreKind'] == 'sharpness', p\n"
        "assert [f['frame'] for f in p['frames']] == sorted(f['frame'] for f in fs[:3]), p\n";
    ASSERT_TRUE(WriteFileBytes(script, Bytes(check.begin(), check.end())));
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(json) + " " +
                         ShellQuote(pickJson)),
              0)
        << r.out << p.out;
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --score fast"), "fast");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --box 0,0,66,48"), "not inside", 1);
    ExpectOneLineError(Cli("pick " + ShellQuote(path) + " --best 2 --box 5,5,5,40"), "empty", 1);
}

// A chunk whose id is damaged is no picture to FFmpeg: the frames are the 23 pictures there are, all
// read. Our own AVI reader goes by the file's index, which still lists the chunk.
TEST(CliRank, AChunkLeftOutOfAnAviIsNoFrame) {
    const std::string path = DamagedVideo();
    ASSERT_FALSE(path.empty());
    for (bool media : {true, false}) {
        const Result r = Cli("rank " + ShellQuote(path), media);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), media ? 23 : 24);
        EXPECT_EQ(r.err.find("could not be read"), std::string::npos) << r.err;
    }
}

TEST(CliRank, DamagedFrameInTheMiddleIsSkippedAndNamed) {
    const std::string path = DamagedPacketMp4(320, 240, 100, 54);
    ASSERT_FALSE(path.empty());
    const Result r = Cli("rank --json " + ShellQuote(path));
    EXPECT_EQ(r.status, 0) << r.err;
    size_t scored = 0;
    for (size_t at = r.out.find("\"frame\": "); at != std::string::npos; at = r.out.find("\"frame\": ", at + 1))
        ++scored;
    EXPECT_EQ(scored, 99u);
    EXPECT_EQ(r.out.find("{\"position\": 0, \"frame\": 54,"), std::string::npos);
    const std::string end = "}], \"unreadable\": [54]}\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), end.size())), end);
    EXPECT_NE(r.err.find("frames that could not be read, left out: 54\n"), std::string::npos) << r.err;
}

TEST(CliRank, RefusesBadArguments) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality 0"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality 101"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality high"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(path) + " --quality"), "quality");
    ExpectOneLineError(Cli("rank " + ShellQuote(Scratch("missing.avi"))), "no such file", 1);
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
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 7,24 -o " + ShellQuote(out)), "frame 24", 1);
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames -1 -o " + ShellQuote(out)), "frame -1", 1);
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1,,2 -o " + ShellQuote(out)), "1,,2");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " -o " + ShellQuote(out)), "--frames");
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1"), "-o");
    EXPECT_FALSE(fs::exists(out));
    // The source is never the output, --force or not.
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1 --force -o " + ShellQuote(source)),
                       "video being read");
    // A folder that does not exist is made; a file in the way of one is named.
    const Result r = Cli("export " + ShellQuote(source) + " --frames 1 -o " + ShellQuote(Scratch("nowhere/x.avi")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(Scratch("nowhere/x.avi")).decodedFrames, 1);
    ExpectOneLineError(Cli("export " + ShellQuote(source) + " --frames 1 -o " + ShellQuote(source + "/x.avi")),
                       "cannot create the folder " + source);
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
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 0,0,66,48 -o " + ShellQuote(out)), "not inside", 1);
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box -1,0,10,10 -o " + ShellQuote(out)), "not inside", 1);
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 5,5,5,40 -o " + ShellQuote(out)), "empty", 1);
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 1,2,3 -o " + ShellQuote(out)), "1,2,3");
    ExpectOneLineError(Cli("crop " + ShellQuote(source) + " --box 1,2,3,4,5 -o " + ShellQuote(out)), "1,2,3,4,5");
    EXPECT_FALSE(fs::exists(out));
}

TEST(CliCrop, OmittedFramesOnStandardError) {
    const std::string source = DamagedPacketMp4(320, 240, 60, 34);
    ASSERT_FALSE(source.empty());
    const uint64_t hash = FileHash(source);
    const std::string out = Scratch("cli-crop-damaged.avi");
    const Result r = Cli("crop " + ShellQuote(source) + " --box 0,0,65,48 -o " + ShellQuote(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Frames that could not be read, left out:\n34\n"), std::string::npos) << r.err;
    EXPECT_EQ(Probe(out).decodedFrames, 59);
    EXPECT_TRUE(SameTime(ModificationTime(out), ModificationTime(source)));
    EXPECT_EQ(FileHash(source), hash);
}

// Every way an output could lose data, refused before anything is decoded, by each command that writes
// a file: what is at OUT beforehand, whether --force is given, and the words of the one-line refusal.
// What OUT names stays as it was and no temporary file is left.
TEST(CliOutputs, RefusesEveryTargetThatWouldLoseData) {
    TempDir dir("cli-outputs");
    const std::string src = dir / "src.avi";
    ASSERT_TRUE(WriteFileBytes(src, ReadFileBytes(TestVideoPath(TestVideo::RawAviOddWidth))));
    ASSERT_TRUE(fs::create_directory(dir / "sub"));
    ASSERT_TRUE(WriteFileText(dir / "kept.avi", "an older file"));
    fs::create_symlink(src, dir / "link.avi");
    fs::create_hard_link(src, dir / "hard.avi");
    fs::create_symlink(dir / "loop-b", dir / "loop-a");
    fs::create_symlink(dir / "loop-a", dir / "loop-b");
    ASSERT_EQ(RunCommand("mkfifo " + ShellQuote(dir / "fifo")), 0);
    struct Row {
        std::string out;
        bool force;
        std::string mention;
    };
    const Row rows[] = {
        {src, true, "is the video being read"},
        {dir / "link.avi", true, "is the video being read"},
        {dir / "hard.avi", true, "is the video being read"},
        {dir / "sub/../src.avi", true, "is the video being read"},
        {dir / "kept.avi", false, "exists; use --force to replace it"},
        {dir / "fifo", true, "is a FIFO (named pipe), not a regular file"},
        {"/dev/null", true, "/dev/null is a character device, not a regular file"},
        {dir / "loop-a", true, "is a symbolic link loop"},
        {dir / std::string(300, 'n'), false, "the name is 300 bytes long; the file system takes at most 255"},
    };
    const std::string commands[] = {"frame SRC 3", "export SRC --frames 1,2", "crop SRC --box 0,0,10,10"};
    const uint64_t srcHash = FileHash(src), keptHash = FileHash(dir / "kept.avi");
    for (const Row& row : rows) {
        for (std::string command : commands) {
            SCOPED_TRACE(command + " -o " + row.out);
            command.replace(command.find("SRC"), 3, ShellQuote(src));
            ExpectOneLineError(Cli(command + " -o " + ShellQuote(row.out) + (row.force ? " --force" : "")),
                               row.mention);
        }
    }
    EXPECT_EQ(FileHash(src), srcHash);
    EXPECT_EQ(FileHash(dir / "kept.avi"), keptHash);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"fifo", "hard.avi", "kept.avi", "link.avi", "loop-a",
                                                             "loop-b", "src.avi", "sub"}));
    // An image set checks its names the same way; inputs that are no regular file are refused at once.
    ExpectOneLineError(Cli("export " + ShellQuote(src) + " --frames 1 --format png --name " +
                           ShellQuote(std::string(300, 'i') + "{frame}.png") + " -o " + ShellQuote(dir / "sub/")),
                       "bytes long; the file system takes at most 255");
    ExpectOneLineError(Cli("info " + ShellQuote(dir / "fifo")), "is a FIFO (named pipe), not a regular file", 1);
    ExpectOneLineError(Cli("rank " + ShellQuote(dir / "loop-a")), "is a symbolic link loop", 1);
    EXPECT_TRUE(FilesIn(dir / "sub").empty());
}

// A file is replaced only by a finished file that keeps its permission bits: a full disk, SIGTERM and
// SIGHUP leave the old file and no temporary one.
TEST(CliOutputs, ReplacesOnlyWithAFinishedFile) {
    TempDir dir("cli-replace");
    const std::string out = dir / "out.avi";
    const std::string source = TestVideoPath(TestVideo::RawAviOddWidth);
    const auto older = [&] { return WriteFileText(out, "an older file") && ::chmod(out.c_str(), 0640) == 0; };
    ASSERT_TRUE(older());
    const std::string exportTo = "export " + ShellQuote(source) + " --frames 0,1,2,3,4,5,6,7,8,9 --force -o " +
                                 ShellQuote(out);
    const Result done = Cli(exportTo);
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(Probe(out).decodedFrames, 10);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_TRUE(older());
    const uint64_t hash = FileHash(out);
    // Files may grow to 30 kB: the header and one frame.
    const Result full = RunCaptureAll("trap '' XFSZ; ulimit -f 60; TESSARON_MEDIA_DETECTOR=1 " +
                                      ShellQuote(TESSARON_CLI) + " " + exportTo);
    EXPECT_EQ(full.status, 75);  // worth another run once there is room
    EXPECT_NE(full.err.find("a file already there is as it was"), std::string::npos) << full.err;
    EXPECT_EQ(full.out.find("written"), std::string::npos) << full.out;
    EXPECT_EQ(FileHash(out), hash);

    // A crop long enough to be stopped once its temporary file is there.
    TestVideoRecipe recipe;
    recipe.name = "cli-replace-long";
    recipe.width = 320;
    recipe.height = 240;
    recipe.frames = 300;
    recipe.outputArgs = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    recipe.extension = "mp4";
    const std::string clip = MakeTestVideo(recipe);
    ASSERT_FALSE(clip.empty());
    for (const char* signal : {"TERM", "HUP"}) {
        SCOPED_TRACE(signal);
        const std::string script = "TESSARON_MEDIA_DETECTOR=1 " + ShellQuote(TESSARON_CLI) + " crop " +
                                   ShellQuote(clip) + " --box 0,0,320,240 --force -o " + ShellQuote(out) +
                                   " & pid=$!; i=0; " + "while ! ls " + ShellQuote(dir.path()) +
                                   " | grep -q '[.]part$' && [ $i -lt 500 ]; " +
                                   "do sleep 0.01; i=$((i+1)); done; kill -" + signal + " $pid; wait $pid; echo $?";
        const Result r = RunCaptureAll("(" + script + ")");
        EXPECT_EQ(r.out, "75\n") << r.err;
        EXPECT_NE(r.err.find("Terminated: nothing was written; the file already at " + out + " is as it was."),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(FileHash(out), hash);
        EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"out.avi"});
    }
}

}  // namespace
