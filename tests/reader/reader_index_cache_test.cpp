// The picture index between runs and inside one: the cache folder (reused, refused when damaged or
// foreign, rebuilt for a changed file, bounded, switched off), an open cancelled while it indexes,
// the pictures kept for stepping back, and a damaged stream read in any order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"
#include "video/MediaDetector.h"
#include "video/MediaIndexCache.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A cache folder of the test's own; the process's memory of indexes forgotten before and after.
class IndexCacheTest : public testing::Test {
protected:
    void SetUp() override {
        UseMediaDetector(true);
        setenv("XDG_CACHE_HOME", home.path().c_str(), 1);
        unsetenv("TESSARON_INDEX_CACHE");
        ForgetIndexesInMemory();
    }
    void TearDown() override {
        ForgetIndexesInMemory();
        unsetenv("XDG_CACHE_HOME");
    }
    std::vector<fs::path> Entries() const {
        std::vector<fs::path> entries;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(home.path() + "/tessaron", ec)) entries.push_back(e.path());
        return entries;
    }
    // Opens path afresh (nothing in memory): whether the index came from the folder, and the count.
    std::pair<bool, int32_t> Open(const std::string& path) {
        ForgetIndexesInMemory();
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        EXPECT_TRUE(info.succeeded) << reader.LastError();
        const bool cached = reader.Detector() && reader.Detector()->IndexFromCache();
        const int32_t count = info.frameCount;
        reader.Close(info);
        return {cached, count};
    }
    TempDir home;
};

TEST_F(IndexCacheTest, ReusedRefusedWhenDamagedRebuiltWhenChangedBoundedAndOff) {
    TempDir videos;
    const std::string path = videos / "clip.mp4";
    fs::copy_file(TestVideoPath(TestVideo::H264Mp4), path);
    const int32_t frames = Info(TestVideo::H264Mp4).frames;

    EXPECT_EQ(Open(path), std::make_pair(false, frames));
    ASSERT_EQ(Entries().size(), 1u) << "one entry, in the cache folder and not beside the video";
    EXPECT_EQ(FilesIn(videos.path()), std::vector<std::string>{"clip.mp4"});
    EXPECT_EQ(Open(path), std::make_pair(true, frames));

    // Damaged entries of every kind are ignored and written anew.
    const fs::path entry = Entries().front();
    const Bytes good = ReadFileBytes(entry);
    for (const auto& damage : std::vector<std::function<void(Bytes&)>>{
             [](Bytes& b) { b[b.size() / 2] ^= 0x40; },  // a flipped bit
             [](Bytes& b) { b.resize(b.size() - 9); },   // cut short
             [](Bytes& b) { b.assign(100, 'x'); },       // foreign
             [](Bytes& b) { b.clear(); },                // empty
             [](Bytes& b) { b[6] ^= 1; },                // a key for another file
         }) {
        Bytes bytes = good;
        damage(bytes);
        ASSERT_TRUE(WriteFileBytes(entry.string(), bytes));
        EXPECT_EQ(Open(path), std::make_pair(false, frames));
        EXPECT_EQ(ReadFileBytes(entry), good) << "rebuilt as it was";
    }

    // A changed file (another modification time) is indexed again.
    const timespec later[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    EXPECT_EQ(Open(path), std::make_pair(false, frames));
    EXPECT_EQ(Entries().size(), 2u);

    // Beyond the limit the oldest entries go: two old ones of 200 MB (sparse) make room for a new one.
    const std::string oldest = home.path() + "/tessaron/index-0000000000000001.tsx";
    const std::string older = home.path() + "/tessaron/index-0000000000000002.tsx";
    for (const auto& [big, seconds] : {std::pair{oldest, 100}, std::pair{older, 200}}) {
        ASSERT_TRUE(WriteFileText(big, ""));
        fs::resize_file(big, 200ll * 1024 * 1024);
        const timespec old[2] = {{0, UTIME_OMIT}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, big.c_str(), old, 0), 0);
    }
    const timespec again[2] = {{0, UTIME_OMIT}, {1100000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), again, 0), 0);
    EXPECT_EQ(Open(path), std::make_pair(false, frames));
    int64_t total = 0;
    for (const fs::path& p : Entries()) total += int64_t(fs::file_size(p));
    EXPECT_LE(total, kIndexCacheLimit);
    EXPECT_FALSE(fs::exists(oldest)) << "the oldest went first";
    EXPECT_TRUE(fs::exists(older));

    // Off: nothing read or written.
    setenv("TESSARON_INDEX_CACHE", "0", 1);
    fs::remove_all(home.path() + "/tessaron");
    EXPECT_EQ(Open(path), std::make_pair(false, frames));
    EXPECT_TRUE(Entries().empty());
    unsetenv("TESSARON_INDEX_CACHE");
}

TEST_F(IndexCacheTest, AnOpenCancelledWhileIndexingFailsAndKeepsNothing) {
    TestVideoRecipe recipe;
    recipe.name = "index-cancel";
    recipe.frames = 400;
    recipe.outputArgs = "-c:v libx264 -preset ultrafast -g 50";
    recipe.extension = "ts";
    const std::string path = MakeTestVideo(recipe);
    ASSERT_FALSE(path.empty());
    std::vector<double> told;
    VideoFrameReader reader;
    reader.SetOpenProgress([&told](double fraction) {
        told.push_back(fraction);
        return told.size() < 2;
    });
    FrameInfo& info = reader.Open(path.c_str());
    EXPECT_FALSE(info.succeeded);
    EXPECT_EQ(reader.LastError(), "cancelled");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_GT(told[0], 0.0);
    EXPECT_LE(told[0], told[1]);
    EXPECT_TRUE(Entries().empty());

    reader.SetOpenProgress({});
    EXPECT_TRUE(reader.Open(path.c_str()).succeeded) << "the next open indexes it whole";
    EXPECT_EQ(reader.Open(path.c_str()).frameCount, 400);
}

// Pictures kept for stepping back are the pictures decoded directly, the memory stays within its bound,
// and stepping back through them decodes nothing.
TEST_F(IndexCacheTest, PicturesKeptForSteppingBackAreExactAndBounded) {
    const std::string path = TestVideoPath(TestVideo::H264Mp4);  // one group of 50 pictures
    ASSERT_FALSE(path.empty());
    VideoFrameReader plain;
    FrameInfo& plainInfo = plain.Open(path.c_str());
    ASSERT_TRUE(plainInfo.succeeded);
    plain.Detector()->SetReadAhead(false);

    // What one decoded picture holds, as the cache counts it.
    int64_t perPicture = 0;
    {
        VideoFrameReader probe;
        probe.SetStepBackMemory(int64_t(1) << 30);
        FrameInfo& info = probe.Open(path.c_str());
        ASSERT_TRUE(ReadBlock(probe, info, info.frameCount - 1).size() > 0);
        const MediaDetector::Counters c = probe.Detector()->GetCounters();
        ASSERT_GE(c.kept, info.frameCount - 1);
        perPicture = c.keptBytes / c.kept;
    }
    for (int64_t pictures : {int64_t(8), int64_t(60)}) {
        SCOPED_TRACE(pictures);
        const int64_t bound = pictures * perPicture;
        VideoFrameReader stepping;
        stepping.SetStepBackMemory(bound);
        FrameInfo& info = stepping.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        MediaDetector& d = *stepping.Detector();
        for (int32_t n = info.frameCount - 1; n >= 0; --n) {
            ASSERT_EQ(ReadBlock(stepping, info, n), ReadBlock(plain, plainInfo, n)) << "frame " << n;
            const MediaDetector::Counters c = d.GetCounters();
            EXPECT_LE(c.keptBytes, bound);
        }
        const MediaDetector::Counters c = d.GetCounters();
        EXPECT_GT(c.keptHits, info.frameCount / 2);
        // Held whole, the group decodes once; held in part, once a bound's worth of steps.
        if (pictures >= info.frameCount) {
            EXPECT_LE(c.decoded, 2 * info.frameCount + 8);
        }
    }
}

// A file held in memory (as the fuzzer gives it) reads as the same file on disk, and no index of it is kept.
TEST_F(IndexCacheTest, AFileInMemoryReadsAsOnDisk) {
    for (TestVideo kind : {TestVideo::H264Mp4, TestVideo::Interlaced, TestVideo::MjpegAvi}) {
        SCOPED_TRACE(Info(kind).name);
        const Bytes bytes = ReadFileBytes(TestVideoPath(kind));
        ASSERT_FALSE(bytes.empty());
        VideoFrameReader disk, memory;
        FrameInfo& a = disk.Open(TestVideoPath(kind).c_str());
        FrameInfo& b = memory.OpenMemory(bytes.data(), bytes.size());
        ASSERT_TRUE(a.succeeded && b.succeeded) << memory.LastError();
        ASSERT_EQ(a.frameCount, b.frameCount);
        for (int32_t n = b.frameCount - 1; n >= 0; n -= 3) EXPECT_EQ(ReadBlock(memory, b, n), ReadBlock(disk, a, n));
    }
    const Bytes junk(5000, 'x');
    VideoFrameReader reader;
    EXPECT_FALSE(reader.OpenMemory(junk.data(), junk.size()).succeeded);
    EXPECT_FALSE(reader.LastError().empty());
    EXPECT_EQ(Entries().size(), 3u) << "the three files on disk only";
}

// A picture the decoder reports damaged is decoded again on one thread: its pixels are the same
// whatever order the frames are read in.
TEST_F(IndexCacheTest, DamagedStreamGivesTheSamePixelsInEveryOrder) {
    const std::string path = DamagedPacketMp4(96, 64, 60, 31);
    ASSERT_FALSE(path.empty());
    std::vector<int32_t> ascending(60);
    std::iota(ascending.begin(), ascending.end(), 0);
    std::vector<int32_t> descending(ascending.rbegin(), ascending.rend()), shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(3));
    std::vector<Bytes> first;
    for (const auto* order : {&ascending, &descending, &shuffled}) {
        VideoFrameReader reader;
        FrameInfo& info = reader.Open(path.c_str());
        ASSERT_TRUE(info.succeeded);
        std::vector<Bytes> got(size_t(info.frameCount));
        for (int32_t n : *order)
            if (n < info.frameCount) got[size_t(n)] = ReadBlock(reader, info, n);
        if (first.empty()) {
            first = got;
            continue;
        }
        ASSERT_EQ(got.size(), first.size());
        for (size_t n = 0; n < got.size(); ++n) EXPECT_TRUE(got[n] == first[n]) << "frame " << n;
    }
}

}  // namespace
