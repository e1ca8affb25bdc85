// The growable memory stream under the codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "image/xmemfile.h"

namespace {

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0));
    return bytes;
}

}  // namespace

TEST(MemStream, GrowsInWholeStepsOf4096) {
    CxMemStream stream;
    EXPECT_EQ(stream.Capacity(), 0);
    EXPECT_EQ(stream.Size(), 0);
    const std::vector<uint8_t> data = Counting(20000);

    ASSERT_EQ(stream.Write(data.data(), 1, 10000), 10000u);
    EXPECT_EQ(stream.Size(), 10000);
    EXPECT_EQ(stream.Tell(), 10000);
    EXPECT_EQ(stream.Capacity(), 12288);

    ASSERT_EQ(stream.Write(data.data(), 1, 2288), 2288u);  // exactly full: no growth
    EXPECT_EQ(stream.Capacity(), 12288);
    ASSERT_EQ(stream.Write(data.data(), 1, 1), 1u);
    EXPECT_EQ(stream.Capacity(), 16384);

    // 4096-byte writes, as the JPEG destination does them: one step each.
    CxMemStream chunked;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(chunked.Write(data.data(), 1, 4096), 4096u);
        EXPECT_EQ(chunked.Capacity(), 4096 * i);
    }
    // One write larger than a step takes as many steps as it needs.
    CxMemStream single;
    ASSERT_EQ(single.Write(data.data(), 4, 5000), 5000u);
    EXPECT_EQ(single.Capacity(), 20480);
    EXPECT_EQ(single.Size(), 20000);
    EXPECT_EQ(std::memcmp(single.GetBuffer(false), data.data(), data.size()), 0);
}

TEST(MemStream, ReadsSeeksAndReportsItsEnd) {
    CxMemStream stream;
    const std::vector<uint8_t> data = Counting(10);
    ASSERT_EQ(stream.Write(data.data(), 1, 10), 10u);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.HasError(), 0);
    EXPECT_TRUE(stream.Flush());

    ASSERT_TRUE(stream.Seek(0, kSeekSet));
    uint8_t out[16] = {};
    EXPECT_EQ(stream.Read(out, 4, 2), 2u);  // two whole 4-byte elements
    EXPECT_EQ(std::memcmp(out, data.data(), 8), 0);
    EXPECT_EQ(stream.Read(out, 4, 1), 0u);  // only 2 bytes left: no whole element, position moves on
    EXPECT_EQ(stream.Tell(), 10);
    EXPECT_EQ(stream.Read(out, 1, 1), 0u);  // at the end
    EXPECT_EQ(stream.GetByte(), -1);

    ASSERT_TRUE(stream.Seek(-3, kSeekEnd));
    EXPECT_EQ(stream.GetByte(), 7);
    ASSERT_TRUE(stream.Seek(1, kSeekCur));
    EXPECT_EQ(stream.GetByte(), 9);
    EXPECT_FALSE(stream.Seek(-1, kSeekSet));
    EXPECT_FALSE(stream.Seek(0, 3));
    EXPECT_EQ(stream.Tell(), 10);

    // Past the end: an error state until a write fills the gap, which reads back as zeros.
    ASSERT_TRUE(stream.Seek(14, kSeekSet));
    EXPECT_EQ(stream.HasError(), 1);
    EXPECT_TRUE(stream.AtEnd());
    ASSERT_TRUE(stream.PutByte(0xEE));
    EXPECT_EQ(stream.Size(), 15);
    EXPECT_EQ(stream.HasError(), 0);
    ASSERT_TRUE(stream.Seek(10, kSeekSet));
    uint8_t tail[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(stream.Read(tail, 1, 5), 5u);
    const uint8_t expected[5] = {0, 0, 0, 0, 0xEE};
    EXPECT_EQ(std::memcmp(tail, expected, 5), 0);
}

TEST(MemStream, RejectsEmptyNullAndOverflowingWrites) {
    CxMemStream stream;
    const uint8_t byte = 1;
    EXPECT_EQ(stream.Write(nullptr, 1, 4), 0u);
    EXPECT_EQ(stream.Write(&byte, 0, 4), 0u);
    EXPECT_EQ(stream.Write(&byte, 1, 0), 0u);
    EXPECT_EQ(stream.Write(&byte, SIZE_MAX / 2, 3), 0u);  // the byte count itself overflows
    EXPECT_EQ(stream.Write(&byte, 1, size_t(INT32_MAX) + 1), 0u);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(stream.Capacity(), 0);
    uint8_t out = 0;
    EXPECT_EQ(stream.Read(nullptr, 1, 1), 0u);
    EXPECT_EQ(stream.Read(&out, 0, 1), 0u);
}

TEST(MemStream, CallersBufferIsReadButNeverReallocatedOrFreed) {
    // Not a malloc'd block: realloc or free on it would be fatal under the sanitizers.
    std::vector<uint8_t> callers = Counting(8);
    {
        CxMemStream stream(callers.data(), 8);
        EXPECT_FALSE(stream.OwnsBuffer());
        EXPECT_EQ(stream.Size(), 8);
        uint8_t first[3] = {};
        EXPECT_EQ(stream.Read(first, 1, 3), 3u);
        EXPECT_EQ(first[2], 2);

        ASSERT_TRUE(stream.Seek(0, kSeekEnd));
        const std::vector<uint8_t> more = Counting(100);
        ASSERT_EQ(stream.Write(more.data(), 1, 100), 100u);
        EXPECT_TRUE(stream.OwnsBuffer());
        EXPECT_NE(stream.GetBuffer(false), callers.data());
        EXPECT_EQ(stream.Size(), 108);
        EXPECT_EQ(stream.Capacity(), 8 + 4096);
        ASSERT_TRUE(stream.Seek(0, kSeekSet));
        std::vector<uint8_t> all(108);
        EXPECT_EQ(stream.Read(all.data(), 1, 108), 108u);
        EXPECT_EQ(std::memcmp(all.data(), callers.data(), 8), 0);
        EXPECT_EQ(std::memcmp(all.data() + 8, more.data(), 100), 0);
    }
    EXPECT_EQ(callers, Counting(8));
}
