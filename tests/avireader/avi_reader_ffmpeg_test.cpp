// Files written by the ffmpeg command line, read back frame by frame and compared bit for bit with
// ffmpeg's own decode of the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestTools.h"
#include "image/dib.h"
#include "video/AviReader.h"
#include "video/AviReaderParse.h"
#include "video/RiffSource.h"

namespace {

struct Case {
    const char* pixFmt;
    int width;
    int height;
    uint16_t bitCount;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(info.param.pixFmt) + "_" + std::to_string(info.param.width) + "x" +
           std::to_string(info.param.height);
}

// testsrc draws a counter and moving colour bars, so every frame differs from its neighbours.
bool MakeRawAvi(const std::string& path, const char* pixFmt, int w, int h, int frames, const std::string& extra = "") {
    return RunQuiet("ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(w) + "x" + std::to_string(h) +
                    ":rate=25 -frames:v " + std::to_string(frames) + " " + extra + " -c:v rawvideo -pix_fmt " + pixFmt +
                    " " + ShellQuote(path));
}

void ExpectSameAsFfmpeg(AviReader& reader, const std::string& path, int w, int h) {
    const std::vector<Bytes> ref = FfmpegFrames(path, w, h, "-fps_mode passthrough");
    ASSERT_FALSE(ref.empty());
    ASSERT_EQ(reader.Length(), ref.size());
    for (size_t i = 0; i < ref.size(); ++i) {
        int32_t size = 0;
        FrameBlockPtr block(reader.DecodeFrame(int32_t(i), &size));
        EXPECT_TRUE(BlockMatches(block.get(), size, w, h, ref[i])) << "frame " << i;
    }
}

class FfmpegRawAvi : public ::testing::TestWithParam<Case> {};

TEST_P(FfmpegRawAvi, EveryFrameMatchesFfmpegFromFileAndMemory) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const Case c = GetParam();
    const std::string path = Scratch(std::string("raw_") + c.pixFmt + "_" + std::to_string(c.width) + ".avi");
    ASSERT_TRUE(MakeRawAvi(path, c.pixFmt, c.width, c.height, 7));

    std::string error;
    auto reader = AviReader::OpenFile(path.c_str(), &error);
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->StreamType(), FourCC("vids"));
    EXPECT_EQ(reader->Width(), c.width);
    EXPECT_EQ(reader->Height(), c.height);
    EXPECT_EQ(reader->BitCount(), c.bitCount);
    EXPECT_EQ(reader->Compression(), BI_RGB);
    EXPECT_EQ(reader->Rate() / double(reader->Scale()), 25.0);
    EXPECT_TRUE(reader->CanDecode());
    ExpectSameAsFfmpeg(*reader, path, c.width, c.height);

    const Bytes bytes = ReadFileBytes(path);
    auto inMemory = AviReader::OpenMemory(bytes.data(), bytes.size(), &error);
    ASSERT_TRUE(inMemory) << error;
    ExpectSameAsFfmpeg(*inMemory, path, c.width, c.height);
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, FfmpegRawAvi,
                         ::testing::Values(Case{"bgr24", 33, 17, 24}, Case{"bgr24", 32, 8, 24}, Case{"pal8", 33, 17, 8},
                                           Case{"pal8", 7, 5, 8}, Case{"rgb32", 33, 17, 32},
                                           Case{"rgb555le", 33, 17, 16}, Case{"rgb555le", 7, 5, 16},
                                           // Frames larger than the band a file is read in.
                                           Case{"bgr24", 641, 481, 24}, Case{"rgb555le", 641, 481, 16}),
                         CaseName);

// ffmpeg writes a palette change chunk after each frame whose palette differs from the one before.
TEST(FfmpegPaletteAvi, PaletteChangesApplyFromTheNextFrame) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const std::string path = Scratch("palette_changes.avi");
    ASSERT_TRUE(MakeRawAvi(path, "pal8", 33, 17, 6,
                           "-filter_complex \"split[a][b];[a]palettegen=stats_mode=single:max_colors=16[p];"
                           "[b][p]paletteuse=new=1\""));
    const Bytes bytes = ReadFileBytes(path);
    auto src = MakeMemoryByteSource(bytes.data(), bytes.size());
    AviLayout layout;
    ASSERT_TRUE(ParseAvi(*src, &layout, nullptr));
    ASSERT_GE(layout.paletteChanges.size(), 2u) << "ffmpeg no longer writes palette changes";

    auto reader = AviReader::OpenFile(path.c_str());
    ASSERT_TRUE(reader);
    ExpectSameAsFfmpeg(*reader, path, 33, 17);
}

// ffmpeg numbers the chunks of stream 10 and up in decimal ("10dc"); the format itself uses hex.
TEST(FfmpegManyStreams, VideoAfterTenAudioStreams) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const std::string path = Scratch("many_streams.avi");
    std::string maps;
    for (int i = 0; i < 10; ++i) maps += " -map 1:a";
    ASSERT_TRUE(RunQuiet("ffmpeg -v error -y -f lavfi -i testsrc=size=17x9:rate=5 -f lavfi -i sine=r=8000" + maps +
                         " -map 0:v -t 1 -c:a pcm_u8 -c:v rawvideo -pix_fmt bgr24 " + ShellQuote(path)));
    auto reader = AviReader::OpenFile(path.c_str());
    ASSERT_TRUE(reader);
    ExpectSameAsFfmpeg(*reader, path, 17, 9);
}

TEST(FfmpegCompressedAvi, MjpegOpensButDoesNotDecode) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const std::string path = Scratch("mjpeg.avi");
    ASSERT_TRUE(RunQuiet("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 5 -c:v mjpeg " +
                         ShellQuote(path)));
    auto reader = AviReader::OpenFile(path.c_str());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Handler(), FourCC("MJPG"));
    EXPECT_EQ(reader->Compression(), FourCC("MJPG"));
    EXPECT_EQ(reader->Width(), 64);
    EXPECT_EQ(reader->Height(), 48);
    EXPECT_EQ(reader->Length(), 5u);
    EXPECT_FALSE(reader->CanDecode());
    int32_t size = -1;
    EXPECT_EQ(reader->DecodeFrame(0, &size), nullptr);
    EXPECT_EQ(size, -1);
}

// A file cut short: the frames it still holds whole are counted and read as before; nothing else is.
TEST(FfmpegTruncatedAvi, FramesBeforeTheCutStayReadable) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const std::string path = Scratch("truncate_me.avi");
    const int w = 64, h = 48;
    ASSERT_TRUE(MakeRawAvi(path, "bgr24", w, h, 20));
    const Bytes full = ReadFileBytes(path);
    const std::vector<Bytes> ref = FfmpegFrames(path, w, h, "-fps_mode passthrough");
    ASSERT_EQ(ref.size(), 20u);
    auto src = MakeMemoryByteSource(full.data(), full.size());
    AviLayout layout;
    ASSERT_TRUE(ParseAvi(*src, &layout, nullptr));
    ASSERT_EQ(layout.frames.size(), 20u);

    for (int percent : {10, 50, 99}) {
        SCOPED_TRACE(percent);
        const size_t cut = full.size() * size_t(percent) / 100;
        const std::string cutPath = Scratch("truncated_" + std::to_string(percent) + ".avi");
        ASSERT_TRUE(WriteFileBytes(cutPath, Bytes(full.begin(), full.begin() + std::ptrdiff_t(cut))));
        uint32_t whole = 0;
        for (const AviFrameRef& f : layout.frames) whole += (f.offset + f.size <= cut) ? 1 : 0;

        auto reader = AviReader::OpenFile(cutPath.c_str());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->Length(), whole);
        for (uint32_t i = 0; i < whole; ++i) {
            int32_t size = 0;
            FrameBlockPtr block(reader->DecodeFrame(int32_t(i), &size));
            EXPECT_TRUE(BlockMatches(block.get(), size, w, h, ref[i])) << "frame " << i;
        }
        EXPECT_EQ(reader->DecodeFrame(int32_t(whole), nullptr), nullptr);
    }
}

TEST(AviReaderOpen, MissingFileAndDirectoryFailWithAReason) {
    std::string error;
    EXPECT_FALSE(AviReader::OpenFile(Scratch("does-not-exist.avi").c_str(), &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(AviReader::OpenFile(ScratchDir().c_str(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(AviReader::OpenFile(nullptr));
    EXPECT_FALSE(AviReader::OpenFile(""));
}

}  // namespace
