// The image object: construction, Create, CreateFromPixels and the memory ceiling.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <sys/resource.h>

#include "image/ximage.h"
#include "image_test_support.h"

using namespace imagetest;

TEST(ImageObject, NewImageIsEmptyWithDefaults) {
    CxImage image;
    EXPECT_FALSE(image.IsValid());
    EXPECT_EQ(image.GetBits(), nullptr);
    EXPECT_EQ(image.GetType(), CXIMAGE_FORMAT_UNKNOWN);
    EXPECT_EQ(image.jpegQuality, 75);
    EXPECT_STREQ(image.lastError, "");
    EXPECT_EQ(image.GetXResolution(), 96);
    EXPECT_EQ(image.GetYResolution(), 96);
    EXPECT_EQ(image.GetHeader().biXPelsPerMeter, 3780);
    EXPECT_EQ(image.GetHeader().biYPelsPerMeter, 3780);
    EXPECT_EQ(image.GetDibSize(), 0);
    EXPECT_EQ(CxImage(CXIMAGE_FORMAT_JPG).GetType(), CXIMAGE_FORMAT_JPG);
}

TEST(ImageObject, CreateRoundsDepthAndLaysOutTheBlock) {
    struct Case {
        uint32_t requested, depth, entries, rowWidth;  // row width for 3 pixels
    };
    const Case cases[] = {{0, 1, 2, 4},   {1, 1, 2, 4},   {2, 4, 16, 4},   {4, 4, 16, 4},   {5, 8, 256, 4},
                          {8, 8, 256, 4}, {9, 24, 0, 12}, {16, 24, 0, 12}, {24, 24, 0, 12}, {32, 24, 0, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        CxImage image;
        auto* block = static_cast<uint8_t*>(image.Create(3, 5, c.requested, 7));
        ASSERT_NE(block, nullptr);
        const BITMAPINFOHEADER& head = image.GetHeader();
        EXPECT_EQ(head.biSize, 40u);
        EXPECT_EQ(head.biWidth, 3);
        EXPECT_EQ(head.biHeight, 5);
        EXPECT_EQ(head.biPlanes, 1);
        EXPECT_EQ(head.biBitCount, c.depth);
        EXPECT_EQ(head.biCompression, BI_RGB);
        EXPECT_EQ(head.biClrUsed, c.entries);
        EXPECT_EQ(head.biClrImportant, 0u);
        EXPECT_EQ(head.biSizeImage, c.rowWidth * 5);
        EXPECT_EQ(head.biXPelsPerMeter, 3780);
        EXPECT_EQ(image.GetRowWidth(), c.rowWidth);
        EXPECT_EQ(image.GetType(), 7u);
        EXPECT_EQ(image.GetDibSize(), 40 + 4 * c.entries + c.rowWidth * 5);
        // The block starts with the header, then the zeroed palette, then the rows.
        EXPECT_EQ(std::memcmp(block, &head, 40), 0);
        for (uint32_t i = 0; i < c.entries * 4; ++i) ASSERT_EQ(block[40 + i], 0) << i;
        EXPECT_EQ(image.GetBits(), block + 40 + 4 * c.entries);
    }
}

TEST(ImageObject, CreateFromPixelsCopiesRowsInOrderOrFlipped) {
    // Two 3-pixel rows in a 12-byte stride: every byte distinct.
    std::vector<uint8_t> source(24);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i + 1);

    CxImage plain;
    ASSERT_TRUE(plain.CreateFromPixels(source.data(), 3, 2, 24, 12, false));
    EXPECT_EQ(plain.GetType(), CXIMAGE_FORMAT_UNKNOWN);
    EXPECT_EQ(plain.GetDibSize(), 40 + 12 * 2);
    EXPECT_EQ(PixelRows(plain), source);

    CxImage flipped;
    ASSERT_TRUE(flipped.CreateFromPixels(source.data(), 3, 2, 24, 12, true));
    std::vector<uint8_t> expected(source.begin() + 12, source.end());
    expected.insert(expected.end(), source.begin(), source.begin() + 12);
    EXPECT_EQ(PixelRows(flipped), expected);

    // Wider source rows: only the image's row width is taken from each.
    std::vector<uint8_t> wide(40);
    for (size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<uint8_t>(100 + i);
    CxImage fromWide;
    ASSERT_TRUE(fromWide.CreateFromPixels(wide.data(), 3, 2, 24, 20, false));
    std::vector<uint8_t> wideExpected(wide.begin(), wide.begin() + 12);
    wideExpected.insert(wideExpected.end(), wide.begin() + 20, wide.begin() + 32);
    EXPECT_EQ(PixelRows(fromWide), wideExpected);

    // Narrower source rows: the rest of each row is cleared, never left as heap garbage.
    CxImage fromNarrow;
    ASSERT_TRUE(fromNarrow.CreateFromPixels(source.data(), 3, 2, 24, 9, false));
    std::vector<uint8_t> narrowExpected(24, 0);
    std::memcpy(narrowExpected.data(), source.data(), 9);
    std::memcpy(narrowExpected.data() + 12, source.data() + 9, 9);
    EXPECT_EQ(PixelRows(fromNarrow), narrowExpected);
}

TEST(ImageObject, CreateFromPixelsSetsEvenGreyPalettes) {
    const std::vector<uint8_t> source(64, 0x3C);
    struct Case {
        uint32_t bits, entries, step;
    };
    for (const Case& c : {Case{1, 2, 255}, Case{4, 16, 17}, Case{8, 256, 1}}) {
        SCOPED_TRACE(c.bits);
        CxImage image;
        ASSERT_TRUE(image.CreateFromPixels(source.data(), 8, 4, c.bits, 8, false));
        ASSERT_EQ(image.GetHeader().biClrUsed, c.entries);
        const RGBQUAD* palette = image.GetPalette();
        ASSERT_NE(palette, nullptr);
        for (uint32_t i = 0; i < c.entries; ++i) {
            ASSERT_EQ(palette[i].rgbBlue, i * c.step) << i;
            ASSERT_EQ(palette[i].rgbGreen, i * c.step) << i;
            ASSERT_EQ(palette[i].rgbRed, i * c.step) << i;
            ASSERT_EQ(palette[i].rgbReserved, 0) << i;
        }
    }
}

TEST(ImageObject, CreateFromPixelsRejectsBadArgumentsAndKeepsTheImage) {
    const Frame frame = PhotoLikeFrame(5, 4);
    CxImage image;
    ASSERT_TRUE(image.CreateFromPixels(frame.rows.data(), 5, 4, 24, frame.stride, false));
    const std::vector<uint8_t> before = PixelRows(image);

    EXPECT_FALSE(image.CreateFromPixels(nullptr, 5, 4, 24, frame.stride, false));
    for (uint32_t bits : {0u, 2u, 16u, 32u})
        EXPECT_FALSE(image.CreateFromPixels(frame.rows.data(), 5, 4, bits, frame.stride, false)) << bits;
    ASSERT_TRUE(image.IsValid());
    EXPECT_EQ(PixelRows(image), before);
}

TEST(ImageObject, HugeSizesAreRefusedWithoutWrapping) {
    struct Case {
        uint32_t width, height, bits;
    };
    const Case cases[] = {
        {65536, 65536, 24},              // width * height wraps to 0 in 32 bits
        {100000, 100000, 8},             // far over the ceiling
        {0xFFFFFFFFu, 0xFFFFFFFFu, 24},  // would wrap even in 64 bits once multiplied by the depth
        {0x80000000u, 1, 1},             // does not fit the header's signed width
        {1, 0x7FFFFFFFu, 1},             // under the ceiling, but the rows pass 4 GiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
        CxImage image;
        const Frame frame = FlatFrame(4, 4, 1, 2, 3);
        ASSERT_TRUE(image.CreateFromPixels(frame.rows.data(), 4, 4, 24, frame.stride, false));
        EXPECT_EQ(image.Create(c.width, c.height, c.bits, 0), nullptr);
        EXPECT_STREQ(image.lastError, "CXIMAGE_MAX_MEMORY exceeded");
        EXPECT_FALSE(image.IsValid());  // a failed Create leaves the image empty
        EXPECT_EQ(image.GetBits(), nullptr);
    }
    // A large but sane size still works.
    CxImage big;
    EXPECT_NE(big.Create(3840, 2160, 24, 0), nullptr);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(ImageObjectDeathTest, AllocationFailureIsReported) {
    // In a child process with a small address space, a 3.6 GB block (under the ceiling) cannot be had.
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = rlim_t(2) << 30;
            if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
            CxImage image;
            const bool refused = image.Create(40000, 30000, 24, 0) == nullptr;
            const bool text = std::strcmp(image.lastError, "CxImage::Create can't allocate memory") == 0;
            std::_Exit(refused && text && !image.IsValid() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif
