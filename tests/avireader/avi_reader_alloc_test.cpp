// Indices and headers that claim far more than the file holds must not make the reader allocate
// more than the file can justify. operator new is replaced here to watch every allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "TestTools.h"
#include "video/AviReader.h"

namespace {

std::atomic<size_t> gLive{0};
std::atomic<size_t> gPeak{0};
std::atomic<bool> gWatching{false};

constexpr size_t kHeader = 16;  // keeps the caller's block 16-byte aligned

void RaisePeak(size_t now) {
    size_t peak = gPeak;
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}

void* Allocate(size_t n) {
    if (gWatching) RaisePeak(gLive + n);  // counted even when the request fails
    void* p = n > SIZE_MAX - kHeader ? nullptr : std::malloc(n + kHeader);
    if (!p) return nullptr;
    std::memcpy(p, &n, sizeof n);
    if (gWatching) gLive += n;
    return static_cast<char*>(p) + kHeader;
}

void Release(void* q) {
    if (!q) return;
    void* p = static_cast<char*>(q) - kHeader;
    size_t n;
    std::memcpy(&n, p, sizeof n);
    if (gWatching) {
        // Blocks allocated before watching began may be freed during it; never go below zero.
        size_t live = gLive;
        while (!gLive.compare_exchange_weak(live, live >= n ? live - n : 0)) {
        }
    }
    std::free(p);
}

}  // namespace

void* operator new(size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

TestAvi OpenDmlFile(int frames, int indxRoom) {
    TestAvi s;
    s.width = 3;
    s.height = 2;
    s.index = TestIndex::OpenDml;
    s.indxRoom = indxRoom;
    for (int i = 0; i < frames; ++i) s.frames.push_back(PatternFrame(s, i));
    return s;
}

// Opens the bytes from memory and from a file, reads a few frames, and returns the most memory that
// was held at once meanwhile (frame blocks come from malloc and are not counted).
size_t PeakWhileReading(const Bytes& file, uint32_t* length) {
    const std::string path = Scratch("alloc.avi");
    EXPECT_TRUE(WriteFileBytes(path, file));
    gPeak = 0;
    gLive = 0;
    gWatching = true;
    *length = 0;
    for (int pass = 0; pass < 2; ++pass) {
        auto reader = pass == 0 ? AviReader::OpenMemory(file.data(), file.size()) : AviReader::OpenFile(path.c_str());
        if (!reader) continue;
        *length = reader->Length();
        for (uint32_t i = 0; i < std::min<uint32_t>(reader->Length(), 8); ++i)
            std::free(reader->DecodeFrame(int32_t(i), nullptr));
    }
    gWatching = false;
    return gPeak;
}

// What a small file may cost: a few index blocks of 64 KiB plus a small multiple of its size.
size_t Allowance(const Bytes& file) { return 512 * 1024 + 32 * file.size(); }

TEST(AviAllocation, SuperIndexClaimingABillionEntries) {
    const TestAvi s = OpenDmlFile(4, 2);
    Bytes file = BuildAvi(s);
    const size_t indx = FindTag(file, "indx");
    Put32(file, indx + 8 + 4, 1000000000u);
    uint32_t length = 0;
    EXPECT_LE(PeakWhileReading(file, &length), Allowance(file));
    EXPECT_EQ(length, 4u);
    Put32(file, indx + 4, 0xFFFFFFF0u);  // and a chunk size to match
    EXPECT_LE(PeakWhileReading(file, &length), Allowance(file));
}

TEST(AviAllocation, StandardIndexClaimingTwoBillionEntries) {
    const TestAvi s = OpenDmlFile(4, 2);
    Bytes file = BuildAvi(s);
    const size_t ix = FindTag(file, "ix00");
    Put32(file, ix + 8 + 4, 0x7FFFFFFFu);
    Put32(file, ix + 4, 0xFFFFFFFFu);
    uint32_t length = 0;
    EXPECT_LE(PeakWhileReading(file, &length), Allowance(file));
    EXPECT_LE(length, file.size() / 8 + 1);
}

// Two thousand super index entries naming the same standard index: it is read once.
TEST(AviAllocation, SuperIndexRepeatingOneStandardIndex) {
    const TestAvi s = OpenDmlFile(200, 2000);
    Bytes file = BuildAvi(s);
    const size_t indx = FindTag(file, "indx");
    const size_t ix = FindTag(file, "ix00");
    Put32(file, indx + 8 + 4, 2000);
    for (size_t i = 0; i < 2000; ++i) Put64(file, indx + 8 + 24 + i * 16, ix);
    uint32_t length = 0;
    EXPECT_LE(PeakWhileReading(file, &length), Allowance(file));
    EXPECT_EQ(length, 200u);
}

TEST(AviAllocation, HugeFrameFormatInASmallFile) {
    TestAvi s = OpenDmlFile(4, 2);
    s.index = TestIndex::Idx1Relative;
    s.bitCount = 32;
    Bytes file = BuildAvi(s);
    const size_t strf = FindTag(file, "strf");
    Put32(file, strf + 8 + 4, 16384);
    Put32(file, strf + 8 + 8, 16384);
    Put32(file, FindTag(file, "idx1") + 8 + 12, 0xFFFFFFFFu);  // first frame claims 4 GiB of data
    uint32_t length = 0;
    EXPECT_LE(PeakWhileReading(file, &length), Allowance(file));
    EXPECT_EQ(length, 4u);
}

}  // namespace
