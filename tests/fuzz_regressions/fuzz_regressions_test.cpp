// Each fuzz target's entry function on inputs of each kind it meets, made here (a small file of each
// container and codec for the media path, hand-built AVIs, JPEGs, settings texts, order keys) and the
// inputs a fuzzing run once broke, kept in tests/fuzz_regressions/<target>/: no expectation of the
// fuzzer may break, and each asserts its outcome (read, with how much, or refused, with the message).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AviTestBuilder.h"
#include "fuzz/FuzzEntries.h"
#include "image/ximage.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestVideos.h"

namespace {

namespace fs = std::filesystem;
using Entry = const char* (*)(const uint8_t*, size_t, FuzzOutcome*);
using testsupport::Bytes;

struct Case {
    std::string name;
    Bytes input;
    bool accepted;
    std::string message;  // a refusal's message, or what the entry reads (INI); compared when not empty
    int64_t count;        // frames, pixels or numbers read (for order keys sscanf's count, -1 for EOF)
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Runs each case on an exact-size copy (a read past its end shows under the sanitizers).
void Check(Entry entry, const std::vector<Case>& cases) {
    ASSERT_FALSE(cases.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[std::max<size_t>(c.input.size(), 1)]);
        std::copy(c.input.begin(), c.input.end(), exact.get());
        FuzzOutcome outcome;
        const char* broken = entry(exact.get(), c.input.size(), &outcome);
        EXPECT_EQ(broken, nullptr) << broken;
        EXPECT_EQ(outcome.accepted, c.accepted) << outcome.message;
        if (!c.accepted && c.message.empty()) {
            EXPECT_FALSE(outcome.message.empty()) << "a refusal without a reason";
        }
        if (!c.message.empty()) {
            EXPECT_EQ(outcome.message, c.message);
        }
        EXPECT_EQ(outcome.count, c.count);
    }
}

// The inputs kept from fuzzing runs in the target's folder, each with the outcome the table gives
// for its file name; a kept file the table does not name fails the test.
std::vector<Case> Kept(const char* target, const std::map<std::string, Case>& expected) {
    std::vector<Case> cases;
    std::error_code ec;
    const fs::path dir = fs::path(TESSARON_FUZZ_REGRESSIONS_DIR) / target;
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const auto found = expected.find(name);
        EXPECT_NE(found, expected.end()) << "kept input without an expected outcome: " << target << "/" << name;
        if (found == expected.end()) continue;
        Case c = found->second;
        c.name = "kept " + name;
        c.input = testsupport::ReadFileBytes((dir / name).string());
        cases.push_back(std::move(c));
    }
    EXPECT_EQ(cases.size(), expected.size()) << "an input the table names is not kept in " << dir;
    return cases;
}

Bytes SmallAvi(int frames, TestIndex index) {
    TestAvi avi;
    avi.width = 6;
    avi.height = 3;
    avi.index = index;
    for (int i = 0; i < frames; ++i) avi.frames.push_back(PatternFrame(avi, i));
    return BuildAvi(avi);
}

Bytes SmallJpeg(uint32_t width, uint32_t height) {
    CxImage image;
    if (!image.Create(width, height, 24)) return {};
    for (uint32_t i = 0; i < image.GetRowWidth() * height; ++i) image.GetBits()[i] = uint8_t(i * 37);
    uint8_t* encoded = nullptr;
    int32_t size = 0;
    if (!image.Encode(encoded, size, CXIMAGE_FORMAT_JPG)) return {};
    FrameBlockPtr owned(encoded);
    return Bytes(encoded, encoded + size);
}

Bytes VideoBytes(const std::string& name, const std::string& outputArgs, const std::string& extension) {
    testsupport::TestVideoRecipe recipe;
    recipe.name = "fuzz-" + name;
    recipe.width = 48;
    recipe.height = 32;
    recipe.frames = 10;
    recipe.outputArgs = outputArgs;
    recipe.extension = extension;
    return testsupport::ReadFileBytes(testsupport::MakeTestVideo(recipe));
}

TEST(FuzzRegressions, AviReader) {
    const Bytes whole = SmallAvi(4, TestIndex::Idx1Relative);
    std::vector<Case> cases{
        {"four frames, idx1", whole, true, "", 4},
        {"OpenDML index", SmallAvi(3, TestIndex::OpenDml), true, "", 3},
        {"no index", SmallAvi(2, TestIndex::None), true, "", 2},
        {"cut inside the headers", Bytes(whole.begin(), whole.begin() + 100), false, "", 0},
        {"RIFF of another kind", Text(std::string("RIFF\x10\0\0\0WAVEfmt \0\0\0\0", 20)), false, "", 0},
        {"empty", {}, false, "", 0},
    };
    for (const Case& c : Kept("fuzz_avi_reader", {})) cases.push_back(c);
    Check(FuzzAviReader, cases);
}

TEST(FuzzRegressions, IniFile) {
    std::vector<Case> cases{
        {"the flag set", Text("[Tessaron]\ndeinterlaceFlag=1\n"), true, "1", 1},
        {"CRLF, blanks, other case", Text("[tessaron]\r\n  DeinterlaceFlag = 0 \r\n"), true, "0", 0},
        {"another section only", Text("[Other]\ndeinterlaceFlag=1\n"), false, "ERROR", 0},
        {"section, key and value given", Text(std::string("[A]\nk=v\n\0A\0k\0new", 16)), true, "v", 0},
        {"no newline, no equals", Text("[Tessaron]deinterlaceFlag"), false, "ERROR", 0},
    };
    for (const Case& c : Kept("fuzz_ini_file", {})) cases.push_back(c);
    Check(FuzzIniFile, cases);
}

TEST(FuzzRegressions, JpegDecode) {
    const Bytes jpeg = SmallJpeg(17, 9);
    ASSERT_GT(jpeg.size(), 100u);
    Bytes headerOnly(jpeg.begin(), jpeg.begin() + 20);
    std::vector<Case> cases{
        {"17x9 colour", jpeg, true, "", 17 * 9},
        {"cut after the first marker", headerOnly, false, "", 0},
        {"not a JPEG", Text("GIF89a"), false, "", 0},
        {"empty", {}, false, "", 0},
    };
    for (const Case& c : Kept("fuzz_jpeg_decode", {})) cases.push_back(c);
    Check(FuzzJpegDecode, cases);
}

TEST(FuzzRegressions, FrameOrder) {
    std::vector<Case> cases{
        {"a key", Text("0000000987 37"), true, "0000000987 37", 2},
        {"a negative key", Text("-000000120 5"), true, "-000000120 5", 2},
        {"blanks and signs", Text(" \t+12\n -34 tail"), true, "0000000012 -34", 2},
        {"one number", Text("12"), false, "not a key", 1},
        {"no number", Text("key"), false, "not a key", 0},
        {"numbers past 32 bits", Text("99999999999999999999 -2147483649"), true, "2147483647 -2147483648", 2},
        // The original order of a video without frames (a negative bound, here from the empty input
        // and a first byte above 127) has no keys: the fuzzer's first run once expected one.
        {"empty", {}, false, "not a key", -1},
        {"a first byte above 127", Text("\xf0 7"), false, "not a key", 0},
    };
    for (const Case& c : Kept("fuzz_frame_order", {})) cases.push_back(c);
    Check(FuzzFrameOrder, cases);
}

// The media path: every read of a good file succeeds (six per input).
TEST(FuzzRegressions, Media) {
    const Bytes h264 = VideoBytes("h264", "-c:v libx264 -bf 2 -g 4 -pix_fmt yuv420p", "mp4");
    ASSERT_GT(h264.size(), 1000u);
    std::vector<Case> cases{
        {"H.264 with B-frames in MP4", h264, true, "", 6},
        {"VP9 in WebM", VideoBytes("vp9", "-c:v libvpx-vp9 -deadline realtime -g 4", "webm"), true, "", 6},
        {"MPEG-2 in MPEG-TS", VideoBytes("mpeg2", "-c:v mpeg2video -bf 2 -g 4", "ts"), true, "", 6},
        {"MJPEG in AVI", VideoBytes("mjpeg", "-c:v mjpeg", "avi"), true, "", 6},
        {"raw BGR in AVI", VideoBytes("raw", "-c:v rawvideo -pix_fmt bgr24", "avi"), true, "", 6},
        {"MP4 cut before its index", Bytes(h264.begin(), h264.begin() + long(h264.size() / 2)), false, "", 0},
        {"a text", Text("This is a text file, not a video.\n"), false, "", 0},
        {"empty", {}, false, "", 0},
    };
    for (const Case& c : Kept("fuzz_media", {})) cases.push_back(c);
    Check(FuzzMedia, cases);
}

}  // namespace
