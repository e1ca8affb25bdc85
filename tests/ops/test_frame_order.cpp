// The frame order's keys, their reading back, the byte-wise sort and the original order.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "selector/FrameOrder.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> order) {
    SortFrameOrder(order);
    return order;
}

TEST(FrameOrderKey, ZeroPaddedScoreThenPlainFrame) {
    EXPECT_EQ(MakeFrameOrderKey(987, 37), "0000000987 37");
    EXPECT_EQ(MakeFrameOrderKey(-120, 5), "-000000120 5");
    EXPECT_EQ(MakeFrameOrderKey(7, 7), "0000000007 7");
    EXPECT_EQ(MakeFrameOrderKey(INT_MIN, INT_MAX), "-2147483648 2147483647");
    EXPECT_EQ(MakeFrameOrderKey(INT_MAX, 0), "2147483647 0");
}

TEST(FrameOrderSort, ByteOrderOfTheKeys) {
    // Equal scores fall back to the text of the frame number.
    EXPECT_EQ(Sorted({MakeFrameOrderKey(500, 9), MakeFrameOrderKey(500, 10)}),
              (std::vector<std::string>{"0000000500 10", "0000000500 9"}));
    EXPECT_EQ(Sorted({MakeFrameOrderKey(5, 11), MakeFrameOrderKey(5, 100)}),
              (std::vector<std::string>{"0000000005 100", "0000000005 11"}));
    // Negative keys first; among them -5 before -10 (text order, not numeric).
    EXPECT_EQ(Sorted({MakeFrameOrderKey(0, 1), MakeFrameOrderKey(-10, 2), MakeFrameOrderKey(3, 3),
                      MakeFrameOrderKey(-5, 4)}),
              (std::vector<std::string>{"-000000005 4", "-000000010 2", "0000000000 1", "0000000003 3"}));
    // Non-negative scores sort numerically thanks to the padding.
    EXPECT_EQ(Sorted({MakeFrameOrderKey(1000, 0), MakeFrameOrderKey(999, 1), MakeFrameOrderKey(1000000000, 2)}),
              (std::vector<std::string>{"0000000999 1", "0000001000 0", "1000000000 2"}));
}

TEST(FrameOrderSort, BytesAboveSevenBitsCompareUnsigned) {
    // strcmp compares as unsigned char; a plain signed-char comparison would put these first.
    EXPECT_EQ(Sorted({"\xC3\xA9", "a"}), (std::vector<std::string>{"a", "\xC3\xA9"}));
}

TEST(FrameOrderParse, ReadsKeysBack) {
    int32_t score = 1, frame = 1;
    EXPECT_EQ(ParseFrameOrderKey("0000000987 37", &score, &frame), 2);
    EXPECT_EQ(score, 987);
    EXPECT_EQ(frame, 37);
    EXPECT_EQ(ParseFrameOrderKey("-000000120 5", &score, &frame), 2);
    EXPECT_EQ(score, -120);
    EXPECT_EQ(frame, 5);
    for (int32_t s : {INT_MIN, -1, 0, 1, 134217727, INT_MAX}) {
        for (int32_t f : {0, 9, 10, INT_MAX}) {
            ASSERT_EQ(ParseFrameOrderKey(MakeFrameOrderKey(s, f).c_str(), &score, &frame), 2);
            EXPECT_EQ(score, s);
            EXPECT_EQ(frame, f);
        }
    }
}

TEST(FrameOrderParse, GarbageLikeSscanf) {
    int32_t score = 77, frame = 88;
    EXPECT_EQ(ParseFrameOrderKey(nullptr, &score, &frame), -1);
    EXPECT_EQ(ParseFrameOrderKey("", &score, &frame), -1);
    EXPECT_EQ(ParseFrameOrderKey(" \t\n", &score, &frame), -1);
    EXPECT_EQ(ParseFrameOrderKey("x12 3", &score, &frame), 0);
    EXPECT_EQ(ParseFrameOrderKey("- 12 3", &score, &frame), 0);
    EXPECT_EQ(score, 77);
    EXPECT_EQ(frame, 88);
    EXPECT_EQ(ParseFrameOrderKey("12", &score, &frame), 1);
    EXPECT_EQ(score, 12);
    EXPECT_EQ(frame, 88);  // untouched
    EXPECT_EQ(ParseFrameOrderKey("12x 4", &score, &frame), 1);
    EXPECT_EQ(ParseFrameOrderKey("  +12\n\t-4trailing", &score, &frame), 2);
    EXPECT_EQ(score, 12);
    EXPECT_EQ(frame, -4);
    // Beyond 32 bits: saturated, and the digits are all used up.
    EXPECT_EQ(ParseFrameOrderKey("99999999999999999999999 -99999999999999999999 ", &score, &frame), 2);
    EXPECT_EQ(score, INT_MAX);
    EXPECT_EQ(frame, INT_MIN);
    EXPECT_EQ(ParseFrameOrderKey("2147483648 -2147483649", &score, &frame), 2);
    EXPECT_EQ(score, INT_MAX);
    EXPECT_EQ(frame, INT_MIN);
    // Null result pointers are allowed.
    EXPECT_EQ(ParseFrameOrderKey("1 2", nullptr, nullptr), 2);
}

TEST(FrameOrderParse, AgreesWithSscanfOnRandomTexts) {
    // Texts from an alphabet that makes numbers, signs and blanks likely; values stay within 32 bits,
    // where sscanf's behaviour is defined.
    const char alphabet[] = "0123456789  +-\t\nx.";
    std::mt19937 random(12345);
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const int length = int(random() % 14);
        for (int i = 0; i < length; ++i) text += alphabet[random() % (sizeof alphabet - 1)];
        size_t run = 0, longest = 0;
        for (char c : text) longest = std::max(longest, run = (c >= '0' && c <= '9') ? run + 1 : 0);
        if (longest >= 10) continue;  // sscanf's result is undefined past 32 bits
        int a = 0, b = 0;
        const int expected = std::sscanf(text.c_str(), "%d %d", &a, &b);
        int32_t score = 0, frame = 0;
        const int got = ParseFrameOrderKey(text.c_str(), &score, &frame);
        ASSERT_EQ(got, expected) << "'" << text << "'";
        if (expected >= 1) {
            ASSERT_EQ(score, a) << "'" << text << "'";
        }
        if (expected == 2) {
            ASSERT_EQ(frame, b) << "'" << text << "'";
        }
    }
}

TEST(FrameOrderParse, AnyBytesAreSafe) {
    std::mt19937 random(99);
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const int length = int(random() % 40);
        for (int i = 0; i < length; ++i) text += char(1 + random() % 255);
        int32_t score = 0, frame = 0;
        const int got = ParseFrameOrderKey(text.c_str(), &score, &frame);
        ASSERT_GE(got, -1);
        ASSERT_LE(got, 2);
    }
}

TEST(FrameOrderOriginal, EntriesUpToTheBoundInclusive) {
    std::vector<std::string> order{"left over"};
    ASSERT_TRUE(FillOriginalOrder(order, 3));
    EXPECT_EQ(order, (std::vector<std::string>{"0000000000 0", "0000000001 1", "0000000002 2", "0000000003 3"}));
    ASSERT_TRUE(FillOriginalOrder(order, 0));
    EXPECT_EQ(order, (std::vector<std::string>{"0000000000 0"}));
    // Already sorted: sorting the original order leaves it as it is.
    ASSERT_TRUE(FillOriginalOrder(order, 120));
    EXPECT_EQ(order.size(), 121u);
    EXPECT_EQ(Sorted(order), order);
}

TEST(FrameOrderOriginal, NegativeBoundDoesNotRunOn) {
    std::vector<std::string> order;
    for (int32_t bound : {-1, -2, INT_MIN}) {
        order.assign(2, "left over");
        ASSERT_TRUE(FillOriginalOrder(order, bound));
        EXPECT_TRUE(order.empty()) << bound;
    }
}

}  // namespace
