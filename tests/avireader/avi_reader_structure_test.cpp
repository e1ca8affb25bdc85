// Hand-built files: every kind of index and list layout, every pixel depth in both row orders, palette
// changes, dropped frames. Where ffmpeg is present it decodes the same bytes as a referee.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "TestTools.h"
#include "image/dib.h"
#include "video/AviReader.h"
#include "video/AviReaderParse.h"
#include "video/RiffSource.h"

namespace {

// The picture of a 24-bit frame as top-down rows without filler.
Bytes TopDown24(const TestAvi& s, const Bytes& data) {
    const size_t stride = SourceStride(s.width, 24), used = size_t(s.width) * 3;
    Bytes out;
    for (int r = 0; r < s.height; ++r) {
        const size_t src = size_t(s.topDown ? r : s.height - 1 - r) * stride;
        out.insert(out.end(), data.begin() + std::ptrdiff_t(src), data.begin() + std::ptrdiff_t(src + used));
    }
    return out;
}

AviIndexSource IndexSourceOf(const Bytes& file) {
    auto src = MakeMemoryByteSource(file.data(), file.size());
    AviLayout layout;
    return ParseAvi(*src, &layout, nullptr) ? layout.indexSource : AviIndexSource::None;
}

TestAvi Frames24(int count, int width = 5, int height = 3) {
    TestAvi s;
    s.width = width;
    s.height = height;
    s.bitCount = 24;
    for (int i = 0; i < count; ++i) s.frames.push_back(PatternFrame(s, i));
    return s;
}

struct LayoutCase {
    const char* name;
    TestIndex index;
    int framesInFirstRiff;
    bool recLists, junk, audioFirst, dcChunks;
    void (*damage)(Bytes&);  // applied to the built bytes, may be null
    AviIndexSource expected;
};

class IndexLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(IndexLayouts, EveryFrameReadsBackInOrder) {
    const LayoutCase& c = GetParam();
    TestAvi s = Frames24(9);
    s.index = c.index;
    s.framesInFirstRiff = c.framesInFirstRiff;
    s.recLists = c.recLists;
    s.junk = c.junk;
    s.audioFirst = c.audioFirst;
    s.dbChunks = !c.dcChunks;
    Bytes file = BuildAvi(s);
    if (c.damage) c.damage(file);
    EXPECT_EQ(IndexSourceOf(file), c.expected);

    std::string error;
    auto reader = AviReader::OpenMemory(file.data(), file.size(), &error);
    ASSERT_TRUE(reader) << error;
    ASSERT_EQ(reader->Length(), 9u);
    for (int i = 0; i < 9; ++i) {
        int32_t size = 0;
        FrameBlockPtr block(reader->DecodeFrame(i, &size));
        EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, TopDown24(s, s.frames[size_t(i)])))
            << "frame " << i;
    }

    // The referee reads the same bytes to the same pictures, so the builder writes real AVI files.
    if (HaveFfmpeg()) {
        const std::string path = Scratch(std::string("layout_") + c.name + ".avi");
        ASSERT_TRUE(WriteFileBytes(path, file));
        const std::vector<Bytes> ref = FfmpegFrames(path, s.width, s.height, "-fps_mode passthrough");
        ASSERT_EQ(ref.size(), 9u);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(ref[size_t(i)], TopDown24(s, s.frames[size_t(i)])) << "ffmpeg frame " << i;
    }
}

void RenameIndx(Bytes& b) { std::memcpy(b.data() + FindTag(b, "indx"), "JUNK", 4); }
void BreakFirstStandardIndex(Bytes& b) { b[FindTag(b, "ix00") + 8 + 3] = 7; }

using TI = TestIndex;
using IS = AviIndexSource;
INSTANTIATE_TEST_SUITE_P(
    Layouts, IndexLayouts,
    ::testing::Values(
        LayoutCase{"idx1_relative", TI::Idx1Relative, -1, false, false, false, false, nullptr, IS::Idx1},
        LayoutCase{"idx1_absolute", TI::Idx1Absolute, -1, false, false, false, false, nullptr, IS::Idx1},
        LayoutCase{"no_index", TI::None, -1, false, false, false, false, nullptr, IS::Scan},
        LayoutCase{"opendml_one_riff", TI::OpenDml, -1, false, false, false, false, nullptr, IS::OpenDml},
        LayoutCase{"opendml_two_riffs", TI::OpenDml, 5, false, false, false, false, nullptr, IS::OpenDml},
        LayoutCase{"opendml_and_idx1", TI::OpenDmlAndIdx1, 4, false, false, false, false, nullptr, IS::OpenDml},
        // Without the OpenDML index, idx1 covers the first RIFF and the AVIX part is scanned.
        LayoutCase{"idx1_and_avix", TI::OpenDmlAndIdx1, 4, false, false, false, false, RenameIndx, IS::Idx1AndScan},
        LayoutCase{"avix_without_index", TI::OpenDml, 6, false, false, false, false, RenameIndx, IS::Scan},
        // A damaged standard index sets the OpenDML index aside rather than shifting later frames.
        LayoutCase{"opendml_damaged_standard_index", TI::OpenDml, 4, false, false, false, false,
                   BreakFirstStandardIndex, IS::Scan},
        LayoutCase{"rec_lists_idx1", TI::Idx1Relative, -1, true, false, false, false, nullptr, IS::Idx1},
        LayoutCase{"rec_lists_scanned", TI::None, -1, true, false, false, false, nullptr, IS::Scan},
        LayoutCase{"junk", TI::Idx1Relative, -1, false, true, false, false, nullptr, IS::Idx1},
        LayoutCase{"junk_scanned", TI::None, -1, false, true, false, false, nullptr, IS::Scan},
        LayoutCase{"audio_first", TI::Idx1Relative, -1, false, false, true, false, nullptr, IS::Idx1},
        LayoutCase{"audio_first_opendml", TI::OpenDml, 3, false, false, true, false, nullptr, IS::OpenDml},
        LayoutCase{"dc_chunks", TI::Idx1Relative, -1, false, false, false, true, nullptr, IS::Idx1}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Odd-sized chunks written without their pad byte (audio of 3 bytes, frames one byte longer than
// needed) are still followed by a scan.
TEST(AviScan, FollowsOddChunksWithoutPadding) {
    TestAvi s = Frames24(6);
    for (Bytes& f : s.frames) f.push_back(0xEE);
    s.audioFirst = true;
    s.padOddChunks = false;
    s.index = TestIndex::None;
    const Bytes file = BuildAvi(s);
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Length(), 6u);
    for (int i = 0; i < 6; ++i) {
        int32_t size = 0;
        FrameBlockPtr block(reader->DecodeFrame(i, &size));
        Bytes data = s.frames[size_t(i)];
        data.pop_back();
        EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, TopDown24(s, data))) << "frame " << i;
    }
}

struct DepthCase {
    uint16_t bitCount;
    bool topDown;
    int width;
};

class Depths : public ::testing::TestWithParam<DepthCase> {};

// Every depth in both row orders against ffmpeg's decode of the same bytes.
TEST_P(Depths, MatchFfmpeg) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    const DepthCase c = GetParam();
    TestAvi s;
    s.width = c.width;
    s.height = 3;
    s.bitCount = c.bitCount;
    s.topDown = c.topDown;
    if (c.bitCount == 8) {
        std::mt19937 rng(7);
        for (int i = 0; i < 256 * 4; ++i) s.palette.push_back(i % 4 == 3 ? 0 : uint8_t(rng()));
    }
    for (int i = 0; i < 4; ++i) s.frames.push_back(PatternFrame(s, i));
    const Bytes file = BuildAvi(s);
    const std::string path = Scratch("depth_" + std::to_string(c.bitCount) + (c.topDown ? "_td_" : "_bu_") +
                                     std::to_string(c.width) + ".avi");
    ASSERT_TRUE(WriteFileBytes(path, file));
    const std::vector<Bytes> ref = FfmpegFrames(path, s.width, s.height, "-fps_mode passthrough");
    ASSERT_EQ(ref.size(), 4u);

    auto reader = AviReader::OpenFile(path.c_str());
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->CanDecode());
    EXPECT_EQ(reader->Height(), 3);
    for (int i = 0; i < 4; ++i) {
        int32_t size = 0;
        FrameBlockPtr block(reader->DecodeFrame(i, &size));
        EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, ref[size_t(i)])) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, Depths,
                         ::testing::Values(DepthCase{8, false, 5}, DepthCase{8, true, 5}, DepthCase{8, false, 8},
                                           DepthCase{16, false, 5}, DepthCase{16, true, 5}, DepthCase{16, false, 8},
                                           DepthCase{24, false, 5}, DepthCase{24, true, 5}, DepthCase{24, true, 8},
                                           DepthCase{32, false, 5}, DepthCase{32, true, 5}),
                         [](const ::testing::TestParamInfo<DepthCase>& info) {
                             return std::to_string(info.param.bitCount) +
                                    (info.param.topDown ? "_topdown_" : "_bottomup_") +
                                    std::to_string(info.param.width);
                         });

// A colour table shorter than the depth allows: the entries it lacks are black.
TEST(AviPalette, MissingEntriesAreBlack) {
    TestAvi s;
    s.width = 4;
    s.height = 1;
    s.bitCount = 8;
    s.clrUsed = 2;
    s.palette = {10, 20, 30, 0, 40, 50, 60, 0};
    s.frames.push_back({0, 1, 2, 255});
    const Bytes file = BuildAvi(s);
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    int32_t size = 0;
    FrameBlockPtr block(reader->DecodeFrame(0, &size));
    EXPECT_TRUE(BlockMatches(block.get(), size, 4, 1, Bytes{10, 20, 30, 40, 50, 60, 0, 0, 0, 0, 0, 0}));
}

Bytes PaletteChange(int first, int count, uint8_t seed) {
    Bytes b{uint8_t(first), uint8_t(count == 256 ? 0 : count), 0, 0};
    for (int i = 0; i < count; ++i) {
        b.push_back(uint8_t(seed + i * 3));    // red
        b.push_back(uint8_t(seed * 7 + i));    // green
        b.push_back(uint8_t(255 - seed - i));  // blue
        b.push_back(0);
    }
    return b;
}

// Palette changes, from idx1 and from a scan, in and out of order, with more changes than one
// checkpoint span so that jumping back restores a kept palette.
TEST(AviPalette, ChangesMatchFfmpegInAnyReadingOrder) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not found";
    for (TestIndex index : {TestIndex::Idx1Relative, TestIndex::None}) {
        SCOPED_TRACE(index == TestIndex::None ? "scanned" : "idx1");
        TestAvi s;
        s.width = 6;
        s.height = 2;
        s.bitCount = 8;
        s.index = index;
        for (int i = 0; i < 256; ++i)
            s.palette.insert(s.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 5), 0});
        const int frames = 150;
        for (int i = 0; i < frames; ++i) {
            Bytes f = PatternFrame(s, i);
            f[0] = uint8_t(12 + i % 5);  // always shows one of the entries the partial changes touch
            s.frames.push_back(f);
            if (i % 3 == 0)
                s.paletteChanges.push_back({i, PaletteChange(0, 256, uint8_t(i))});
            else
                s.paletteChanges.push_back({i, PaletteChange(10, 5, uint8_t(i * 11))});
        }
        const Bytes file = BuildAvi(s);
        const std::string path = Scratch("palette_changes_built.avi");
        ASSERT_TRUE(WriteFileBytes(path, file));
        const std::vector<Bytes> ref = FfmpegFrames(path, s.width, s.height, "-fps_mode passthrough");
        ASSERT_EQ(ref.size(), size_t(frames));

        auto reader = AviReader::OpenMemory(file.data(), file.size());
        ASSERT_TRUE(reader);
        std::vector<int> order;
        for (int i = frames - 1; i >= 0; --i) order.push_back(i);
        std::mt19937 rng(3);
        for (int i = 0; i < 100; ++i) order.push_back(int(rng() % frames));
        for (int i : order) {
            int32_t size = 0;
            FrameBlockPtr block(reader->DecodeFrame(i, &size));
            ASSERT_TRUE(BlockMatches(block.get(), size, s.width, s.height, ref[size_t(i)])) << "frame " << i;
        }
    }
}

// A zero-size chunk is a dropped frame: the frame before it is shown again.
TEST(AviDroppedFrames, RepeatThePreviousFrame) {
    for (TestIndex index : {TestIndex::Idx1Relative, TestIndex::None, TestIndex::OpenDml}) {
        TestAvi s = Frames24(5);
        s.index = index;
        s.frames[1].clear();
        s.frames[3].clear();
        s.frames[4].clear();
        const Bytes file = BuildAvi(s);
        auto reader = AviReader::OpenMemory(file.data(), file.size());
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->Length(), 5u);
        const int shows[5] = {0, 0, 2, 2, 2};
        for (int i = 0; i < 5; ++i) {
            int32_t size = 0;
            FrameBlockPtr block(reader->DecodeFrame(i, &size));
            EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, TopDown24(s, s.frames[size_t(shows[i])])))
                << "frame " << i;
        }
    }
    TestAvi s = Frames24(2);
    s.frames[0].clear();
    const Bytes file = BuildAvi(s);
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Length(), 2u);
    EXPECT_EQ(reader->DecodeFrame(0, nullptr), nullptr);
    FrameBlockPtr second(reader->DecodeFrame(1, nullptr));
    EXPECT_TRUE(second);
}

TEST(AviFrameData, ShortChunkDoesNotDecodeLongChunkReadsWhatItNeeds) {
    TestAvi s = Frames24(3);
    s.frames[1].pop_back();
    const Bytes full = s.frames[2];
    s.frames[2].resize(full.size() + 100, 0x5A);
    const Bytes file = BuildAvi(s);
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Length(), 3u);
    EXPECT_EQ(reader->DecodeFrame(1, nullptr), nullptr);
    int32_t size = 0;
    FrameBlockPtr block(reader->DecodeFrame(2, &size));
    EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, TopDown24(s, full)));
    EXPECT_EQ(reader->DecodeFrame(-1, nullptr), nullptr);
    EXPECT_EQ(reader->DecodeFrame(3, nullptr), nullptr);
}

// The index wins over the stream header for what can be read, and an entry pointing outside the
// file is a frame that does not decode, not a failed open.
TEST(AviIndex, EntriesPointingPastTheEndDoNotDecode) {
    TestAvi s = Frames24(4);
    Bytes file = BuildAvi(s);
    const size_t idx1 = FindTag(file, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    Put32(file, idx1 + 8 + 3 * 16 + 8, 0xFFFFFF00u);   // last entry's offset
    Put32(file, idx1 + 8 + 2 * 16 + 12, 0xFFFFFFF0u);  // third entry's size
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->Length(), 4u);
    EXPECT_EQ(reader->DecodeFrame(3, nullptr), nullptr);
    EXPECT_EQ(reader->DecodeFrame(2, nullptr), nullptr);
    for (int i = 0; i < 2; ++i) {
        int32_t size = 0;
        FrameBlockPtr block(reader->DecodeFrame(i, &size));
        EXPECT_TRUE(BlockMatches(block.get(), size, s.width, s.height, TopDown24(s, s.frames[size_t(i)])));
    }

    // OpenDML: a base offset so large that base + offset wraps around.
    s.index = TestIndex::OpenDml;
    file = BuildAvi(s);
    const size_t ix = FindTag(file, "ix00");
    ASSERT_NE(ix, std::string::npos);
    for (int i = 0; i < 8; ++i) file[ix + 8 + 12 + size_t(i)] = 0xFF;
    reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    for (uint32_t i = 0; i < reader->Length(); ++i) EXPECT_EQ(reader->DecodeFrame(int32_t(i), nullptr), nullptr);
}

TEST(AviIndex, StreamHeaderLengthDoesNotDecideTheFrameCount) {
    for (int64_t length : {int64_t(0), int64_t(1), int64_t(0x7fffffff), int64_t(0xffffffff)}) {
        TestAvi s = Frames24(3);
        s.strhLength = length;
        const Bytes file = BuildAvi(s);
        auto reader = AviReader::OpenMemory(file.data(), file.size());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->Length(), 3u) << "dwLength " << length;
        FrameBlockPtr last(reader->DecodeFrame(2, nullptr));
        EXPECT_TRUE(last);
    }
}

}  // namespace
