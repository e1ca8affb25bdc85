// Input that is not a good AVI file: empty, foreign, cut at every byte, with absurd sizes, or damaged
// at random. The reader must refuse or read what is there, never crash, and never return wrong frames.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "TestTools.h"
#include "image/dib.h"
#include "video/AviReader.h"
#include "video/AviReaderParse.h"
#include "video/RiffSource.h"

namespace {

TestAvi SmallFile(TestIndex index, int frames = 6) {
    TestAvi s;
    s.width = 3;
    s.height = 2;
    s.index = index;
    s.framesInFirstRiff = frames / 2;
    for (int i = 0; i < frames; ++i) s.frames.push_back(PatternFrame(s, i));
    return s;
}

// Reads every frame the reader offers (at most limit); each one that decodes must be frame i of the
// original, with a well-formed block.
void ReadAll(AviReader& r, const TestAvi& original, uint32_t limit = 64) {
    const uint32_t n = std::min(r.Length(), limit);
    for (uint32_t i = 0; i < n; ++i) {
        int32_t size = 0;
        FrameBlockPtr block(r.DecodeFrame(int32_t(i), &size));
        if (!block) continue;
        ASSERT_EQ(size, FrameBlockSize(r.Width(), r.Height()));
        if (i < original.frames.size() && r.Width() == original.width && r.Height() == original.height) {
            // The first two bytes of each frame's data name it (see PatternFrame); frame i must be i.
            const uint8_t* bottomRow = block.get() + 40;
            EXPECT_EQ(bottomRow[0] | (bottomRow[1] << 8), int(i)) << "frame " << i;
        }
    }
}

TEST(AviHostile, EmptyAndForeignInputIsRefused) {
    std::string error;
    EXPECT_FALSE(AviReader::OpenMemory(nullptr, 0, &error));
    EXPECT_FALSE(error.empty());

    const std::string empty = Scratch("empty.avi");
    ASSERT_TRUE(WriteFileBytes(empty, {}));
    EXPECT_FALSE(AviReader::OpenFile(empty.c_str(), &error));

    const std::string text = "This is a text file renamed to .avi, not a video.\n";
    const Bytes textBytes(text.begin(), text.end());
    const std::string textPath = Scratch("text.avi");
    ASSERT_TRUE(WriteFileBytes(textPath, textBytes));
    EXPECT_FALSE(AviReader::OpenFile(textPath.c_str(), &error));

    for (const std::string& head : {std::string("RIFF"), std::string("RIFF\x04\0\0\0AVI ", 12),
                                    std::string("RIFF\x04\0\0\0WAVE", 12), std::string("RIFX\x04\0\0\0AVI ", 12)}) {
        const Bytes b(head.begin(), head.end());
        EXPECT_FALSE(AviReader::OpenMemory(b.data(), b.size())) << head;
    }

    // An AVI without a video stream, and one whose video stream lacks a bitmap format.
    TestAvi s = SmallFile(TestIndex::Idx1Relative);
    Bytes noVideo = BuildAvi(s);
    std::memcpy(noVideo.data() + FindTag(noVideo, "vids"), "txts", 4);
    EXPECT_FALSE(AviReader::OpenMemory(noVideo.data(), noVideo.size(), &error));
    EXPECT_EQ(error, "no video stream");
    Bytes noFormat = BuildAvi(s);
    std::memcpy(noFormat.data() + FindTag(noFormat, "strf"), "strx", 4);
    EXPECT_FALSE(AviReader::OpenMemory(noFormat.data(), noFormat.size()));
}

TEST(AviHostile, FrameSizesOutOfRangeFailTheOpen) {
    struct Size {
        int32_t width, height;
        bool opens;
    };
    for (const Size& c :
         {Size{100000, 100000, false}, Size{16385, 1, false}, Size{1, 16385, false}, Size{1, -16385, false},
          Size{0, 5, false}, Size{-3, 5, false}, Size{5, 0, false}, Size{5, INT32_MIN, false},
          Size{INT32_MAX, INT32_MAX, false}, Size{16384, 1, true}, Size{16384, -16384, true}}) {
        TestAvi s = SmallFile(TestIndex::Idx1Relative, 2);
        Bytes file = BuildAvi(s);
        const size_t strf = FindTag(file, "strf");
        Put32(file, strf + 8 + 4, uint32_t(c.width));
        Put32(file, strf + 8 + 8, uint32_t(c.height));
        std::string error;
        auto reader = AviReader::OpenMemory(file.data(), file.size(), &error);
        EXPECT_EQ(bool(reader), c.opens) << c.width << "x" << c.height << " " << error;
        if (reader) {
            // The file's 2 frames are far too short for such a frame: no decode, no huge allocation.
            EXPECT_EQ(reader->DecodeFrame(0, nullptr), nullptr);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

// Declared sizes near 2^32 in every place a size is read.
TEST(AviHostile, ChunkSizesNearTwoToTheThirtyTwo) {
    struct Damage {
        TestIndex index;
        const char* tag;
        int fieldOffset;  // from the tag
        uint32_t value;
    };
    const Damage cases[] = {
        {TestIndex::Idx1Relative, "RIFF", 4, 0xFFFFFFFFu},
        {TestIndex::Idx1Relative, "RIFF", 4, 0},
        {TestIndex::Idx1Relative, "hdrl", -4, 0xFFFFFFF8u},
        {TestIndex::Idx1Relative, "strl", -4, 0xFFFFFFFFu},
        {TestIndex::Idx1Relative, "strh", 4, 0xFFFFFFFFu},
        {TestIndex::Idx1Relative, "strf", 4, 0xFFFFFFFFu},
        {TestIndex::Idx1Relative, "strf", 4, 3},
        {TestIndex::Idx1Relative, "movi", -4, 0xFFFFFFFFu},
        {TestIndex::None, "movi", -4, 0xFFFFFFFFu},
        {TestIndex::None, "00db", 4, 0xFFFFFFFFu},
        {TestIndex::None, "00db", 4, 0xFFFFFFFEu},
        {TestIndex::Idx1Relative, "00db", 4, 0xFFFFFFFFu},
        {TestIndex::Idx1Relative, "idx1", 4, 0xFFFFFFF0u},
        {TestIndex::Idx1Relative, "idx1", 4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "indx", 4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "indx", 8 + 4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "ix00", 4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "ix00", 8 + 4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "ix00", 8, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "AVIX", -4, 0xFFFFFFFFu},
        {TestIndex::OpenDml, "dmlh", 8, 0xFFFFFFFFu},
        {TestIndex::None, "LIST", 4, 0xFFFFFFFFu},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(std::string(d.tag) + " +" + std::to_string(int(d.fieldOffset)) + " = " + std::to_string(d.value));
        const TestAvi s = SmallFile(d.index);
        Bytes file = BuildAvi(s);
        Put32(file, size_t(int64_t(FindTag(file, d.tag)) + d.fieldOffset), d.value);
        auto reader = AviReader::OpenMemory(file.data(), file.size());
        if (reader) {
            EXPECT_LE(reader->Length(), file.size() / 8 + 1);
            ReadAll(*reader, s);
        }
    }
}

// Cut at every byte: the reader refuses or reads the frames the cut left whole, and those frames are
// the right ones.
TEST(AviHostile, TruncatedAtEveryByte) {
    for (TestIndex index : {TestIndex::Idx1Relative, TestIndex::None, TestIndex::OpenDml}) {
        TestAvi s = SmallFile(index);
        s.recLists = index == TestIndex::None;
        const Bytes file = BuildAvi(s);
        bool openedSome = false;
        for (size_t cut = 0; cut <= file.size(); ++cut) {
            auto reader = AviReader::OpenMemory(file.data(), cut);
            if (!reader) continue;
            openedSome = true;
            ASSERT_LE(reader->Length(), s.frames.size()) << "cut at " << cut;
            ReadAll(*reader, s);
        }
        EXPECT_TRUE(openedSome);
    }
}

// Random damage to a few bytes anywhere; a fixed seed keeps the run repeatable.
TEST(AviHostile, RandomDamage) {
    std::mt19937 rng(20240601);
    for (TestIndex index : {TestIndex::Idx1Relative, TestIndex::Idx1Absolute, TestIndex::None, TestIndex::OpenDml}) {
        TestAvi s = SmallFile(index);
        s.audioFirst = index == TestIndex::OpenDml;
        const Bytes original = BuildAvi(s);
        for (int round = 0; round < 1500; ++round) {
            Bytes file = original;
            const int hits = 1 + int(rng() % 4);
            for (int h = 0; h < hits; ++h) {
                const size_t at = rng() % file.size();
                switch (rng() % 3) {
                case 0: file[at] = uint8_t(rng()); break;
                case 1: file[at] = 0xFF; break;
                default: file[at] = 0; break;
                }
            }
            auto reader = AviReader::OpenMemory(file.data(), file.size());
            if (reader) {
                EXPECT_LE(reader->Length(), file.size() / 8 + 1);
                const uint32_t n = std::min<uint32_t>(reader->Length(), 16);
                for (uint32_t i = 0; i < n; ++i) std::free(reader->DecodeFrame(int32_t(i), nullptr));
            }
        }
    }
}

// A palette-change chunk with counts larger than its data, entries past 255, and one that lies
// outside the file leave the palette well defined.
TEST(AviHostile, PaletteChangesThatLie) {
    TestAvi s;
    s.width = 4;
    s.height = 1;
    s.bitCount = 8;
    for (int i = 0; i < 256; ++i) s.palette.insert(s.palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    s.frames = {Bytes{0, 1, 254, 255}, Bytes{0, 1, 254, 255}, Bytes{0, 1, 254, 255}};
    s.paletteChanges = {{0, Bytes{254, 0, 0, 0, 9, 8, 7, 0}},  // claims 256 entries from 254, holds one
                        {1, Bytes{255, 4, 0, 0, 1, 2, 3, 0, 4, 5, 6, 0}}};
    Bytes file = BuildAvi(s);
    auto reader = AviReader::OpenMemory(file.data(), file.size());
    ASSERT_TRUE(reader);
    int32_t size = 0;
    FrameBlockPtr f0(reader->DecodeFrame(0, &size));
    FrameBlockPtr f1(reader->DecodeFrame(1, &size));
    FrameBlockPtr f2(reader->DecodeFrame(2, &size));
    EXPECT_TRUE(BlockMatches(f0.get(), size, 4, 1, Bytes{0, 0, 0, 1, 1, 1, 254, 254, 254, 255, 255, 255}));
    // First change: entry 254 only (its data ends there). Second: entry 255 only (256 and up do not exist).
    EXPECT_TRUE(BlockMatches(f1.get(), size, 4, 1, Bytes{0, 0, 0, 1, 1, 1, 7, 8, 9, 255, 255, 255}));
    EXPECT_TRUE(BlockMatches(f2.get(), size, 4, 1, Bytes{0, 0, 0, 1, 1, 1, 7, 8, 9, 3, 2, 1}));
}

}  // namespace
