// tessaron-cli info and frame: output, exit status and the one-line error of every failure.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestCli.h"
#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"

using namespace testsupport;

namespace {

using Result = CommandRun;

Result Cli(const std::string& args, bool media = true) { return RunCli(TESSARON_CLI, args, media); }

TEST(CliInfo, JsonOnBothBackEnds) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    ASSERT_FALSE(path.empty());
    Result media = Cli("info " + ShellQuote(path) + " --json");
    EXPECT_EQ(media.status, 0) << media.err;
    EXPECT_EQ(media.out,
              "{\"backend\":\"media\",\"width\":65,\"height\":48,\"frameCount\":24,\"framesPerSecond\":25,"
              "\"firstFrame\":0,\"rotation\":0,\"mirrored\":false}\n");
    Result avi = Cli("info --json " + ShellQuote(path), false);
    EXPECT_EQ(avi.status, 0) << avi.err;
    EXPECT_EQ(avi.out,
              "{\"backend\":\"avi\",\"width\":65,\"height\":48,\"frameCount\":24,\"framesPerSecond\":25,"
              "\"firstFrame\":0,\"rotation\":0,\"mirrored\":false}\n");

    // A referee parses it, and a fractional rate reads back exactly.
    const std::string webm = TestVideoPath(TestVideo::Vp9Webm);
    const std::string json = Scratch("info.json");
    ASSERT_EQ(0, RunCommand("TESSARON_MEDIA_DETECTOR=1 " + ShellQuote(TESSARON_CLI) + " info " + ShellQuote(webm) +
                            " --json >" + ShellQuote(json)));
    EXPECT_EQ(0, RunCommand("/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                            "assert sorted(d)==sorted(['backend','width','height','frameCount','framesPerSecond',"
                            "'firstFrame','rotation','mirrored']), d; assert d['framesPerSecond']==30000/1001, d; "
                            "assert (d['backend'],d['width'],d['height'],d['frameCount'],d['firstFrame'])=="
                            "('media',64,48,50,0), d\" " +
                            ShellQuote(json)));
    std::remove(json.c_str());
}

TEST(CliInfo, PlainText) {
    Result r = Cli("info " + ShellQuote(TestVideoPath(TestVideo::H264Mp4)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "backend: media\nwidth: 64\nheight: 48\nframeCount: 50\nframesPerSecond: 25\nfirstFrame: 0\nrotation: 0\n"
              "mirrored: no\n");
}

TEST(CliFrame, SavesTheFrameTheReaderGives) {
    const std::string path = TestVideoPath(TestVideo::Interlaced);
    ASSERT_FALSE(path.empty());
    UseMediaDetector(true);
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(path.c_str());
    ASSERT_TRUE(info.succeeded);
    for (bool deinterlace : {false, true}) {
        SCOPED_TRACE(deinterlace);
        const std::string bmp = Scratch(deinterlace ? "d.bmp" : "p.bmp");
        Result r = Cli("frame " + ShellQuote(path) + " 17 -o " + ShellQuote(bmp) +
                       (deinterlace ? " --deinterlace" : ""));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out.empty() && r.err.empty());
        reader.SetDeinterlace(deinterlace);
        Bytes expected = ReadBlock(reader, info, 17);
        std::string file = ReadFileText(bmp);
        ASSERT_EQ(file.size(), expected.size() + 14);
        EXPECT_EQ(file.substr(0, 2), "BM");
        EXPECT_EQ(0, std::memcmp(file.data() + 14, expected.data(), expected.size()));
        // Pillow reads it as the right picture.
        EXPECT_EQ(0, RunCommand("/usr/bin/python3 -c \"from PIL import Image; import sys; im=Image.open(sys.argv[1]); "
                                "assert im.size==(96,96) and im.mode=='RGB', (im.size, im.mode)\" " +
                                ShellQuote(bmp)));
        std::remove(bmp.c_str());
    }
    // The AVI back end too.
    const std::string avi = TestVideoPath(TestVideo::Pal8Avi);
    const std::string bmp = Scratch("a.bmp");
    Result r = Cli("frame " + ShellQuote(avi) + " 19 -o " + ShellQuote(bmp), false);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string file = ReadFileText(bmp);
    ASSERT_GT(file.size(), 14u);
    EXPECT_EQ(ReadFrameIndex(reinterpret_cast<const uint8_t*>(file.data()) + 14), 19);
    std::remove(bmp.c_str());
}

// Every failure is one line naming its cause, with the exit status that tells what to do about it:
// 1 the video cannot be used (running again gives the same), 2 the command line is wrong, 75 the
// output could not be written (worth running again).
TEST(Cli, EveryFailureIsOneLineWithItsExitStatus) {
    const std::string video = ShellQuote(TestVideoPath(TestVideo::H264Mp4));
    const std::string missing = ShellQuote(TestVideoDir() + "/missing.avi");
    const std::string out = ShellQuote(Scratch("never.bmp"));
    struct Row {
        std::string args;
        std::string mention;
        int status;
        bool media = true;
    };
    const Row rows[] = {
        {"info " + missing, "no such file", 1},
        {"info " + missing, "no such file", 1, false},
        {"info " + ShellQuote(TestVideoPath(TestVideo::AudioOnly)), "no video stream", 1},
        {"info " + ShellQuote(TestVideoPath(TestVideo::TextAsAvi)), "text.avi", 1},
        {"info " + ShellQuote(TestVideoPath(TestVideo::ZeroByte)), "zero-byte.avi", 1, false},
        {"info " + ShellQuote(TestVideoPath(TestVideo::MjpegAvi)), "media detector", 1, false},
        {"frame " + missing + " 0 -o " + out, "no such file", 1},
        // The picture the file ends in the middle of is no frame.
        {"frame " + ShellQuote(TestVideoPath(TestVideo::TruncatedAvi)) + " 11 -o " + out, "no frame 11", 1},
        {"pick " + ShellQuote(TestVideoPath(TestVideo::TextAsAvi)) + " --count 2", "text.avi", 1},
        {"info", "no file", 2},
        {"info " + video + " --bogus", "--bogus", 2},
        {"frame " + video + " 50 -o " + out, "no frame 50", 1},
        {"frame " + video + " -1 -o " + out, "no frame -1", 1},
        {"frame " + video + " 3x -o " + out, "not a frame number", 2},
        {"frame " + video + " 3", "-o", 2},
        {"frame " + video + " 3 -o", "-o", 2},
        {"frame " + video + " 3 -o " + ShellQuote(TestVideoPath(TestVideo::H264Mp4) + "/x.bmp"),
         "cannot create the folder", 2},
        {"pick " + video, "exactly one of", 2},
        {"pick " + video + " --count 2 --every 3", "exactly one of", 2},
        {"pick " + video + " --count 2 --json --csv", "--json and --csv", 2},
        {"batch " + video, "-o", 2},
        {"batch --count 2 -o " + ShellQuote(Scratch("b")) + " --shard 4/4 " + video, "4/4", 2},
        {"", "no command", 2},
        {"bogus", "bogus", 2},
        // A disk that takes 4 kB a file: a write that fails is worth another run.
        {"frame " + video + " 3 --force -o " + out, "File too large", 75},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const bool limited = row.status == 75;
        const CommandRun r = limited ? RunCaptureAll("trap '' XFSZ; ulimit -f 8; " + ShellQuote(TESSARON_CLI) + " " +
                                                     row.args)
                                     : Cli(row.args, row.media);
        ExpectOneLineError(r, row.mention, row.status);
    }
    EXPECT_FALSE(std::filesystem::exists(Scratch("never.bmp")));
    // A missing folder is made.
    const std::string made = Scratch("made/for/it.bmp");
    EXPECT_EQ(Cli("frame " + video + " 3 -o " + ShellQuote(made)).status, 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(made));
}

TEST(Cli, HelpForEachCommand) {
    for (const char* args : {"--help", "info --help", "frame --help", "frame -h"}) {
        Result r = Cli(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_NE(r.out.find("usage: tessaron-cli"), std::string::npos) << args;
        EXPECT_TRUE(r.err.empty());
    }
}

}  // namespace
