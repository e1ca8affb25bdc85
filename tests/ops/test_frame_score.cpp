// JPEG-size scores held against cjpeg, the in-place and copying paths against each other, the preview
// round trip, failed encodes, and the sort loop on real readers (both back ends).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/dib.h"
#include "image/ximage.h"
#include "selector/FrameOrder.h"
#include "selector/FrameScore.h"
#include "selector/FrameSort.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestVideos.h"

using namespace opstest;
using testsupport::TestVideo;
using testsupport::TestVideoPath;

namespace {

const uint8_t* Pixels(const Bytes& block) { return block.data() + kDibHeaderSize; }

BITMAPINFOHEADER HeaderOf(const Bytes& block) {
    BITMAPINFOHEADER h{};
    std::memcpy(&h, block.data(), sizeof h);
    return h;
}

// Top-down BGR pictures with a deterministic generator.
struct Lcg {
    uint32_t state;
    uint32_t Next() { return state = state * 1664525u + 1013904223u; }
};

Bytes NoisyGrey(int width, int height, int amplitude, uint32_t seed) {
    Lcg random{seed};
    Bytes p(size_t(3) * width * height);
    for (size_t i = 0; i < p.size(); i += 3) {
        const int v = 128 + int((random.Next() >> 16) % uint32_t(2 * amplitude + 1)) - amplitude;
        p[i] = p[i + 1] = p[i + 2] = uint8_t(v);
    }
    return p;
}

Bytes HardEdges(int width, int height) {
    Bytes p(size_t(3) * width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &p[size_t(3) * (size_t(width) * y + x)];
            px[0] = uint8_t((y * 5) % 256);
            px[1] = uint8_t((x * 4) % 256);
            px[2] = ((x / 16 + y / 16) % 2) ? 255 : 0;
        }
    return p;
}

// The order and best frame computed frame by frame with fresh scorers, for comparison with the loop.
struct Expected {
    std::vector<std::string> order;
    int32_t bestFrame = -1;
    std::vector<int32_t> scores;
};
Expected ScoreOneByOne(const std::string& path, bool media, int quality, int32_t frames) {
    Expected e;
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    if (!OpenReader(reader, path, media, &info)) return e;
    int32_t best = kInitialBestScore;
    for (int32_t i = 0; i < std::min(frames, info->frameCount); ++i) {
        const Bytes block = ReadBlock(reader, *info, i);
        const BITMAPINFOHEADER h = HeaderOf(block);
        JpegScorer scorer;
        const int32_t s =
            scorer.Score(Pixels(block), h.biWidth, h.biHeight, int32_t(DibStride24(h.biWidth)), quality).score;
        e.scores.push_back(s);
        e.order.push_back(MakeFrameOrderKey(s, i));
        if (s < best) {
            best = s;
            e.bestFrame = i;
        }
    }
    SortFrameOrder(e.order);
    return e;
}

TEST(JpegScore, EqualsUncompressedSizeMinusCjpegPlus100) {
    struct Case {
        TestVideo video;
        std::vector<int32_t> frames;
    };
    for (const Case& c : {Case{TestVideo::RawAviOddWidth, {0, 11, 23}}, Case{TestVideo::MjpegAvi, {0, 29}}}) {
        const std::string path = TestVideoPath(c.video);
        ASSERT_FALSE(path.empty());
        VideoFrameReader reader;
        FrameInfo* info = nullptr;
        ASSERT_TRUE(OpenReader(reader, path, true, &info));
        JpegScorer scorer;  // one scorer for all: reused buffers must not change a result
        for (int32_t frame : c.frames) {
            const Bytes block = ReadBlock(reader, *info, frame);
            ASSERT_FALSE(block.empty());
            const int w = info->width, h = info->height;
            const Bytes picture = PictureOf(block.data(), w, h);
            for (int quality : {1, 25, 75, 100}) {
                const long reference = CjpegSize(picture, w, h, quality);
                ASSERT_GT(reference, 0);
                const JpegScore s = scorer.Score(Pixels(block), w, h, int32_t(DibStride24(w)), quality);
                EXPECT_TRUE(s.encoded);
                EXPECT_EQ(s.jpegBytes, reference) << "frame " << frame << " quality " << quality;
                EXPECT_EQ(s.score, FrameBlockSize(w, h) - reference + 100) << "frame " << frame << " q " << quality;
            }
            // Only the low 8 bits of the quality count; 0 encodes as 1.
            const int32_t stride = int32_t(DibStride24(w));
            EXPECT_EQ(scorer.Score(Pixels(block), w, h, stride, 256 + 25).jpegBytes,
                      scorer.Score(Pixels(block), w, h, stride, 25).jpegBytes);
            EXPECT_EQ(scorer.Score(Pixels(block), w, h, stride, 0).jpegBytes,
                      scorer.Score(Pixels(block), w, h, stride, 1).jpegBytes);
        }
    }
}

TEST(JpegScore, InPlaceCopiedAndPaddedRowsGiveTheSameBytes) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, false, &info));
    const int w = info->width, h = info->height;
    const int32_t stride = int32_t(DibStride24(w));
    JpegScorer inPlace, copying, padded;
    for (int32_t frame : {3, 4, 17}) {
        const Bytes block = ReadBlock(reader, *info, frame);
        ASSERT_FALSE(block.empty());
        const JpegScore a = inPlace.Score(Pixels(block), w, h, stride, 40);
        const Bytes jpegA(inPlace.LastJpeg(), inPlace.LastJpeg() + a.jpegBytes);

        CxImage image;
        const JpegScore b = copying.ScoreImage(image, Pixels(block), w, h, stride, 40, false);
        const Bytes jpegB(copying.LastJpeg(), copying.LastJpeg() + b.jpegBytes);
        EXPECT_EQ(a.score, b.score);
        EXPECT_EQ(a.jpegBytes, b.jpegBytes);
        EXPECT_EQ(jpegA, jpegB);
        EXPECT_EQ(image.GetDibSize(), FrameBlockSize(w, h));

        // Rows with 8 spare bytes each: the picture is the same, so is the score.
        const int32_t wide = stride + 8;
        Bytes rows(size_t(wide) * h, 0xEE);
        for (int y = 0; y < h; ++y)
            std::memcpy(&rows[size_t(wide) * y], Pixels(block) + size_t(stride) * y, size_t(stride));
        const JpegScore c = padded.Score(rows.data(), w, h, wide, 40);
        EXPECT_EQ(a.score, c.score);
        EXPECT_EQ(jpegA, Bytes(padded.LastJpeg(), padded.LastJpeg() + c.jpegBytes));
    }
}

TEST(JpegScore, PreviewDecodesTheJpegBackWithoutTouchingTheFrame) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, true, &info));
    const int w = info->width, h = info->height;
    const Bytes block = ReadBlock(reader, *info, 9);
    const Bytes before = block;
    JpegScorer scorer;
    CxImage plain, preview;
    const JpegScore off = scorer.ScoreImage(plain, Pixels(block), w, h, int32_t(DibStride24(w)), 10, false);
    const JpegScore on = scorer.ScoreImage(preview, Pixels(block), w, h, int32_t(DibStride24(w)), 10, true);
    EXPECT_EQ(off.score, on.score);
    EXPECT_EQ(block, before);
    // Plain: the frame itself. Preview: what djpeg makes of our JPEG.
    EXPECT_EQ(Bytes(plain.GetBits(), plain.GetBits() + plain.GetHeader().biSizeImage),
              Bytes(Pixels(block), block.data() + block.size()));
    const std::string jpeg = Scratch("preview.jpg"), ppm = Scratch("preview.ppm");
    ASSERT_TRUE(WriteFileBytes(jpeg, Bytes(scorer.LastJpeg(), scorer.LastJpeg() + on.jpegBytes)));
    ASSERT_EQ(testsupport::RunCommand("djpeg -pnm -outfile " + testsupport::ShellQuote(ppm) + " " +
                                      testsupport::ShellQuote(jpeg)),
              0);
    const Bytes pnm = ReadFileBytes(ppm);
    ASSERT_GE(pnm.size(), size_t(3) * w * h);
    const uint8_t* rgb = pnm.data() + (pnm.size() - size_t(3) * w * h);
    ASSERT_EQ(preview.GetWidth(), uint32_t(w));
    ASSERT_EQ(preview.GetHeight(), uint32_t(h));
    ASSERT_EQ(preview.GetBpp(), 24u);
    int differences = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* ours = preview.GetBits() + size_t(preview.GetRowWidth()) * (h - 1 - y) + 3 * x;
            const uint8_t* theirs = rgb + size_t(3) * (size_t(w) * y + x);
            differences += ours[0] != theirs[2] || ours[1] != theirs[1] || ours[2] != theirs[0];
        }
    EXPECT_EQ(differences, 0);
    // At quality 10 the round trip shows: the preview is not the frame.
    EXPECT_NE(Bytes(preview.GetBits(), preview.GetBits() + preview.GetHeader().biSizeImage),
              Bytes(Pixels(block), block.data() + block.size()));
}

TEST(JpegScore, FailedEncodeScoresAsAnEmptyJpegAndSortsLast) {
    // Wider than JPEG allows (65500): libjpeg refuses it.
    const int32_t w = 65536, h = 1;
    Bytes rows(size_t(DibStride24(w)), 0x40);
    JpegScorer scorer;
    const JpegScore failed = scorer.Score(rows.data(), w, h, int32_t(DibStride24(w)), 25);
    EXPECT_FALSE(failed.encoded);
    EXPECT_EQ(failed.jpegBytes, 0);
    EXPECT_EQ(failed.score, EmptyJpegScore(FrameBlockSize(w, h)));
    EXPECT_EQ(failed.score, FrameBlockSize(w, h) + 100);

    CxImage image;
    const JpegScore viaImage = scorer.ScoreImage(image, rows.data(), w, h, int32_t(DibStride24(w)), 25, true);
    EXPECT_FALSE(viaImage.encoded);
    EXPECT_EQ(viaImage.score, failed.score);
    ASSERT_TRUE(image.IsValid());  // the plain frame stays for drawing
    EXPECT_EQ(image.GetBits()[0], 0x40);

    // Any encoded frame of that size scores lower, whatever its content, so its key sorts first.
    Bytes noisy(rows.size());
    Lcg random{7};
    for (auto& b : noisy) b = uint8_t(random.Next() >> 24);
    const int32_t narrow = 65500;
    const JpegScore encoded = scorer.Score(noisy.data(), narrow, h, int32_t(DibStride24(narrow)), 100);
    ASSERT_TRUE(encoded.encoded);
    EXPECT_LT(encoded.score, EmptyJpegScore(FrameBlockSize(narrow, h)));
    std::vector<std::string> order{MakeFrameOrderKey(EmptyJpegScore(FrameBlockSize(narrow, h)), 1),
                                   MakeFrameOrderKey(encoded.score, 2)};
    SortFrameOrder(order);
    EXPECT_EQ(order.back(), MakeFrameOrderKey(EmptyJpegScore(FrameBlockSize(narrow, h)), 1));
}

TEST(JpegScore, RefusesRowsItCannotRead) {
    JpegScorer scorer;
    Bytes rows(64, 0);
    EXPECT_FALSE(scorer.Score(nullptr, 4, 4, 12, 25).encoded);
    EXPECT_FALSE(scorer.Score(rows.data(), 4, 4, 11, 25).encoded);  // rows shorter than the pixels
    EXPECT_FALSE(scorer.Score(rows.data(), 0, 4, 12, 25).encoded);
    EXPECT_FALSE(scorer.Score(rows.data(), -3, 4, 12, 25).encoded);
    EXPECT_FALSE(scorer.Score(rows.data(), 4, -4, 12, 25).encoded);
}

class SortLoop : public ::testing::TestWithParam<bool> {};

TEST_P(SortLoop, ScoresEveryFrameAndSortsTheKeys) {
    const bool media = GetParam();
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    const Expected expected = ScoreOneByOne(path, media, 25, INT_MAX);
    ASSERT_EQ(expected.order.size(), 24u);

    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, media, &info));
    std::vector<std::string> events;
    SortCallbacks callbacks;
    callbacks.keepGoing = [&] {
        events.push_back("check");
        return true;
    };
    callbacks.frameRead = [&](int32_t frame, const uint8_t* block, int32_t length) {
        EXPECT_EQ(length, FrameBlockSize(info->width, info->height));
        EXPECT_EQ(HeaderOf(Bytes(block, block + kDibHeaderSize)).biWidth, info->width);
        events.push_back("read " + std::to_string(frame));
    };
    callbacks.scored = [&](int32_t frame, const JpegScore& s) {
        EXPECT_EQ(s.score, expected.scores[size_t(frame)]);
        events.push_back("scored " + std::to_string(frame));
    };
    std::vector<std::string> order{"stale entry"};
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, 25, order, callbacks);
    EXPECT_EQ(outcome.stop, SortStop::Done);
    EXPECT_EQ(outcome.framesScored, 24);
    EXPECT_EQ(order, expected.order);
    EXPECT_EQ(outcome.bestFrame, expected.bestFrame);
    EXPECT_EQ(outcome.bestScore, *std::min_element(expected.scores.begin(), expected.scores.end()));
    ASSERT_EQ(events.size(), 72u);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(events[size_t(3 * i)], "check");
        EXPECT_EQ(events[size_t(3 * i + 1)], "read " + std::to_string(i));
        EXPECT_EQ(events[size_t(3 * i + 2)], "scored " + std::to_string(i));
    }

    // The same sort again gives the same order.
    std::vector<std::string> again;
    ScoreAndSortFrames(reader, *info, 25, again, SortCallbacks{});
    EXPECT_EQ(again, order);
}

TEST_P(SortLoop, TerminatedAfterKFrames) {
    const bool media = GetParam();
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    const int k = 7;
    const Expected firstK = ScoreOneByOne(path, media, 25, k);
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, media, &info));

    // A plain stop: the keys of the first k frames, sorted.
    int rounds = 0;
    SortCallbacks stop;
    stop.keepGoing = [&] { return rounds++ < k; };
    std::vector<std::string> order;
    SortOutcome outcome = ScoreAndSortFrames(reader, *info, 25, order, stop);
    EXPECT_EQ(outcome.stop, SortStop::Cancelled);
    EXPECT_EQ(outcome.framesScored, k);
    EXPECT_EQ(order, firstK.order);
    EXPECT_EQ(outcome.bestFrame, firstK.bestFrame);

    // As the view's cancel check does it: the order is rebuilt in original order before the stop, and
    // sorting keeps it so; the best frame is still the best of the first k.
    rounds = 0;
    SortCallbacks viewLike;
    viewLike.keepGoing = [&] {
        if (rounds++ < k) return true;
        FillOriginalOrder(order, info->frameCount - 1);
        return false;
    };
    outcome = ScoreAndSortFrames(reader, *info, 25, order, viewLike);
    std::vector<std::string> original;
    FillOriginalOrder(original, info->frameCount - 1);
    EXPECT_EQ(order, original);
    EXPECT_EQ(outcome.bestFrame, firstK.bestFrame);

    // Stopped before the first frame: nothing scored, no best frame.
    SortCallbacks never;
    never.keepGoing = [] { return false; };
    outcome = ScoreAndSortFrames(reader, *info, 25, order, never);
    EXPECT_EQ(outcome.framesScored, 0);
    EXPECT_EQ(outcome.bestFrame, -1);
    EXPECT_TRUE(order.empty());
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, SortLoop, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Media" : "Avi"; });

TEST(SortLoopMedia, UnreadableFramesUpToTheEndEndTheSortAndKeepWhatWasScored) {
    const std::string path = TestVideoPath(TestVideo::RawAviOddWidth);
    // Frames the reader cannot deliver past the stream's end: a few are all tried, a long run is cut
    // short once the last frame cannot be read either.
    for (int32_t past : {3, 1000}) {
        SCOPED_TRACE(past);
        VideoFrameReader reader;
        FrameInfo* info = nullptr;
        ASSERT_TRUE(OpenReader(reader, path, true, &info));
        const int32_t real = info->frameCount;
        info->frameCount = real + past;
        std::vector<int32_t> unreadable;
        int32_t rounds = 0;
        SortCallbacks callbacks;
        callbacks.keepGoing = [&] { return ++rounds > 0; };
        callbacks.unreadable = [&](int32_t frame) { unreadable.push_back(frame); };
        std::vector<std::string> order;
        const SortOutcome outcome = ScoreAndSortFrames(reader, *info, 25, order, callbacks);
        EXPECT_EQ(outcome.stop, SortStop::Unreadable);
        EXPECT_EQ(outcome.unreadableFrame, real);
        EXPECT_EQ(unreadable, std::vector<int32_t>{real});
        EXPECT_TRUE(outcome.skipped.empty());
        EXPECT_EQ(outcome.framesScored, real);
        EXPECT_EQ(rounds, real + std::min(past, 25));
        EXPECT_EQ(order, ScoreOneByOne(path, true, 25, real).order);
    }
}

TEST(SortLoopOrder, QualityCanChangeTheOrder) {
    // Frame 0: faint noise that low qualities quantise away; frame 1: hard edges that survive.
    const int w = 64, h = 48;
    const std::string path = MakeVideo("quality-flip", w, h, {NoisyGrey(w, h, 3, 1), HardEdges(w, h)});
    ASSERT_FALSE(path.empty());
    auto firstFrame = [&](int quality) {
        VideoFrameReader reader;
        FrameInfo* info = nullptr;
        EXPECT_TRUE(OpenReader(reader, path, false, &info));
        std::vector<std::string> order;
        const SortOutcome outcome = ScoreAndSortFrames(reader, *info, quality, order, SortCallbacks{});
        EXPECT_EQ(order.size(), 2u);
        int32_t score = 0, frame = -1;
        EXPECT_EQ(ParseFrameOrderKey(order.front().c_str(), &score, &frame), 2);
        EXPECT_EQ(outcome.bestFrame, frame);
        return frame;
    };
    EXPECT_EQ(firstFrame(25), 1);
    EXPECT_EQ(firstFrame(100), 0);
}

TEST(SortLoopOrder, NegativeScoresSortByTextButTheBestIsTheSmallest) {
    // An 8 x 8 frame is 232 bytes uncompressed; its JPEG is larger, so every score is negative.
    const int w = 8, h = 8;
    std::vector<Bytes> pictures;
    for (int amplitude : {0, 30, 127, 60}) pictures.push_back(NoisyGrey(w, h, amplitude, uint32_t(amplitude + 3)));
    const std::string path = MakeVideo("negative", w, h, pictures);
    ASSERT_FALSE(path.empty());
    const Expected expected = ScoreOneByOne(path, false, 100, INT_MAX);
    ASSERT_EQ(expected.scores.size(), 4u);
    for (int32_t s : expected.scores) EXPECT_LT(s, 0);

    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, false, &info));
    std::vector<std::string> order;
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, 100, order, SortCallbacks{});
    EXPECT_EQ(order, expected.order);
    for (const std::string& key : order) EXPECT_EQ(key[0], '-');
    const auto smallest = std::min_element(expected.scores.begin(), expected.scores.end());
    EXPECT_EQ(outcome.bestFrame, int32_t(smallest - expected.scores.begin()));
    // Text order puts the most negative score last, not first.
    int32_t lastScore = 0;
    ASSERT_EQ(ParseFrameOrderKey(order.back().c_str(), &lastScore, nullptr), 2);
    EXPECT_EQ(lastScore, *smallest);
}

TEST(SortLoopOrder, TiesKeepTheEarliestFrameAsBest) {
    // Four identical frames: equal scores; the first one scored is the best, and keys order by frame text.
    const int w = 32, h = 16;
    const Bytes picture = HardEdges(w, h);
    std::vector<Bytes> pictures(12, picture);
    const std::string path = MakeVideo("ties", w, h, pictures);
    ASSERT_FALSE(path.empty());
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    ASSERT_TRUE(OpenReader(reader, path, false, &info));
    std::vector<std::string> order;
    const SortOutcome outcome = ScoreAndSortFrames(reader, *info, 25, order, SortCallbacks{});
    EXPECT_EQ(outcome.bestFrame, 0);
    ASSERT_EQ(order.size(), 12u);
    int32_t s0 = 0, f0 = 0, s1 = 0, f1 = 0;
    ParseFrameOrderKey(order[0].c_str(), &s0, &f0);
    ParseFrameOrderKey(order[1].c_str(), &s1, &f1);
    EXPECT_EQ(s0, s1);
    EXPECT_EQ(f0, 0);
    EXPECT_EQ(f1, 1);
    ParseFrameOrderKey(order[2].c_str(), &s1, &f1);
    EXPECT_EQ(f1, 10);  // "10" sorts before "2"
}

}  // namespace
