// The reader's own arithmetic and rules: line interpolation, frame count and request times, the end
// of the stream, files that are no video, and which back end interpolates.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"
#include "video/MediaDetector.h"

using namespace testsupport;

namespace {

// A 24-bit block whose byte b of row r (in memory order) is value(r, b).
template <typename F>
Bytes MakeBlock(int width, int height, F value) {
    const int64_t stride = DibStride24(width);
    Bytes b(size_t(FrameBlockSize(width, height)), 0);
    for (int r = 0; r < height; ++r)
        for (int64_t x = 0; x < stride; ++x) b[size_t(kDibHeaderSize + r * stride + x)] = value(r, int(x));
    return b;
}

std::vector<int> ChangedRows(const Bytes& before, const Bytes& after, int width, int height) {
    std::vector<int> rows;
    const int64_t stride = DibStride24(width);
    for (int r = 0; r < height; ++r)
        if (std::memcmp(&before[size_t(kDibHeaderSize + r * stride)], &after[size_t(kDibHeaderSize + r * stride)],
                        size_t(stride)) != 0)
            rows.push_back(r);
    return rows;
}

TEST(InterpolateLines, RowsReplacedForEachHeight) {
    // Row r holds 10 * (r + 1) + 1 at every byte, so each odd row differs from its neighbours' mean.
    auto value = [](int r, int) { return uint8_t(40 * (r % 2) + 10 * r + 1); };
    const std::vector<std::vector<int>> expected = {{}, {}, {}, {}, {1}, {1}, {1, 3}, {1, 3}, {1, 3, 5}};
    for (int height = 1; height <= 8; ++height) {
        SCOPED_TRACE(height);
        Bytes before = MakeBlock(3, height, value);
        Bytes after = before;
        InterpolateLines(after.data(), 3, height);
        EXPECT_EQ(ChangedRows(before, after, 3, height), expected[height]);
        EXPECT_EQ(0, std::memcmp(before.data(), after.data(), kDibHeaderSize)) << "header untouched";
    }
}

TEST(InterpolateLines, EachNeighbourHalvedBeforeTheSum) {
    struct Triple {
        uint8_t below, above, result;
    };
    for (Triple t : {Triple{255, 255, 254}, Triple{1, 1, 0}, Triple{3, 5, 3}, Triple{0, 255, 127}, Triple{7, 0, 3}}) {
        // Width 1: stride 4, so the last byte of each row is filler, which is interpolated too.
        Bytes b = MakeBlock(1, 4, [&](int r, int) { return r == 0 ? t.below : r == 2 ? t.above : uint8_t(99); });
        InterpolateLines(b.data(), 1, 4);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(b[size_t(kDibHeaderSize + 4 + x)], t.result) << int(t.below) << "/" << int(t.above);
        EXPECT_EQ(b[size_t(kDibHeaderSize + 12)], 99) << "the last row keeps its own data";
    }
    InterpolateLines(nullptr, 4, 4);  // no block, no harm
}

TEST(InterpolateLines, OddWidthCoversTheWholeStride) {
    // Width 5: stride 16, 15 pixel bytes and one filler byte.
    Bytes b = MakeBlock(5, 5, [](int r, int x) { return uint8_t(r == 1 ? 0 : 2 * x + 4 * r); });
    InterpolateLines(b.data(), 5, 5);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(b[size_t(kDibHeaderSize + 16 + x)], uint8_t(x + (2 * x + 8) / 2));
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(b[size_t(kDibHeaderSize + 48 + x)], uint8_t(2 * x + 12)) << "row 3 of 5 kept";
}

TEST(MediaBackEnd, EndOfStreamAndNegativeIndex) {
    UseMediaDetector(true);
    for (TestVideo kind : {TestVideo::RawAviOddWidth, TestVideo::H264Mp4, TestVideo::Vp9Webm}) {
        SCOPED_TRACE(Info(kind).name);
        const std::string path = TestVideoPath(kind);
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        const int n = info.frameCount;
        EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, -3).data()), 0);
        EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, n - 1).data()), n - 1);
        // Past the last picture there is nothing to show: no block, and the read is not a failure.
        for (int i : {n, n + 1, n + 100, std::numeric_limits<int32_t>::max()}) {
            info.succeeded = true;
            EXPECT_TRUE(ReadBlock(reader, info, i).empty()) << i;
            EXPECT_TRUE(info.succeeded);
        }
        EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, 1).data()), 1) << "still readable after the end";
        reader.Close(info);
    }
}

TEST(MediaBackEnd, StartOffsetAudioFirstAndCoverArt) {
    // The first picture is frame 0 whatever the container's start time, and the video stream is
    // found behind an audio stream and beside a cover picture.
    UseMediaDetector(true);
    for (TestVideo kind : {TestVideo::Mp4LateStart, TestVideo::Mp4AudioFirst, TestVideo::Mp4CoverArt}) {
        SCOPED_TRACE(Info(kind).name);
        const std::string path = TestVideoPath(kind);
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        EXPECT_EQ(info.width, Info(kind).width);
        EXPECT_EQ(info.frameCount, Info(kind).frames);
        EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, 0).data()), 0);
    }
}

TEST(BothBackEnds, FilesThatAreNoVideoDoNotOpen) {
    for (bool media : {true, false}) {
        UseMediaDetector(media);
        for (TestVideo kind : {TestVideo::ZeroByte, TestVideo::TextAsAvi, TestVideo::AudioOnly}) {
            SCOPED_TRACE(std::string(Info(kind).name) + (media ? " media" : " avi"));
            const std::string path = TestVideoPath(kind);
            ASSERT_FALSE(path.empty());
            VideoFrameReader reader;
            FrameInfo& info = reader.Open(path.c_str());
            EXPECT_FALSE(info.succeeded);
            EXPECT_EQ(info.useMediaDetector, media);
        }
        VideoFrameReader reader;
        EXPECT_FALSE(reader.Open((TestVideoDir() + "/no such file.avi").c_str()).succeeded);
        VideoFrameReader directory;
        EXPECT_FALSE(directory.Open(TestVideoDir().c_str()).succeeded);
    }
    UseMediaDetector(true);
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(TestVideoPath(TestVideo::AudioOnly).c_str());
    EXPECT_EQ(reader.LastError(), "no video stream");
    reader.Close(info);
    EXPECT_EQ(reader.LastError(), "no video stream") << "kept after Close";
}

TEST(AviBackEnd, CompressedOrForeignFilesDoNotOpen) {
    UseMediaDetector(false);
    for (TestVideo kind :
         {TestVideo::MjpegAvi, TestVideo::Mpeg4Avi, TestVideo::H264Mp4, TestVideo::Vp9Webm, TestVideo::Interlaced}) {
        SCOPED_TRACE(Info(kind).name);
        const std::string path = TestVideoPath(kind);
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        EXPECT_FALSE(reader.Open(path.c_str()).succeeded);
    }
}

TEST(BothBackEnds, TruncatedAviGivesRightFramesOrNone) {
    const std::string path = TestVideoPath(TestVideo::TruncatedAvi);
    ASSERT_FALSE(path.empty());
    for (bool media : {true, false}) {
        SCOPED_TRACE(media ? "media" : "avi");
        UseMediaDetector(media);
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        EXPECT_GE(info.frameCount, 8);
        EXPECT_LE(info.frameCount, 24);
        int readable = 0;
        for (int i = info.frameCount + 2; i >= 0; --i) {
            Bytes b = ReadBlock(reader, info, i);
            if (b.empty()) continue;
            EXPECT_EQ(ReadFrameIndex(b.data()), i);
            ++readable;
        }
        EXPECT_GE(readable, 8);
        reader.Close(info);
    }
}

TEST(BothBackEnds, FramesWiderThan16384PixelsAreRefused) {
    const std::string path = MakeTestVideo("too-wide", 16400, 16, 2);
    ASSERT_FALSE(path.empty());
    for (bool media : {true, false}) {
        SCOPED_TRACE(media ? "media" : "avi");
        UseMediaDetector(media);
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        EXPECT_FALSE(info.succeeded);
        EXPECT_TRUE(ReadBlock(reader, info, 0).empty());
    }
    UseMediaDetector(true);
    MediaDetector d;
    EXPECT_FALSE(d.SetFilename(path.c_str()));
    EXPECT_EQ(d.LastError(), "picture too large");
}

TEST(AviBackEnd, OneFrameFileOpensWithItsFrame) {
    UseMediaDetector(false);
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(TestVideoPath(TestVideo::OneFrameAvi).c_str());
    ASSERT_TRUE(info.succeeded);
    EXPECT_EQ(info.frameCount, 1);
    EXPECT_EQ(info.firstFrame, 0);
    EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, 0).data()), 0);
    EXPECT_EQ(info.frameCount, 1);
    EXPECT_TRUE(ReadBlock(reader, info, 1).empty());
    EXPECT_TRUE(ReadBlock(reader, info, -1).empty());
    reader.Close(info);
    EXPECT_TRUE(ReadBlock(reader, info, 0).empty()) << "nothing after Close";
}

TEST(Deinterlace, MediaFramesAreInterpolatedExactly) {
    UseMediaDetector(true);
    const std::string path = TestVideoPath(TestVideo::Interlaced);
    ASSERT_FALSE(path.empty());
    VideoFrameReader plain, deinterlaced;
    deinterlaced.SetDeinterlace(1);
    FrameInfo& a = plain.Open(path.c_str());
    FrameInfo& b = deinterlaced.Open(path.c_str());
    ASSERT_TRUE(a.succeeded && b.succeeded);
    for (int i : {0, 1, 7, 13, 29}) {
        Bytes original = ReadBlock(plain, a, i);
        Bytes smoothed = ReadBlock(deinterlaced, b, i);
        ASSERT_FALSE(original.empty());
        Bytes expected = original;
        InterpolateLines(expected.data(), a.width, a.height);
        EXPECT_FALSE(expected == original) << "the clip is combed, so interpolation changes it";
        EXPECT_TRUE(smoothed == expected) << "frame " << i;
        EXPECT_EQ(ReadFrameIndex(smoothed.data()), i);
        // The flag is read at every frame.
        deinterlaced.SetDeinterlace(0);
        EXPECT_TRUE(ReadBlock(deinterlaced, b, i) == original);
        deinterlaced.SetDeinterlace(1);
    }
}

TEST(Deinterlace, AviFramesAreNeverInterpolated) {
    UseMediaDetector(false);
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    VideoFrameReader plain, flagged;
    flagged.SetDeinterlace(1);
    FrameInfo& a = plain.Open(path.c_str());
    FrameInfo& b = flagged.Open(path.c_str());
    ASSERT_TRUE(a.succeeded && b.succeeded);
    for (int i = 0; i < a.frameCount; ++i) {
        flagged.SetDeinterlace(1);
        EXPECT_TRUE(ReadBlock(plain, a, i) == ReadBlock(flagged, b, i)) << "frame " << i;
    }
}

TEST(MediaDetector, RefusesUnreasonableSizesAndClosedUse) {
    UseMediaDetector(true);
    MediaDetector d;
    int32_t w = 0, h = 0;
    const auto whole = [&d](int32_t frame, int32_t width, int32_t height) {
        return d.PeekBitmapPart(frame, width, height, 0, 0, width, height);
    };
    EXPECT_EQ(whole(0, 64, 48), nullptr) << "nothing open";
    EXPECT_FALSE(d.GetVideoFormat(&w, &h));
    EXPECT_EQ(d.FrameRate(), 0.0);
    ASSERT_TRUE(d.SetFilename(TestVideoPath(TestVideo::H264Mp4).c_str()));
    EXPECT_EQ(whole(0, 16385, 48), nullptr);
    EXPECT_EQ(whole(0, 64, 0), nullptr);
    EXPECT_EQ(whole(0, 64, -48), nullptr);
    EXPECT_EQ(d.PeekBitmapPart(0, 64, 48, 60, 0, 8, 8), nullptr) << "box outside the picture";
    // Scaled on request.
    const uint8_t* block = whole(7, 128, 96);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(IsWholeFrameBlock(block, FrameBlockSize(128, 96)));
    EXPECT_EQ(ReadFrameIndex(block), 7);
    for (int32_t frame : {-1, d.FrameCount(), std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()})
        EXPECT_EQ(whole(frame, 64, 48), nullptr) << frame;
    EXPECT_FALSE(d.SetFilename(nullptr));
    EXPECT_EQ(whole(0, 64, 48), nullptr);
}

TEST(Availability, EnvironmentSelectsTheBackEnd) {
    UseMediaDetector(false);
    EXPECT_FALSE(IsMediaDetectorAvailable());
    UseMediaDetector(true);
    EXPECT_TRUE(IsMediaDetectorAvailable());
    unsetenv("TESSARON_MEDIA_DETECTOR");
    EXPECT_TRUE(IsMediaDetectorAvailable());
}

}  // namespace
