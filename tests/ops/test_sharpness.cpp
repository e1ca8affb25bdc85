// The sharpness score: the Laplacian variance against a direct computation in double precision on
// the same luma (Y planes the test wrote itself and encoded losslessly, or the BGR pixels of the AVI
// back end), the sort's order, and the ranking of frames blurred by a known amount.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "OpsTestSupport.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSharpness.h"
#include "selector/FrameSort.h"

using namespace opstest;

namespace {

// Top-down luma in 8-bit steps.
struct Luma {
    int width = 0, height = 0;
    std::vector<double> values;
    double At(int x, int y) const { return values[size_t(y) * size_t(width) + size_t(x)]; }
};

// The variance of the 3x3 Laplacian over the pixels with four neighbours, two passes in double.
double ReferenceVariance(const Luma& l) {
    std::vector<double> response;
    for (int y = 1; y + 1 < l.height; ++y)
        for (int x = 1; x + 1 < l.width; ++x)
            response.push_back(l.At(x, y - 1) + l.At(x, y + 1) + l.At(x - 1, y) + l.At(x + 1, y) - 4 * l.At(x, y));
    if (response.empty()) return 0;
    const double mean = std::accumulate(response.begin(), response.end(), 0.0) / double(response.size());
    double sum = 0;
    for (double r : response) sum += (r - mean) * (r - mean);
    return sum / double(response.size());
}

// The local score read from its definition: square windows of 200/720 of the height (at least 16),
// as many as round to fit, stretched over the picture; the highest variance of a window's interior
// pixels (16 at least).
double ReferenceLocal(const Luma& l) {
    const int side = std::max(l.height * 200 / 720, 16);
    const int nx = std::max((l.width + side / 2) / side, 1), ny = std::max((l.height + side / 2) / side, 1);
    double best = 0;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            std::vector<double> r;
            for (int y = std::max(j * l.height / ny, 1); y < std::min((j + 1) * l.height / ny, l.height - 1); ++y)
                for (int x = std::max(i * l.width / nx, 1); x < std::min((i + 1) * l.width / nx, l.width - 1); ++x)
                    r.push_back(l.At(x, y - 1) + l.At(x, y + 1) + l.At(x - 1, y) + l.At(x + 1, y) - 4 * l.At(x, y));
            if (r.size() < 16) continue;
            const double mean = std::accumulate(r.begin(), r.end(), 0.0) / double(r.size());
            double sum = 0;
            for (double v : r) sum += (v - mean) * (v - mean);
            best = std::max(best, sum / double(r.size()));
        }
    return best;
}

Luma Box(const Luma& l, int left, int top, int width, int height) {
    Luma box{width, height, {}};
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) box.values.push_back(l.At(x, y));
    return box;
}

// The reader's line interpolation on picture rows: block rows 1, 3, ... (bottom-up) up to height - 3.
Luma Interpolated(Luma l, int depth) {
    for (int k = 0; k <= (l.height - 4) / 2; ++k) {
        const int y = l.height - 2 - 2 * k;
        for (int x = 0; x < l.width; ++x) {
            const double scale = double(1 << (depth - 8));
            const int a = int(l.At(x, y - 1) * scale), b = int(l.At(x, y + 1) * scale);
            l.values[size_t(y) * size_t(l.width) + size_t(x)] = double((a >> 1) + (b >> 1)) / scale;
        }
    }
    return l;
}

// A Y plane of frame index with edges, gradients and noise, at depth bits; frames from 9 on repeat
// frame 9, so the sort meets equal scores.
std::vector<uint16_t> DrawPlane(int index, int width, int height, int depth) {
    const int seed = std::min(index, 9);
    uint32_t state = 2654435761u * uint32_t(seed + 1);
    std::vector<uint16_t> plane(size_t(width) * size_t(height));
    const int top = (1 << depth) - 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int edge = ((x + seed) / (3 + seed) + y / 4) % 2 ? top / 2 : 0;
            const int noise = int(state >> 16) % (top / (2 + seed));
            plane[size_t(y) * size_t(width) + size_t(x)] = uint16_t(
                std::min(top, edge + noise + x * top / (4 * width)));
        }
    return plane;
}

// A lossless FFV1 AVI of frames drawn by DrawPlane (grey chroma); empty on failure.
std::string MakeYuvVideo(const std::string& name, int width, int height, int frames, int depth) {
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    Bytes raw;
    for (int i = 0; i < frames; ++i) {
        std::vector<uint16_t> samples = DrawPlane(i, width, height, depth);
        samples.resize(samples.size() + 2 * size_t(cw) * size_t(ch), uint16_t(1 << (depth - 1)));
        for (uint16_t s : samples) {
            raw.push_back(uint8_t(s & 0xFF));
            if (depth > 8) raw.push_back(uint8_t(s >> 8));
        }
    }
    const std::string rawPath = Scratch(name + ".yuv");
    if (!WriteFileBytes(rawPath, raw)) return {};
    const std::string format = depth > 8 ? "yuv420p10le" : "yuv420p";
    return MakeCachedFile(name, "avi", "avi",
                          "-f rawvideo -pix_fmt " + format + " -s " + std::to_string(width) + "x" +
                              std::to_string(height) + " -r 25 -i " + ShellQuote(rawPath) + " -c:v ffv1");
}

Luma LumaOfPlane(const std::vector<uint16_t>& plane, int width, int height, int depth) {
    Luma l{width, height, {}};
    for (uint16_t s : plane) l.values.push_back(double(s) / double(1 << (depth - 8)));
    return l;
}

// BT.601 luma of a bottom-up 24-bit frame block.
Luma LumaOfBlock(const Bytes& block, int width, int height) {
    Luma l{width, height, {}};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = PictureRow(block, width, height, y);
        for (int x = 0; x < width; ++x)
            l.values.push_back(0.299 * row[3 * x + 2] + 0.587 * row[3 * x + 1] + 0.114 * row[3 * x]);
    }
    return l;
}

struct SharpSort {
    SortOutcome outcome;
    std::vector<std::string> order;
    std::vector<double> sharpness;  // by frame
    std::vector<JpegScore> scores;
};

SharpSort Sort(const std::string& path, bool media, const ScoreSettings& settings, bool deinterlace = false,
               bool withFrameRead = false) {
    SharpSort s;
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    reader.SetDeinterlace(deinterlace ? 1 : 0);
    if (!OpenReader(reader, path, media, &info)) return s;
    reader.SetDeinterlace(deinterlace ? 1 : 0);
    SortCallbacks callbacks;
    callbacks.scored = [&](int32_t frame, const JpegScore& score) {
        s.sharpness.resize(size_t(frame) + 1);
        s.scores.resize(size_t(frame) + 1);
        s.sharpness[size_t(frame)] = score.sharpness;
        s.scores[size_t(frame)] = score;
    };
    if (withFrameRead) callbacks.frameRead = [](int32_t, const uint8_t*, int32_t) {};
    s.outcome = ScoreAndSortFrames(reader, *info, settings, s.order, callbacks);
    reader.Close(*info);
    return s;
}

void ExpectClose(double actual, double expected) {
    EXPECT_NEAR(actual, expected, 1e-9 * std::max(1.0, std::abs(expected))) << actual << " vs " << expected;
}

}  // namespace

TEST(Sharpness, PlanesOfEveryDepthAgreeWithTheReference) {
    const struct {
        int width, height, depth;
    } rows[] = {{3, 3, 8},   {2, 9, 8},   {37, 11, 8}, {1031, 5, 8},  {9000, 4, 8},
                {33, 7, 10}, {35, 9, 12}, {19, 5, 16}, {730, 300, 8}, {403, 161, 10}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height) + " depth " +
                     std::to_string(row.depth));
        std::vector<uint16_t> samples = DrawPlane(3, row.width, row.height, row.depth);
        if (row.width == 9000)  // the largest responses over a long row: the vector sums must not overflow
            for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i / 9000 + i) % 2 ? 255 : 0;
        Bytes bytes;
        for (uint16_t s : samples) {
            if (row.depth == 8) {
                bytes.push_back(uint8_t(s));
            } else {
                bytes.push_back(uint8_t(s & 0xFF));
                bytes.push_back(uint8_t(s >> 8));
            }
        }
        // A stride wider than the row: only width samples of each row count.
        const int sampleBytes = row.depth > 8 ? 2 : 1;
        const int64_t stride = int64_t(row.width) * sampleBytes + 6;
        Bytes padded(size_t(stride) * size_t(row.height), 0xEE);
        for (int y = 0; y < row.height; ++y)
            std::copy_n(bytes.begin() + y * row.width * sampleBytes, row.width * sampleBytes,
                        padded.begin() + y * stride);
        const LumaPlane plane{padded.data(), stride, row.width, row.height, row.depth};
        const double expected = ReferenceVariance(LumaOfPlane(samples, row.width, row.height, row.depth));
        ExpectClose(LaplacianVariance(plane, false), expected);
        EXPECT_EQ(LaplacianVariance(plane, true), LaplacianVariance(plane, false));
        // The local score: windows of the same sums.
        ExpectClose(LocalLaplacianVariance(plane, false),
                    ReferenceLocal(LumaOfPlane(samples, row.width, row.height, row.depth)));
        EXPECT_EQ(LocalLaplacianVariance(plane, true), LocalLaplacianVariance(plane, false));
    }
}

TEST(Sharpness, FramesThroughTheReaderAgreeWithTheReference) {
    constexpr int kW = 67, kH = 45, kFrames = 12;
    const std::string yuv8 = MakeYuvVideo("sharp-yuv8", kW, kH, kFrames, 8);
    const std::string yuv10 = MakeYuvVideo("sharp-yuv10", kW, kH, kFrames, 10);
    ASSERT_FALSE(yuv8.empty());
    ASSERT_FALSE(yuv10.empty());
    struct Row {
        const char* what;
        std::string path;
        bool media;
        int depth;  // 0: BGR pixels through the AVI back end
        bool box, deinterlace, frameRead;
    };
    const Row rows[] = {
        {"8-bit YUV, odd size", yuv8, true, 8, false, false, false},
        {"10-bit YUV", yuv10, true, 10, false, false, false},
        {"8-bit YUV, box at odd corners, frames drawn", yuv8, true, 8, true, false, true},
        {"10-bit YUV, deinterlaced, box", yuv10, true, 10, true, true, false},
        {"8-bit YUV, deinterlaced, frames drawn", yuv8, true, 8, false, true, true},
        {"RGB AVI", TestVideoPath(TestVideo::RawAviOddWidth), false, 0, false, false, false},
        {"palette AVI, box", TestVideoPath(TestVideo::Pal8Avi), false, 0, true, false, false},
        {"RGB AVI through FFmpeg, box, deinterlaced", TestVideoPath(TestVideo::RawAviOddWidth), true, 0, true, true,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScoreSettings settings;
        settings.kind = ScoreKind::Sharpness;
        settings.useBox = row.box;
        settings.left = 3, settings.top = 5, settings.width = 31, settings.height = 17;
        const SharpSort s = Sort(row.path, row.media, settings, row.deinterlace, row.frameRead);
        ASSERT_EQ(s.outcome.stop, SortStop::Done);
        ASSERT_GT(s.sharpness.size(), 1u);
        VideoFrameReader reader;
        FrameInfo* info = nullptr;
        ASSERT_TRUE(OpenReader(reader, row.path, row.media, &info));
        reader.SetDeinterlace(row.deinterlace ? 1 : 0);
        for (size_t frame = 0; frame < s.sharpness.size(); ++frame) {
            Luma luma;
            if (row.depth > 0) {
                luma = LumaOfPlane(DrawPlane(int(frame), kW, kH, row.depth), kW, kH, row.depth);
                if (row.deinterlace) luma = Interpolated(luma, row.depth);
            } else {
                luma = LumaOfBlock(ReadBlock(reader, *info, int32_t(frame)), info->width, info->height);
            }
            if (row.box) luma = Box(luma, 3, 5, 31, 17);
            ExpectClose(s.sharpness[frame], ReferenceVariance(luma));
            EXPECT_EQ(s.scores[frame].jpegBytes, 0);
        }
        // The order: the highest variance first, equal ones in frame order.
        ASSERT_EQ(s.order.size(), s.sharpness.size());
        std::vector<int32_t> expected(s.sharpness.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int32_t a, int32_t b) { return s.sharpness[size_t(a)] > s.sharpness[size_t(b)]; });
        for (size_t position = 0; position < expected.size(); ++position)
            EXPECT_EQ(s.order[position], MakeFrameOrderKey(int32_t(position), expected[position]));
        EXPECT_EQ(s.outcome.bestFrame, expected[0]);
    }
}

namespace {

// Spearman's rank correlation (ties get their mean rank).
double Spearman(const std::vector<double>& a, const std::vector<double>& b) {
    const auto ranks = [](const std::vector<double>& v) {
        std::vector<size_t> order(v.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](size_t i, size_t j) { return v[i] < v[j]; });
        std::vector<double> r(v.size());
        for (size_t i = 0; i < order.size();) {
            size_t j = i;
            while (j + 1 < order.size() && v[order[j + 1]] == v[order[i]]) ++j;
            for (size_t k = i; k <= j; ++k) r[order[k]] = double(i + j) / 2;
            i = j + 1;
        }
        return r;
    };
    const std::vector<double> ra = ranks(a), rb = ranks(b);
    const double mean = double(a.size() - 1) / 2;
    double cov = 0, va = 0, vb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        cov += (ra[i] - mean) * (rb[i] - mean);
        va += (ra[i] - mean) * (ra[i] - mean);
        vb += (rb[i] - mean) * (rb[i] - mean);
    }
    return cov / std::sqrt(va * vb);
}

}  // namespace

// 100 frames of a zooming fractal (detail that changes from frame to frame), each blurred by its own
// known Gaussian sigma from 0.05 to 3.0, H.264 at CRF 16; once more with grain added after the blur.
// The sharpness must follow the blur (Spearman with -sigma at least 0.9) and better than the JPEG size.
TEST(Sharpness, RanksFramesByTheirBlurBetterThanTheJpegSize) {
    constexpr int kFrames = 100;
    std::vector<double> minusSigma;
    std::string commands;
    uint32_t state = 18;
    for (int k = 0; k < kFrames; ++k) {
        state = state * 1664525u + 1013904223u;
        const double sigma = 0.05 + 2.95 * double(state >> 8) / double(1 << 24);
        minusSigma.push_back(-sigma);
        char line[64];
        std::snprintf(line, sizeof line, "%.4f gblur sigma %.4f;\n", std::max(0.0, k * 0.04 - 0.001), sigma);
        commands += line;
    }
    const std::string commandFile = Scratch("blur-commands.txt");
    ASSERT_TRUE(WriteFileText(commandFile, commands));
    for (const char* grain : {"", ",noise=alls=8:allf=t"}) {
        SCOPED_TRACE(*grain ? "grain after the blur" : "blur only");
        const std::string path = MakeCachedFile(*grain ? "blur-grain" : "blur", "mp4", "mp4",
                                                "-f lavfi -i mandelbrot=s=640x360:r=25 -frames:v 100 -vf sendcmd=f=" +
                                                    ShellQuote(commandFile) + ",gblur=sigma=0.05" + grain +
                                                    ",format=yuv420p -c:v libx264 -crf 16 -preset veryfast");
        ASSERT_FALSE(path.empty());
        ScoreSettings sharpness, jpeg;
        sharpness.kind = ScoreKind::Sharpness;
        const SharpSort bySharpness = Sort(path, true, sharpness), byJpeg = Sort(path, true, jpeg);
        ASSERT_EQ(bySharpness.sharpness.size(), size_t(kFrames));
        ASSERT_EQ(byJpeg.scores.size(), size_t(kFrames));
        std::vector<double> bytes;
        for (const JpegScore& s : byJpeg.scores) bytes.push_back(s.jpegBytes);
        const double sharpCorrelation = Spearman(bySharpness.sharpness, minusSigma);
        const double jpegCorrelation = Spearman(bytes, minusSigma);
        std::printf("Spearman with -sigma%s: sharpness %.3f, JPEG size %.3f\n", grain, sharpCorrelation,
                    jpegCorrelation);
        EXPECT_GE(sharpCorrelation, 0.9);
        EXPECT_GT(sharpCorrelation, jpegCorrelation);
    }
}

// A small subject (fine grain of 106 x 90, the size of one window of the local score at 360 rows)
// blurred by its own known sigma from 1.0 to 1.5 on a background of the same grain blurred more, by a
// sigma of 1.6 to 2.6 that has nothing to do with the subject's. The local score follows the subject
// (Spearman with -sigma at least 0.9); the whole picture's variance, mostly background, falls below that.
TEST(Sharpness, LocalSharpnessFollowsTheSubjectNotTheBackground) {
    constexpr int kFrames = 60;
    std::vector<double> minusSigma;
    std::string commands;
    uint32_t state = 5;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1 << 24);
    };
    for (int k = 0; k < kFrames; ++k) {
        const double subject = 1.0 + 0.5 * next(), background = 1.6 + 1.0 * next();
        minusSigma.push_back(-subject);
        char line[96];
        std::snprintf(line, sizeof line, "%.4f gblur@fg sigma %.4f, gblur@bg sigma %.4f;\n",
                      std::max(0.0, k * 0.04 - 0.001), subject, background);
        commands += line;
    }
    const std::string commandFile = Scratch("local-blur-commands.txt");
    ASSERT_TRUE(WriteFileText(commandFile, commands));
    const std::string grain = ",geq=lum='random(1)*255':cb=128:cr=128";
    const std::string path = MakeCachedFile(
        "local-blur", "mp4", "mp4",
        "-f lavfi -i " + ShellQuote("nullsrc=s=640x360:r=25" + grain) + " -f lavfi -i " +
            ShellQuote("nullsrc=s=106x90:r=25" + grain) + " -filter_complex " +
            ShellQuote("[0]sendcmd=f=" + commandFile +
                       ",gblur@bg=sigma=2[bg];[1]gblur@fg=sigma=1[fg];[bg][fg]overlay=107:90,format=yuv420p") +
            " -frames:v 60 -c:v libx264 -crf 16 -preset veryfast");
    ASSERT_FALSE(path.empty());
    ScoreSettings local, global;
    local.kind = ScoreKind::LocalSharpness;
    global.kind = ScoreKind::Sharpness;
    const SharpSort byLocal = Sort(path, true, local), byGlobal = Sort(path, true, global);
    ASSERT_EQ(byLocal.sharpness.size(), size_t(kFrames));
    ASSERT_EQ(byGlobal.sharpness.size(), size_t(kFrames));
    const double localCorrelation = Spearman(byLocal.sharpness, minusSigma);
    const double globalCorrelation = Spearman(byGlobal.sharpness, minusSigma);
    std::printf("Spearman with the subject's -sigma: local sharpness %.3f, sharpness %.3f\n", localCorrelation,
                globalCorrelation);
    EXPECT_GE(localCorrelation, 0.9);
    EXPECT_LT(globalCorrelation, 0.9);
}
