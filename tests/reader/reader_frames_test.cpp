// Every test video through both back ends: the right frame for every index in every reading order,
// the same pixels whatever the order and whichever back end, and the right colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <random>
#include <thread>
#include <tuple>

#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"
#include "video/MediaConverter.h"
#include "video/MediaDetector.h"

using namespace testsupport;

namespace {

struct Case {
    TestVideo kind;
    bool media;
};

std::vector<Case> PlayableCases() {
    std::vector<Case> cases;
    for (const TestVideoInfo& v : AllTestVideos()) {
        if (!v.playable || v.kind == TestVideo::TruncatedAvi) continue;
        cases.push_back({v.kind, true});
        if (v.uncompressedAvi) cases.push_back({v.kind, false});
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<Case>& p) {
    std::string name = Info(p.param.kind).name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name + (p.param.media ? "_media" : "_avi");
}

class FrameIdentity : public testing::TestWithParam<Case> {};

// Frame n shows index n, in order, backwards and at random, and the pixels of a frame never depend
// on the order it was reached in.
TEST_P(FrameIdentity, EveryFrameInEveryOrder) {
    const Case c = GetParam();
    const TestVideoInfo& v = Info(c.kind);
    const std::string path = TestVideoPath(c.kind);
    ASSERT_FALSE(path.empty()) << "could not make " << v.name;
    UseMediaDetector(c.media);

    VideoFrameReader reader;
    FrameInfo& info = reader.Open(path.c_str());
    ASSERT_TRUE(info.succeeded);
    EXPECT_EQ(info.useMediaDetector, c.media);
    EXPECT_EQ(info.width, v.width);
    EXPECT_EQ(info.height, v.height);
    EXPECT_EQ(info.frameCount, v.frames);
    EXPECT_EQ(info.firstFrame, 0);
    EXPECT_NEAR(info.framesPerSecond, v.framesPerSecond, 1e-9);
    const int n = info.frameCount;
    const int64_t blockSize = FrameBlockSize(v.width, v.height);

    std::vector<Bytes> forward(n);
    for (int i = 0; i < n; ++i) {
        forward[i] = ReadBlock(reader, info, i);
        ASSERT_EQ(int64_t(forward[i].size()), blockSize) << "frame " << i;
        ASSERT_EQ(info.frameBlockSize, blockSize);
        BITMAPINFOHEADER h = HeaderOf(forward[i]);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, v.width);
        EXPECT_EQ(h.biHeight, v.height);  // bottom-up
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(ReadFrameIndex(forward[i].data()), i) << "in order, frame " << i;
    }
    for (int i = n - 1; i >= 0; --i) {
        Bytes b = ReadBlock(reader, info, i);
        EXPECT_EQ(ReadFrameIndex(b.data()), i) << "backwards, frame " << i;
        EXPECT_TRUE(b == forward[i]) << "backwards, frame " << i << " differs from the in-order read";
    }
    std::mt19937 random(1234u + unsigned(c.kind));
    for (int k = 0; k < 30; ++k) {
        int i = int(random() % unsigned(n));
        Bytes b = ReadBlock(reader, info, i);
        EXPECT_EQ(ReadFrameIndex(b.data()), i) << "at random, frame " << i;
        EXPECT_TRUE(b == forward[i]) << "at random, frame " << i << " differs from the in-order read";
    }
    // The frame count stays the stream length after reads, on either back end.
    EXPECT_EQ(info.frameCount, v.frames);
    reader.Close(info);
}

INSTANTIATE_TEST_SUITE_P(AllVideos, FrameIdentity, testing::ValuesIn(PlayableCases()), CaseName);

// Uncompressed AVI: both back ends give the same bytes, and those are the pixels ffmpeg decodes
// (for 24 and 32 bits: the very pixels that were drawn).
TEST(UncompressedAvi, BothBackEndsAndFfmpegAgree) {
    for (TestVideo kind : {TestVideo::RawAviOddWidth, TestVideo::Pal8Avi, TestVideo::Rgb555Avi, TestVideo::Rgb32Avi,
                           TestVideo::OneFrameAvi}) {
        const TestVideoInfo& v = Info(kind);
        SCOPED_TRACE(v.name);
        const std::string path = TestVideoPath(kind);
        ASSERT_FALSE(path.empty());
        std::vector<Bytes> frames[2];
        for (int media = 0; media < 2; ++media) {
            UseMediaDetector(media != 0);
            VideoFrameReader reader;
            FrameInfo& info = reader.Open(path.c_str());
            ASSERT_TRUE(info.succeeded);
            for (int i = 0; i < info.frameCount; ++i) frames[media].push_back(ReadBlock(reader, info, i));
            reader.Close(info);
        }
        ASSERT_EQ(frames[0].size(), size_t(v.frames));
        ASSERT_EQ(frames[1].size(), size_t(v.frames));
        for (int i = 0; i < v.frames; ++i)
            EXPECT_TRUE(frames[0][i] == frames[1][i]) << "frame " << i << " differs between the back ends";

        const Bytes reference = FfmpegOutput(path, "-f rawvideo -pix_fmt bgr24");
        const size_t pictureBytes = size_t(v.width) * v.height * 3;
        ASSERT_EQ(reference.size(), pictureBytes * v.frames);
        const bool exact = kind != TestVideo::Pal8Avi && kind != TestVideo::Rgb555Avi;
        for (int i = 0; i < v.frames; ++i) {
            std::vector<uint8_t> drawn = DrawFramePicture(i, v.width, v.height);
            for (int y = 0; y < v.height; ++y) {
                const uint8_t* ours = PictureRow(frames[1][i], v.width, v.height, y);
                const uint8_t* theirs = &reference[pictureBytes * i + size_t(y) * v.width * 3];
                ASSERT_EQ(0, std::memcmp(ours, theirs, size_t(v.width) * 3)) << "frame " << i << " row " << y;
                if (exact) {
                    ASSERT_EQ(0, std::memcmp(ours, &drawn[size_t(y) * v.width * 3], size_t(v.width) * 3))
                        << "frame " << i << " row " << y;
                }
            }
        }
    }
}

// Reading in order with decoding ahead gives byte for byte what reading without it gives, for any
// mix of steps, repeats and jumps.
TEST(ReadAhead, SamePixelsAsDecodingOnDemand) {
    UseMediaDetector(true);
    for (TestVideo kind : {TestVideo::H264Mp4, TestVideo::Vp9Webm, TestVideo::Interlaced, TestVideo::Mpeg4Avi}) {
        const TestVideoInfo& v = Info(kind);
        SCOPED_TRACE(v.name);
        const std::string path = TestVideoPath(kind);
        ASSERT_FALSE(path.empty());
        std::vector<int> pattern;
        for (int i = 0; i < v.frames; ++i) pattern.push_back(i);
        for (int i : {5, 5, 6, 7, 9, 12, 11, 30, 31, 32, 33, 34, 2, 3, 4, 5, 6, 7, 8})
            if (i < v.frames) pattern.push_back(i);
        for (int i = v.frames - 8; i < v.frames + 2; ++i) pattern.push_back(i);

        std::vector<Bytes> results[2];
        MediaDetector::Counters counters[2];
        for (int ahead = 0; ahead < 2; ++ahead) {
            VideoFrameReader reader;
            FrameInfo& info = reader.Open(path.c_str());
            ASSERT_TRUE(info.succeeded);
            ASSERT_TRUE(reader.Detector());
            reader.Detector()->SetReadAhead(ahead != 0);
            for (int i : pattern) results[ahead].push_back(ReadBlock(reader, info, i));
            counters[ahead] = reader.Detector()->GetCounters();
            reader.Close(info);
        }
        EXPECT_EQ(counters[0].readAheads, 0);
        EXPECT_GT(counters[1].readAheads, 0);
        for (size_t k = 0; k < pattern.size(); ++k) {
            EXPECT_TRUE(results[0][k] == results[1][k]) << "request " << k << " (frame " << pattern[k] << ")";
            if (pattern[k] < v.frames) {
                EXPECT_EQ(ReadFrameIndex(results[1][k].data()), pattern[k]);
            } else {
                EXPECT_TRUE(results[1][k].empty());
            }
        }
    }
}

// A box read on its own is exactly that box of the whole frame, for every back end and pixel format
// (our own YUV path, swscale's RGB and palette paths, line interpolation), in order (decoding ahead)
// and out of order, and mixed with whole-frame reads.
TEST(FrameParts, ExactlyTheBoxOfTheWholeFrame) {
    struct Box {
        int32_t left, top, width, height;
    };
    const Box boxes[] = {{0, 0, 1, 1}, {3, 5, 17, 9}, {1, 0, 30, 48}, {10, 20, 7, 5}};
    for (Case c :
         {Case{TestVideo::H264Mp4, true}, Case{TestVideo::MjpegAvi, true}, Case{TestVideo::RawAviOddWidth, true},
          Case{TestVideo::Pal8Avi, true}, Case{TestVideo::RawAviOddWidth, false}, Case{TestVideo::Interlaced, true}}) {
        const TestVideoInfo& v = Info(c.kind);
        SCOPED_TRACE(std::string(v.name) + (c.media ? " media" : " avi"));
        UseMediaDetector(c.media);
        for (int deinterlace : {0, 1}) {
            VideoFrameReader wholeReader, partReader;
            wholeReader.SetDeinterlace(deinterlace);
            partReader.SetDeinterlace(deinterlace);
            FrameInfo& wholeInfo = wholeReader.Open(TestVideoPath(c.kind).c_str());
            FrameInfo& partInfo = partReader.Open(TestVideoPath(c.kind).c_str());
            ASSERT_TRUE(wholeInfo.succeeded && partInfo.succeeded);
            std::vector<int32_t> order;
            for (int32_t i = 0; i < wholeInfo.frameCount; ++i) order.push_back(i);
            for (int32_t i : {7, 2, 3, 4, 0}) order.push_back(std::min(i, wholeInfo.frameCount - 1));
            for (size_t k = 0; k < order.size(); ++k) {
                const int32_t n = order[k];
                const Box& box = boxes[(k / 6) % std::size(boxes)];
                const Bytes whole = ReadBlock(wholeReader, wholeInfo, n);
                ASSERT_FALSE(whole.empty()) << "frame " << n;
                if (k % 5 == 4) ReadBlock(partReader, partInfo, n);  // a whole frame in between
                int32_t size = 0;
                const uint8_t* raw = partReader.ReadFramePart(partInfo, n, box.left, box.top, box.width, box.height,
                                                              &size);
                ASSERT_TRUE(raw) << "frame " << n;
                const Bytes part(raw, raw + size);
                ASSERT_EQ(size, FrameBlockSize(box.width, box.height));
                EXPECT_EQ(HeaderOf(part).biWidth, box.width);
                EXPECT_EQ(HeaderOf(part).biHeight, box.height);
                EXPECT_EQ(partInfo.frameBlockSize, FrameBlockSize(v.width, v.height)) << "whole frames' size kept";
                for (int32_t y = 0; y < box.height; ++y) {
                    const uint8_t* expected = PictureRow(whole, v.width, v.height, box.top + y) + 3 * box.left;
                    const uint8_t* got = PictureRow(part, box.width, box.height, y);
                    ASSERT_TRUE(std::equal(got, got + 3 * box.width, expected))
                        << "frame " << n << " deinterlace " << deinterlace << " row " << y;
                    ASSERT_TRUE(std::all_of(got + 3 * box.width, got + DibStride24(box.width),
                                            [](uint8_t b) { return b == 0; }));
                }
            }
            int32_t size = 1;
            EXPECT_EQ(partReader.ReadFramePart(partInfo, 0, v.width - 3, 0, 4, 1, &size), nullptr)
                << "box past the edge";
            EXPECT_EQ(size, 0);
            EXPECT_EQ(partReader.ReadFramePart(partInfo, wholeInfo.frameCount + 5, 0, 0, 2, 2, &size), nullptr);
        }
    }
}

// Stepping costs one decode, repeating costs none, and only going back or far ahead seeks.
TEST(Stepping, DecodesOnlyWhatIsNew) {
    UseMediaDetector(true);
    const std::string path = TestVideoPath(TestVideo::H264Mp4);
    ASSERT_FALSE(path.empty());
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(path.c_str());
    ASSERT_TRUE(info.succeeded);
    MediaDetector& d = *reader.Detector();
    d.SetReadAhead(false);
    auto read = [&](int i) { EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, i).data()), i); };

    MediaDetector::Counters opened = d.GetCounters();
    read(0);  // the warm-up read kept it
    MediaDetector::Counters c = d.GetCounters();
    EXPECT_EQ(c.decoded, opened.decoded);
    EXPECT_EQ(c.converted, opened.converted);

    read(10);
    c = d.GetCounters();
    EXPECT_EQ(c.seeks, opened.seeks) << "forward within the group of pictures decodes on";
    MediaDetector::Counters before = c;
    read(10);
    c = d.GetCounters();
    EXPECT_EQ(c.decoded, before.decoded);
    EXPECT_EQ(c.converted, before.converted);
    read(11);
    c = d.GetCounters();
    EXPECT_EQ(c.seeks, before.seeks);
    EXPECT_EQ(c.decoded, before.decoded + 1);
    EXPECT_EQ(c.converted, before.converted + 1);
    read(14);
    EXPECT_EQ(d.GetCounters().seeks, before.seeks);
    read(3);
    EXPECT_GT(d.GetCounters().seeks, before.seeks);
    reader.Close(info);
}

TEST(Stepping, InOrderReadingDecodesEachPictureOnce) {
    UseMediaDetector(true);
    const std::string path = TestVideoPath(TestVideo::H264Mp4);
    ASSERT_FALSE(path.empty());
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(path.c_str());
    ASSERT_TRUE(info.succeeded);
    // Open showed frame 0 already.
    const MediaDetector::Counters opened = reader.Detector()->GetCounters();
    for (int i = 0; i < info.frameCount; ++i) EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, i).data()), i);
    MediaDetector::Counters c = reader.Detector()->GetCounters();
    EXPECT_EQ(c.seeks, opened.seeks);
    EXPECT_EQ(c.decoded - opened.decoded, info.frameCount - 1);
    EXPECT_EQ(c.converted - opened.converted, info.frameCount - 1);
    EXPECT_EQ(c.readAheads, 1);
    reader.Close(info);
}

int ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return int(std::distance(begin(tasks), end(tasks)));
}

// Close frees the media back end (its decoder and read-ahead threads end) and the reader opens again.
TEST(OpenAndClose, CloseEndsTheBackEndAndTheReaderOpensAgain) {
    UseMediaDetector(true);
    const std::string path = TestVideoPath(TestVideo::H264Mp4);
    ASSERT_FALSE(path.empty());
    VideoFrameReader reader;
    // ThreadSanitizer's runtime starts a thread of its own with the program's first: let it start now.
    std::thread([] {}).join();
    const int before = ThreadCount();
    for (int round = 0; round < 2; ++round) {
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded) << "round " << round;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(ReadFrameIndex(ReadBlock(reader, info, i).data()), i);
        ASSERT_TRUE(reader.Detector());
        EXPECT_GT(reader.Detector()->GetCounters().readAheads, 0);
        EXPECT_GT(ThreadCount(), before) << "read-ahead thread running";
        reader.Close(info);
        EXPECT_EQ(reader.Detector(), nullptr);
        // A joined thread leaves /proc a moment after it has ended.
        for (int wait = 0; wait < 100 && ThreadCount() != before; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(ThreadCount(), before) << "round " << round;
    }
}

// The centre sample (Y, Cb, Cr) of the first picture, as stored: ffmpeg copies the planes out
// without converting them.
bool StoredSample(const std::string& path, int width, int height, int sample[3]) {
    const Bytes planes = FfmpegOutput(path, "-frames:v 1 -c:v rawvideo -f rawvideo");
    const size_t luma = size_t(width) * height, chroma = luma / 4;  // 4:2:0
    if (planes.size() != luma + 2 * chroma) return false;
    const int x = width / 2, y = height / 2;
    sample[0] = planes[size_t(y) * width + x];
    sample[1] = planes[luma + size_t(y / 2) * (width / 2) + x / 2];
    sample[2] = planes[luma + chroma + size_t(y / 2) * (width / 2) + x / 2];
    return true;
}

// The textbook conversion of one sample to R, G, B.
void ExpectedRgb(const int ycc[3], double kr, double kb, bool fullRange, double rgb[3]) {
    double y = fullRange ? ycc[0] : (ycc[0] - 16) * 255.0 / 219.0;
    double cb = fullRange ? ycc[1] - 128 : (ycc[1] - 128) * 255.0 / 224.0;
    double cr = fullRange ? ycc[2] - 128 : (ycc[2] - 128) * 255.0 / 224.0;
    double r = y + 2 * (1 - kr) * cr;
    double b = y + 2 * (1 - kb) * cb;
    double g = (y - kr * r - kb * b) / (1 - kr - kb);
    rgb[0] = std::clamp(r, 0.0, 255.0);
    rgb[1] = std::clamp(g, 0.0, 255.0);
    rgb[2] = std::clamp(b, 0.0, 255.0);
}

// Flat colours stored under a given matrix and range come back as the textbook conversion of the
// stored samples gives them: tags are honoured, untagged SD is BT.601, untagged HD is BT.709.
TEST(Colours, MatrixAndRangeOfTheStream) {
    struct ColourCase {
        const char* name;
        const char* extension;
        const char* args;
        bool bt709;
        bool fullRange;
    };
    const char* source = "-f lavfi -i color=c=0x30C050:r=25:s=";
    const ColourCase cases[] = {
        {"colour-709-tv", "mp4",
         "64x48 -frames:v 2 -vf scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -colorspace bt709 "
         "-color_range tv -c:v libx264 -qp 0",
         true, false},
        {"colour-601-tv", "mp4",
         "64x48 -frames:v 2 -vf scale=out_color_matrix=bt601:out_range=tv,format=yuv420p -colorspace smpte170m "
         "-color_range tv -c:v libx264 -qp 0",
         false, false},
        {"colour-709-pc", "mp4",
         "64x48 -frames:v 2 -vf scale=out_color_matrix=bt709:out_range=pc,format=yuv420p -colorspace bt709 "
         "-color_range pc -c:v libx264 -qp 0",
         true, true},
        {"colour-untagged-sd", "mp4",
         "64x48 -frames:v 2 -vf scale=out_color_matrix=bt601:out_range=tv,format=yuv420p -c:v libx264 -qp 0", false,
         false},
        {"colour-untagged-hd", "mp4",
         "1280x720 -frames:v 1 -vf scale=out_color_matrix=bt709:out_range=tv,format=yuv420p -c:v libx264 -qp 0", true,
         false},
        {"colour-mjpeg", "avi",
         "64x48 -frames:v 2 -vf scale=out_color_matrix=bt601:out_range=pc,format=yuvj420p -c:v mjpeg -q:v 1", false,
         true},
    };
    UseMediaDetector(true);
    for (const ColourCase& cc : cases) {
        SCOPED_TRACE(cc.name);
        std::string path = MakeCachedFile(cc.name, cc.extension, cc.extension, std::string(source) + cc.args);
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        Bytes b = ReadBlock(reader, info, 0);
        ASSERT_FALSE(b.empty());
        const uint8_t* bgr = PictureRow(b, info.width, info.height, info.height / 2) + 3 * (info.width / 2);
        int ycc[3];
        ASSERT_TRUE(StoredSample(path, info.width, info.height, ycc));
        double rgb[3];
        if (cc.bt709)
            ExpectedRgb(ycc, 0.2126, 0.0722, cc.fullRange, rgb);
        else
            ExpectedRgb(ycc, 0.299, 0.114, cc.fullRange, rgb);
        EXPECT_NEAR(bgr[2], rgb[0], 1.0) << "red";
        EXPECT_NEAR(bgr[1], rgb[1], 1.0) << "green";
        EXPECT_NEAR(bgr[0], rgb[2], 1.0) << "blue";
        // And near the colour the file was made from.
        EXPECT_NEAR(bgr[2], 0x30, 6);
        EXPECT_NEAR(bgr[1], 0xC0, 6);
        EXPECT_NEAR(bgr[0], 0x50, 6);
        reader.Close(info);
    }
}

// 10- and 12-bit sources convert directly within 1 level of swscale's conversion: flat colour
// patches in every subsampling, and testsrc2's whole picture in 4:4:4. (Where chroma changes fast and
// is subsampled, the two differ as much as in 8 bits: swscale upsamples it with a different filter.)
TEST(Colours, DeepSamplesWithinOneLevelOfSwscale) {
    struct DeepCase {
        const char* format;
        const char* source;
    };
    const DeepCase cases[] = {{"yuv420p10le", "color=c=0x30C050:"}, {"yuv422p10le", "color=c=0xE02070:"},
                              {"yuv444p10le", "testsrc2="},         {"yuv420p12le", "color=c=0x2040F0:"},
                              {"yuv422p12le", "color=c=0xF0F010:"}, {"yuv444p12le", "testsrc2="}};
    UseMediaDetector(true);
    for (const DeepCase& dc : cases) {
        SCOPED_TRACE(std::string(dc.format) + " " + dc.source);
        const std::string path = MakeCachedFile(std::string("deep-") + dc.format, "mkv", "matroska",
                                                std::string("-f lavfi -i ") + dc.source +
                                                    "s=66x38:r=25 -frames:v 2 -pix_fmt " + dc.format +
                                                    " -colorspace bt709 -color_range tv -c:v ffv1");
        ASSERT_FALSE(path.empty());
        Bytes converted[2];
        for (bool swscale : {false, true}) {
            SetYuvThroughSwscale(swscale);
            VideoFrameReader reader;
            FrameInfo& info = reader.Open(path.c_str());
            ASSERT_TRUE(info.succeeded);
            converted[swscale] = ReadBlock(reader, info, 1);
            reader.Close(info);
        }
        SetYuvThroughSwscale(false);
        ASSERT_FALSE(converted[0].empty());
        ASSERT_EQ(converted[0].size(), converted[1].size());
        int worst = 0;
        for (size_t i = kDibHeaderSize; i < converted[0].size(); ++i)
            worst = std::max(worst, std::abs(int(converted[0][i]) - int(converted[1][i])));
        EXPECT_LE(worst, 1);
    }
}

}  // namespace
