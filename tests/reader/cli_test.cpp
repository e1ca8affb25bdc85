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
              "\"firstFrame\":0}\n");
    Result avi = Cli("info --json " + ShellQuote(path), false);
    EXPECT_EQ(avi.status, 0) << avi.err;
    EXPECT_EQ(avi.out,
              "{\"backend\":\"avi\",\"width\":65,\"height\":48,\"frameCount\":24,\"framesPerSecond\":25,"
              "\"firstFrame\":0}\n");

    // A referee parses it, and a fractional rate reads back exactly.
    const std::string webm = TestVideoPath(TestVideo::Vp9Webm);
    const std::string json = Scratch("info.json");
    ASSERT_EQ(0, RunCommand("TESSARON_MEDIA_DETECTOR=1 " + ShellQuote(TESSARON_CLI) + " info " + ShellQuote(webm) +
                            " --json >" + ShellQuote(json)));
    EXPECT_EQ(0, RunCommand("/usr/bin/python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                            "assert sorted(d)==sorted(['backend','width','height','frameCount','framesPerSecond',"
                            "'firstFrame']), d; assert d['framesPerSecond']==30000/1001, d; "
                            "assert (d['backend'],d['width'],d['height'],d['frameCount'],d['firstFrame'])=="
                            "('media',64,48,50,0), d\" " +
                            ShellQuote(json)));
    std::remove(json.c_str());
}

TEST(CliInfo, PlainText) {
    Result r = Cli("info " + ShellQuote(TestVideoPath(TestVideo::H264Mp4)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "backend: media\nwidth: 64\nheight: 48\nframeCount: 50\nframesPerSecond: 25\nfirstFrame: 0\n");
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

TEST(Cli, EveryFailureIsOneLineAndStatusOne) {
    const std::string video = ShellQuote(TestVideoPath(TestVideo::H264Mp4));
    const std::string missing = ShellQuote(TestVideoDir() + "/missing.avi");
    const std::string out = ShellQuote(Scratch("never.bmp"));
    ExpectOneLineError(Cli("info " + missing), "no such file");
    ExpectOneLineError(Cli("info " + missing, false), "no such file");
    ExpectOneLineError(Cli("info " + ShellQuote(TestVideoPath(TestVideo::AudioOnly))), "no video stream");
    ExpectOneLineError(Cli("info " + ShellQuote(TestVideoPath(TestVideo::TextAsAvi))), "text.avi");
    ExpectOneLineError(Cli("info " + ShellQuote(TestVideoPath(TestVideo::ZeroByte)), false), "zero-byte.avi");
    ExpectOneLineError(Cli("info " + ShellQuote(TestVideoPath(TestVideo::MjpegAvi)), false), "media detector");
    ExpectOneLineError(Cli("info"), "no file");
    ExpectOneLineError(Cli("info " + video + " --bogus"), "--bogus");
    ExpectOneLineError(Cli("frame " + missing + " 0 -o " + out), "no such file");
    ExpectOneLineError(Cli("frame " + video + " 50 -o " + out), "no frame 50");
    ExpectOneLineError(Cli("frame " + video + " -1 -o " + out), "no frame -1");
    ExpectOneLineError(Cli("frame " + video + " 3x -o " + out), "not a frame number");
    ExpectOneLineError(Cli("frame " + video + " 3"), "-o");
    ExpectOneLineError(Cli("frame " + video + " 3 -o"), "-o");
    ExpectOneLineError(Cli("frame " + video + " 3 -o " + ShellQuote(TestVideoDir() + "/no/such/dir/x.bmp")),
                       "does not exist");
    ExpectOneLineError(Cli("frame " + ShellQuote(TestVideoPath(TestVideo::TruncatedAvi)) + " 11 -o " + out),
                       "cannot be decoded");
    ExpectOneLineError(Cli(""), "no command");
    ExpectOneLineError(Cli("bogus"), "bogus");
    EXPECT_FALSE(std::filesystem::exists(Scratch("never.bmp")));
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
