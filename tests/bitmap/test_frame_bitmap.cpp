// FrameBitmap: colour tables, the .bmp layout, files that Pillow and ImageMagick read, and saves that
// fail without harming what was on disk.
#include "video/FrameBitmap.h"

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// A packed DIB: header, colour table, bottom-up rows of random pixels (indices below the table size).
struct Dib {
    int32_t width, height, bpp;
    std::vector<RGBQUAD> colours;
    int64_t stride;
    Bytes block;

    Dib(int32_t w, int32_t h, uint16_t bitCount, uint32_t clrUsed, size_t tableEntries, uint32_t seed = 1)
        : width(w), height(h), bpp(bitCount), stride(((int64_t(w) * bitCount + 31) / 32) * 4) {
        std::mt19937 gen(seed);
        for (size_t i = 0; i < tableEntries; ++i)
            colours.push_back({uint8_t(gen()), uint8_t(gen()), uint8_t(gen()), 0});
        BITMAPINFOHEADER hdr{40, w, h, 1, bitCount, BI_RGB, uint32_t(stride * h), 2835, 2835, clrUsed, 0};
        block.resize(40 + 4 * tableEntries + size_t(stride * h));
        std::memcpy(block.data(), &hdr, 40);
        if (tableEntries) std::memcpy(block.data() + 40, colours.data(), 4 * tableEntries);
        uint8_t* rows = block.data() + 40 + 4 * tableEntries;
        for (int64_t i = 0; i < stride * h; ++i) rows[i] = uint8_t(gen());
        if (bitCount <= 8) {
            // Keep every pixel's index inside the table.
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) SetIndex(x, y, uint8_t(gen() % tableEntries));
        }
    }
    uint8_t* Rows() { return block.data() + 40 + 4 * colours.size(); }
    void SetIndex(int32_t x, int32_t y, uint8_t index) {
        uint8_t* row = Rows() + stride * y;
        if (bpp == 8) {
            row[x] = index;
        } else {  // 4 bits: high nibble first
            uint8_t& b = row[x / 2];
            b = x % 2 ? uint8_t((b & 0xF0) | index) : uint8_t((b & 0x0F) | index << 4);
        }
    }
    // Pixels as RGB, top row first: what an image reader hands back.
    Bytes Rgb() {
        Bytes out;
        for (int32_t y = height - 1; y >= 0; --y) {
            const uint8_t* row = Rows() + stride * y;
            for (int32_t x = 0; x < width; ++x) {
                if (bpp == 24) {
                    out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
                } else {
                    const uint8_t index = bpp == 8 ? row[x] : (x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4);
                    const RGBQUAD& c = colours[index];
                    out.insert(out.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
                }
            }
        }
        return out;
    }
};

void ExpectBmpFile(const std::string& path, const Bytes& block, uint32_t offBits) {
    const Bytes f = ReadFileBytes(path);
    ASSERT_EQ(f.size(), block.size() + 14);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(Le32(f, 2), block.size() + 14);
    EXPECT_EQ(Le32(f, 6), 0u);  // both reserved words
    EXPECT_EQ(Le32(f, 10), offBits);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), f.begin() + 14));
}

TEST(FrameBitmap, TwentyFourBitsHaveNoColourTable) {
    TempDir dir;
    Dib dib(2, 2, 24, 0, 0);
    ASSERT_EQ(dib.block.size(), 56u);
    FrameBitmap bmp;
    EXPECT_EQ(bmp.ownsBlock, 0);
    EXPECT_EQ(bmp.block, nullptr);
    EXPECT_TRUE(bmp.Attach(dib.block.data(), 56));
    EXPECT_EQ(bmp.block, dib.block.data());
    EXPECT_EQ(bmp.GetBits(), dib.block.data() + 40);
    EXPECT_EQ(static_cast<void*>(bmp.GetHeader()), dib.block.data());
    EXPECT_EQ(reinterpret_cast<uint8_t*>(bmp.colourTable), dib.block.data() + 40);
    EXPECT_EQ(bmp.colourCount, 0);
    EXPECT_EQ(bmp.blockLength, 56);
    EXPECT_TRUE(bmp.palette.empty());
    ASSERT_TRUE(bmp.SaveAsBmp((dir / "f.bmp").c_str()));
    ExpectBmpFile(dir / "f.bmp", dib.block, 54);
    EXPECT_EQ(fs::file_size(dir / "f.bmp"), 70u);

    // Re-attaching points at the new block and leaves the old one as it was.
    const Bytes before = dib.block;
    Dib other(3, 1, 8, 0, 256, 2);
    EXPECT_TRUE(bmp.Attach(other.block.data(), int32_t(other.block.size())));
    EXPECT_EQ(bmp.GetBits(), other.block.data() + 1064);
    EXPECT_EQ(dib.block, before);
}

TEST(FrameBitmap, ColourTablesFollowBitCountAndColoursUsed) {
    TempDir dir;
    struct Case {
        uint16_t bpp;
        uint32_t clrUsed;
        int32_t entries;  // table entries the block carries and Attach must count
        uint32_t offBits;
    } const cases[] = {{8, 0, 256, 1078}, {4, 6, 6, 78},  {4, 0, 16, 118}, {1, 0, 2, 62},
                       {8, 3, 3, 66},     {16, 0, 0, 54}, {32, 0, 0, 54},  {16, 5, 0, 54}};
    for (const Case& c : cases) {
        SCOPED_TRACE("bits " + std::to_string(c.bpp) + " colours used " + std::to_string(c.clrUsed));
        Dib dib(5, 3, c.bpp, c.clrUsed, size_t(c.entries));
        FrameBitmap bmp;
        bmp.Attach(dib.block.data(), int32_t(dib.block.size()));
        EXPECT_EQ(bmp.colourCount, c.entries);
        EXPECT_EQ(bmp.GetBits(), dib.block.data() + 40 + 4 * c.entries);
        ASSERT_EQ(bmp.palette.size(), size_t(c.entries));
        for (int i = 0; i < c.entries; ++i) {
            const RGBQUAD& q = dib.colours[size_t(i)];
            EXPECT_EQ(bmp.palette[size_t(i)],
                      0xFF000000u | uint32_t(q.rgbRed) << 16 | uint32_t(q.rgbGreen) << 8 | q.rgbBlue);
        }
        const std::string path = dir / ("t" + std::to_string(c.bpp) + "_" + std::to_string(c.clrUsed) + ".bmp");
        ASSERT_TRUE(bmp.SaveAsBmp(path.c_str()));
        ExpectBmpFile(path, dib.block, c.offBits);
    }
}

TEST(FrameBitmap, InconsistentBlocksAreNeverReadPastTheirEnd) {
    // An 8-bit header that claims a full table over a block with room for two entries.
    Bytes shortTable(48, 0);
    BITMAPINFOHEADER h{40, 1, 1, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    std::memcpy(shortTable.data(), &h, 40);
    FrameBitmap bmp;
    bmp.Attach(shortTable.data(), int32_t(shortTable.size()));
    EXPECT_EQ(bmp.colourCount, 2);
    EXPECT_EQ(bmp.palette.size(), 2u);

    h.biClrUsed = 0xFFFFFFFFu;
    std::memcpy(shortTable.data(), &h, 40);
    bmp.Attach(shortTable.data(), int32_t(shortTable.size()));
    EXPECT_EQ(bmp.colourCount, 2);

    // Shorter than a header: nothing is read from it.
    auto tiny = std::make_unique<uint8_t[]>(20);
    bmp.Attach(tiny.get(), 20);
    EXPECT_EQ(bmp.colourCount, 0);
    EXPECT_TRUE(bmp.palette.empty());

    bmp.Attach(nullptr, 0);
    EXPECT_EQ(bmp.GetBits(), nullptr);
    EXPECT_EQ(bmp.GetHeader(), nullptr);
    EXPECT_FALSE(bmp.SaveAsBmp("/tmp/never-written.bmp"));
    EXPECT_FALSE(fs::exists("/tmp/never-written.bmp"));
}

TEST(FrameBitmap, PillowAndImageMagickReadOurPixels) {
    TempDir dir;
    struct Case {
        const char* name;
        int32_t w, h;
        uint16_t bpp;
        uint32_t clrUsed;
        size_t entries;
    } const cases[] = {{"rgb", 5, 3, 24, 0, 0}, {"pal8", 7, 4, 8, 0, 256}, {"pal4", 3, 2, 4, 6, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dib dib(c.w, c.h, c.bpp, c.clrUsed, c.entries, 9);
        FrameBitmap bmp;
        bmp.Attach(dib.block.data(), int32_t(dib.block.size()));
        const std::string path = dir / (std::string(c.name) + ".bmp");
        ASSERT_TRUE(bmp.SaveAsBmp(path.c_str()));
        const Bytes expected = dib.Rgb();

        const CommandRun pillow = RunCapture(
            "/usr/bin/python3 -c \"import sys; from PIL import Image; "
            "im = Image.open(sys.argv[1]); "
            "sys.stdout.write(im.mode + ' %dx%d ' % im.size); sys.stdout.flush(); "
            "sys.stdout.buffer.write(im.convert('RGB').tobytes())\" '" +
            path + "'");
        ASSERT_EQ(pillow.status, 0);
        const std::string prefix = std::string(c.bpp == 24 ? "RGB" : "P") + " " + std::to_string(c.w) + "x" +
                                   std::to_string(c.h) + " ";
        ASSERT_EQ(pillow.out.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(Bytes(pillow.out.begin() + long(prefix.size()), pillow.out.end()) == expected) << "Pillow";

        const CommandRun magick = RunCapture("/usr/bin/convert '" + path + "' -depth 8 rgb:- 2>/dev/null");
        ASSERT_EQ(magick.status, 0);
        EXPECT_TRUE(Bytes(magick.out.begin(), magick.out.end()) == expected) << "ImageMagick";
    }
}

TEST(FrameBitmap, SaveBeforeAttachCreatesNothing) {
    TempDir dir;
    EXPECT_EQ(sharedFrameBitmap.block, nullptr);
    EXPECT_EQ(sharedFrameBitmap.ownsBlock, 0);
    FrameBitmap bmp;
    EXPECT_FALSE(bmp.SaveAsBmp((dir / "none.bmp").c_str()));
    EXPECT_FALSE(bmp.LastSaveError().empty());
    EXPECT_TRUE(FilesIn(dir.path()).empty());
}

TEST(FrameBitmap, ReplacesFilesWholeAndKeepsLinks) {
    TempDir dir;
    Dib dib(4, 4, 24, 0, 0, 3);
    FrameBitmap bmp;
    bmp.Attach(dib.block.data(), int32_t(dib.block.size()));
    const std::string target = dir / "k\xC3\xA9p \xC3\xBC.bmp";  // UTF-8 name with a space
    std::ofstream(target) << "an older picture";
    fs::create_symlink(target, dir / "link.bmp");
    ASSERT_TRUE(bmp.SaveAsBmp((dir / "link.bmp").c_str())) << bmp.LastSaveError();
    EXPECT_TRUE(fs::is_symlink(dir / "link.bmp"));
    ExpectBmpFile(target, dib.block, 54);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"k\xC3\xA9p \xC3\xBC.bmp", "link.bmp"}));

    // A name at the length limit still saves (the temporary name must not be longer than allowed).
    const std::string longName = std::string(250, 'n') + ".bmp";
    ASSERT_TRUE(bmp.SaveAsBmp((dir / longName).c_str())) << bmp.LastSaveError();
    ExpectBmpFile(dir / longName, dib.block, 54);
    fs::remove(dir / longName);

    // A folder in the way is not replaced.
    fs::create_directory(dir / "folder.bmp");
    EXPECT_FALSE(bmp.SaveAsBmp((dir / "folder.bmp").c_str()));
    EXPECT_EQ(bmp.LastSaveError(), std::strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(dir / "folder.bmp"));
}

// Runs a save in a child process (so limits and identity changes stay there); returns the child's
// result and error text, or "skip: ..." when the child could not set itself up.
std::string SaveInChild(const Bytes& block, const std::string& path, rlim_t fileLimit, bool dropPrivileges) {
    char result[256] = {};
    const int status = RunInChild(result, fileLimit ? long(fileLimit) : -1, [&](char(&shared)[256]) {
        if (dropPrivileges && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            std::snprintf(shared, 256, "skip: cannot drop privileges");
            return;
        }
        FrameBitmap bmp;
        bmp.Attach(const_cast<uint8_t*>(block.data()), int32_t(block.size()));
        const bool ok = bmp.SaveAsBmp(path.c_str());
        std::snprintf(shared, 256, "%s %s", ok ? "saved" : "failed", bmp.LastSaveError().c_str());
    });
    EXPECT_EQ(status, 0);
    return result;
}

TEST(FrameBitmap, FailedSaveLeavesThePreviousFileAndNoTemporary) {
    TempDir dir;
    Dib dib(100, 100, 24, 0, 0, 4);
    const std::string target = dir / "frame.bmp";
    std::ofstream(target) << "previous";

    // The file system refuses the bytes past 1000.
    EXPECT_EQ(SaveInChild(dib.block, target, 1000, false), std::string("failed ") + std::strerror(EFBIG));
    EXPECT_EQ(ReadFileText(target), "previous");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"frame.bmp"});

    // A folder we may not write to.
    fs::create_directory(dir / "locked");
    std::ofstream(dir / "locked/frame.bmp") << "previous";
    chmod((dir / "locked/frame.bmp").c_str(), 0666);  // the file is writable, its folder is not
    chmod((dir / "locked").c_str(), 0555);
    chmod(dir.path().c_str(), 0755);
    const std::string locked = SaveInChild(dib.block, dir / "locked/frame.bmp", 0, true);
    if (locked.rfind("skip:", 0) == 0) GTEST_SKIP() << locked;
    EXPECT_EQ(locked.rfind("failed ", 0), 0u) << locked;
    EXPECT_EQ(ReadFileText(dir / "locked/frame.bmp"), "previous");
    EXPECT_EQ(FilesIn(dir / "locked"), std::vector<std::string>{"frame.bmp"});
}

}  // namespace
