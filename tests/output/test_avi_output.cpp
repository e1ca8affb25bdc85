// The AVI writer, checked against ffprobe/ffmpeg and by reading the RIFF structure back.
#include "output/AviOutput.h"

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "tests/support/TestProcess.h"
#include "video/AviReader.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

uint64_t Le64(const Bytes& d, uint64_t at) { return Le32(d, at) | uint64_t(Le32(d, at + 4)) << 32; }
std::string Tag(const Bytes& d, uint64_t at) { return std::string(reinterpret_cast<const char*>(&d[at]), 4); }

// One chunk of the file: id, list type for RIFF/LIST, position of its header, data size, nesting.
struct Chunk {
    std::string id;
    std::string type;
    uint64_t offset;
    uint32_t size;
    int depth;
    uint64_t Data() const { return offset + 8; }
};

// Walks the chunk tree; fails the test when a chunk runs past its parent.
void Walk(const Bytes& d, uint64_t begin, uint64_t end, int depth, std::vector<Chunk>& out) {
    uint64_t at = begin;
    while (at + 8 <= end) {
        Chunk c{Tag(d, at), "", at, Le32(d, at + 4), depth};
        ASSERT_LE(c.Data() + c.size, end) << "chunk " << c.id << " at " << at << " runs past its parent";
        const bool isList = c.id == "RIFF" || c.id == "LIST";
        if (isList) c.type = Tag(d, at + 8);
        out.push_back(c);
        if (isList) Walk(d, at + 12, c.Data() + c.size, depth + 1, out);
        at = c.Data() + c.size + (c.size & 1);
    }
    ASSERT_EQ(at, end) << "chunks do not fill their parent exactly";
}

std::vector<Chunk> Chunks(const Bytes& d) {
    std::vector<Chunk> out;
    Walk(d, 0, d.size(), 0, out);
    return out;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& id, const std::string& type = "") {
    for (const Chunk& c : chunks)
        if (c.id == id && (type.empty() || c.type == type)) return &c;
    return nullptr;
}

// Pixel rows of one 24-bit frame, bottom-up with padded rows; padding bytes are random too.
struct Video {
    int32_t width, height, stride;
    std::vector<Bytes> frames;
    Video(int32_t w, int32_t h, int count, uint32_t seed = 1) : width(w), height(h), stride(int32_t(DibStride24(w))) {
        std::mt19937 gen(seed);
        for (int i = 0; i < count; ++i) {
            Bytes f(size_t(stride) * h);
            for (auto& b : f) b = uint8_t(gen());
            frames.push_back(std::move(f));
        }
    }
    BITMAPINFOHEADER Header() const {
        BITMAPINFOHEADER h{};
        h.biSize = 40;
        h.biWidth = width;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biSizeImage = uint32_t(stride * height);
        return h;
    }
    // What ffmpeg gives as bgr24: rows top-down without padding.
    Bytes Expected(int count) const {
        Bytes out;
        for (int i = 0; i < count; ++i)
            for (int y = height - 1; y >= 0; --y) {
                const uint8_t* row = frames[size_t(i)].data() + size_t(y) * stride;
                out.insert(out.end(), row, row + 3 * width);
            }
        return out;
    }
};

int32_t WriteVideo(const std::string& path, const Video& v, int32_t ms, uint64_t riffLimit = 0) {
    AviOutput* out = AviOutputOpen(path.c_str(), ms, nullptr);
    if (!out) return -1;
    if (riffLimit) AviOutputSetRiffLimit(out, riffLimit);
    BITMAPINFOHEADER h = v.Header();
    int32_t written = 0;
    for (const Bytes& f : v.frames)
        if (AviOutputAddFrame(out, f.data(), int32_t(f.size()), &h) == 0) ++written;
    EXPECT_EQ(AviOutputClose(out), 0);
    return written;
}

struct Probe {
    std::multimap<std::string, std::string> fields;
    int packets = 0;
    bool allKey = true;
    std::string Get(const std::string& key) const {
        auto it = fields.find(key);
        return it == fields.end() ? "" : it->second;
    }
};

Probe ProbeFile(const std::string& path) {
    Probe p;
    std::istringstream lines(RunCapture("ffprobe -v error -count_packets -show_entries "
                                        "format=nb_streams:stream=codec_type,codec_name,r_frame_rate,width,height,"
                                        "nb_read_packets -of default=nw=1 '" +
                                        path + "'")
                                 .out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) p.fields.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    std::istringstream packets(
        RunCapture("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + path + "'").out);
    for (std::string line; std::getline(packets, line);) {
        if (line.empty()) continue;
        ++p.packets;
        if (line[0] != 'K') p.allKey = false;
    }
    return p;
}

Bytes DecodeBgr(const std::string& path, const std::string& dir) {
    const std::string raw = dir + "/decoded.raw";
    const CommandRun log = RunCapture("ffmpeg -nostdin -v error -i '" + path +
                                      "' -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -y '" + raw + "' 2>&1");
    EXPECT_EQ(log.status, 0) << log.out;
    Bytes out = ReadFileBytes(raw);
    fs::remove(raw);
    return out;
}

// Checks what a reader sees: one rawvideo stream at the given rate, `frames` key frames, our pixels.
void ExpectReadsBack(const std::string& path, const std::string& dir, const Video& v, int frames,
                     const std::string& rate) {
    Chunks(ReadFileBytes(path));  // the RIFF tree itself is consistent
    const Probe p = ProbeFile(path);
    EXPECT_EQ(p.Get("nb_streams"), "1");
    EXPECT_EQ(p.Get("codec_type"), "video");
    EXPECT_EQ(p.Get("codec_name"), "rawvideo");
    EXPECT_EQ(p.Get("r_frame_rate"), rate);
    EXPECT_EQ(p.Get("width"), std::to_string(v.width));
    EXPECT_EQ(p.Get("height"), std::to_string(v.height));
    EXPECT_EQ(p.Get("nb_read_packets"), std::to_string(frames));
    EXPECT_EQ(p.packets, frames);
    EXPECT_TRUE(p.allKey);
    const Bytes decoded = DecodeBgr(path, dir);
    EXPECT_TRUE(decoded == v.Expected(frames))
        << "decoded " << decoded.size() << " bytes, expected " << v.Expected(frames).size();
}

// ---------------------------------------------------------------------------------------------------

struct RoundTripCase {
    int32_t width, height, frames, ms;
    const char* rate;
};

class AviRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(AviRoundTrip, FfmpegReadsEveryFrameBitExactly) {
    const RoundTripCase c = GetParam();
    TempDir dir;
    const Video v(c.width, c.height, c.frames, uint32_t(c.width * 131 + c.height));
    ASSERT_EQ(WriteVideo(dir / "out.avi", v, c.ms), c.frames);
    ExpectReadsBack(dir / "out.avi", dir.path(), v, c.frames, c.rate);
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"out.avi"});
}

INSTANTIATE_TEST_SUITE_P(Sizes, AviRoundTrip,
                         ::testing::Values(RoundTripCase{33, 7, 5, 40, "25/1"},  // odd width, padded rows
                                           RoundTripCase{16, 9, 3, 33, "1000/33"}, RoundTripCase{1, 1, 2, 1000, "1/1"},
                                           RoundTripCase{101, 3, 4, 40, "25/1"}));

TEST(AviOutput, HeadersComeFromTheFirstFrame) {
    TempDir dir;
    const Video v(10, 6, 3);
    AviOutput* out = AviOutputOpen((dir / "h.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    BITMAPINFOHEADER first = v.Header();
    first.biXPelsPerMeter = 2835;
    ASSERT_EQ(AviOutputAddFrame(out, v.frames[0].data(), int32_t(v.frames[0].size()), &first), 0);
    // Later headers are not read: a different rectangle here must not reach the file.
    BITMAPINFOHEADER other = first;
    other.biWidth = 20;
    other.biHeight = 3;
    other.biXPelsPerMeter = 1;
    ASSERT_EQ(AviOutputAddFrame(out, v.frames[1].data(), int32_t(v.frames[1].size()), &other), 0);
    ASSERT_EQ(AviOutputAddFrame(out, v.frames[2].data(), int32_t(v.frames[2].size()), nullptr), 0);
    EXPECT_EQ(AviOutputFrameCount(out), 3);
    ASSERT_EQ(AviOutputClose(out), 0);

    const Bytes d = ReadFileBytes(dir / "h.avi");
    const auto chunks = Chunks(d);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(chunks[0].id, "RIFF");
    EXPECT_EQ(chunks[0].type, "AVI ");
    EXPECT_EQ(chunks[0].Data() + chunks[0].size, d.size());

    const Chunk* avih = Find(chunks, "avih");
    ASSERT_NE(avih, nullptr);
    const uint64_t a = avih->Data();
    EXPECT_EQ(Le32(d, a + 0), 40000u);         // microseconds per frame
    EXPECT_EQ(Le32(d, a + 12) & 0x10, 0x10u);  // AVIF_HASINDEX
    EXPECT_EQ(Le32(d, a + 16), 3u);            // total frames
    EXPECT_EQ(Le32(d, a + 24), 1u);            // streams
    EXPECT_EQ(Le32(d, a + 28), uint32_t(v.frames[0].size()));
    EXPECT_EQ(Le32(d, a + 32), 10u);
    EXPECT_EQ(Le32(d, a + 36), 6u);

    const Chunk* strh = Find(chunks, "strh");
    ASSERT_NE(strh, nullptr);
    const uint64_t s = strh->Data();
    EXPECT_EQ(Tag(d, s), "vids");
    EXPECT_EQ(Tag(d, s + 4), "DIB ");
    EXPECT_EQ(Le32(d, s + 20), 40u);    // scale, not reduced
    EXPECT_EQ(Le32(d, s + 24), 1000u);  // rate
    EXPECT_EQ(Le32(d, s + 32), 3u);     // length
    EXPECT_EQ(Le32(d, s + 36), uint32_t(v.frames[0].size()));
    EXPECT_EQ(Le16(d, s + 48), 0);
    EXPECT_EQ(Le16(d, s + 50), 0);
    EXPECT_EQ(Le16(d, s + 52), 10);
    EXPECT_EQ(Le16(d, s + 54), 6);

    const Chunk* strf = Find(chunks, "strf");
    ASSERT_NE(strf, nullptr);
    ASSERT_EQ(strf->size, 40u);
    EXPECT_EQ(std::memcmp(&d[strf->Data()], &first, 40), 0);

    // One plain RIFF: the OpenDML places are reserved as JUNK, no AVIX list follows.
    EXPECT_EQ(Find(chunks, "indx"), nullptr);
    EXPECT_EQ(Find(chunks, "LIST", "odml"), nullptr);
    EXPECT_EQ(Find(chunks, "RIFF", "AVIX"), nullptr);

    const Chunk* movi = Find(chunks, "LIST", "movi");
    const Chunk* idx1 = Find(chunks, "idx1");
    ASSERT_NE(movi, nullptr);
    ASSERT_NE(idx1, nullptr);
    ASSERT_EQ(idx1->size, 3 * 16u);
    for (uint32_t i = 0; i < 3; ++i) {
        const uint64_t e = idx1->Data() + 16 * i;
        EXPECT_EQ(Tag(d, e), "00db");
        EXPECT_EQ(Le32(d, e + 4), 0x10u);                      // key frame
        const uint64_t chunk = movi->Data() + Le32(d, e + 8);  // relative to the 'movi' type
        EXPECT_EQ(Tag(d, chunk), "00db");
        EXPECT_EQ(Le32(d, e + 12), uint32_t(v.frames[i].size()));
        EXPECT_EQ(std::memcmp(&d[chunk + 8], v.frames[i].data(), v.frames[i].size()), 0);
    }
    ExpectReadsBack(dir / "h.avi", dir.path(), v, 3, "25/1");
}

TEST(AviOutput, PaletteFramesKeepTheirColourTable) {
    TempDir dir;
    // 8 bits per pixel with a 4-entry colour table that follows the header.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[4];
    } fmt{};
    fmt.h = {40, 7, 5, 1, 8, BI_RGB, 40, 0, 0, 4, 0};
    const RGBQUAD colours[4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 200, 30, 0}, {9, 8, 250, 0}};
    std::memcpy(fmt.colours, colours, sizeof colours);
    std::mt19937 gen(7);
    std::vector<Bytes> frames(3, Bytes(40));
    for (auto& f : frames)
        for (auto& b : f) b = uint8_t(gen() % 4);

    AviOutput* out = AviOutputOpen((dir / "p.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    for (auto& f : frames) ASSERT_EQ(AviOutputAddFrame(out, f.data(), 40, &fmt.h), 0);
    ASSERT_EQ(AviOutputClose(out), 0);

    const Bytes d = ReadFileBytes(dir / "p.avi");
    const auto chunks = Chunks(d);
    ASSERT_FALSE(HasFatalFailure());
    const Chunk* strf = Find(chunks, "strf");
    ASSERT_NE(strf, nullptr);
    ASSERT_EQ(strf->size, 56u);
    EXPECT_EQ(std::memcmp(&d[strf->Data() + 40], colours, 16), 0);

    Bytes expected;
    for (const auto& f : frames)
        for (int y = 4; y >= 0; --y)
            for (int x = 0; x < 7; ++x) {
                const RGBQUAD& c = colours[f[size_t(y) * 8 + x]];
                expected.insert(expected.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
            }
    EXPECT_TRUE(DecodeBgr(dir / "p.avi", dir.path()) == expected);
}

TEST(AviOutput, LongOutputGoesOnInOpenDmlLists) {
    TempDir dir;
    const Video v(64, 48, 40, 3);
    const uint64_t limit = 64 * 1024;
    ASSERT_EQ(WriteVideo(dir / "big.avi", v, 40, limit), 40);

    const Bytes d = ReadFileBytes(dir / "big.avi");
    const auto chunks = Chunks(d);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<const Chunk*> riffs;
    for (const Chunk& c : chunks)
        if (c.depth == 0) riffs.push_back(&c);
    ASSERT_GE(riffs.size(), 4u);
    EXPECT_EQ(riffs[0]->type, "AVI ");
    for (size_t i = 0; i < riffs.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(riffs[i]->type, "AVIX");
        }
        EXPECT_LE(riffs[i]->size + 8u, limit);
    }

    // The super index lists one ix00 per RIFF, and those index every frame in order.
    const Chunk* indx = Find(chunks, "indx");
    ASSERT_NE(indx, nullptr);
    const uint64_t x = indx->Data();
    EXPECT_EQ(Le16(d, x), 4);
    EXPECT_EQ(d[x + 3], 0);  // index of indexes
    ASSERT_EQ(Le32(d, x + 4), riffs.size());
    EXPECT_EQ(Tag(d, x + 8), "00db");
    uint32_t indexed = 0;
    size_t frame = 0;
    for (uint32_t i = 0; i < riffs.size(); ++i) {
        const uint64_t e = x + 24 + 16 * i;
        const uint64_t ix = Le64(d, e);
        ASSERT_LT(ix + 32, d.size());
        EXPECT_EQ(Tag(d, ix), "ix00");
        EXPECT_EQ(Le32(d, ix + 4) + 8, Le32(d, e + 8));
        EXPECT_GE(ix, riffs[i]->offset);
        EXPECT_LT(ix, riffs[i]->Data() + riffs[i]->size);
        const uint32_t n = Le32(d, ix + 12);
        EXPECT_EQ(n, Le32(d, e + 12));
        EXPECT_EQ(d[ix + 11], 1);  // index of chunks
        const uint64_t base = Le64(d, ix + 20);
        for (uint32_t k = 0; k < n; ++k, ++frame) {
            const uint64_t at = base + Le32(d, ix + 32 + 8 * k);
            ASSERT_LT(frame, v.frames.size());
            EXPECT_EQ(Tag(d, at - 8), "00db");
            EXPECT_EQ(Le32(d, ix + 36 + 8 * k), uint32_t(v.frames[frame].size()));  // top bit clear: key
            EXPECT_EQ(std::memcmp(&d[at], v.frames[frame].data(), v.frames[frame].size()), 0);
        }
        indexed += n;
    }
    EXPECT_EQ(indexed, 40u);

    const Chunk* dmlh = Find(chunks, "dmlh");
    ASSERT_NE(dmlh, nullptr);
    EXPECT_EQ(Le32(d, dmlh->Data()), 40u);
    EXPECT_EQ(Le32(d, Find(chunks, "strh")->Data() + 32), 40u);
    // Old readers see the first RIFF alone, with its own idx1.
    const Chunk* idx1 = Find(chunks, "idx1");
    ASSERT_NE(idx1, nullptr);
    EXPECT_LT(idx1->offset, riffs[1]->offset);
    EXPECT_EQ(Le32(d, Find(chunks, "avih")->Data() + 16), idx1->size / 16);
    int idx1Count = 0;
    for (const Chunk& c : chunks) idx1Count += c.id == "idx1";
    EXPECT_EQ(idx1Count, 1);

    ExpectReadsBack(dir / "big.avi", dir.path(), v, 40, "25/1");
}

// Frames put into their places in any order (some twice, some moved down, places past the count given
// up) make the file that appending them in order makes, OpenDML lists included.
TEST(AviOutput, FramesPutIntoTheirPlacesMakeTheAppendedFile) {
    TempDir dir;
    const Video v(64, 48, 40, 3);
    const BITMAPINFOHEADER h = v.Header();
    for (const uint64_t limit : {uint64_t(0), uint64_t(64 * 1024)}) {
        for (const int32_t count : {40, 1, 9, 10, 11, 19}) {
            SCOPED_TRACE(std::to_string(limit) + " " + std::to_string(count));
            const std::string appended = dir / "appended.avi", placed = dir / "placed.avi";
            Video first = v;
            first.frames.resize(size_t(count));
            ASSERT_EQ(WriteVideo(appended, first, 40, limit), count);

            AviOutput* out = AviOutputOpen(placed.c_str(), 40, nullptr);
            ASSERT_NE(out, nullptr);
            if (limit) AviOutputSetRiffLimit(out, limit);
            // Odd frames one place up and moved down; even frames backwards; then every place again.
            for (int32_t i = 1; i < 40; i += 2)
                ASSERT_EQ(AviOutputPutFrame(out, i + 1, v.frames[size_t(i)].data(), int32_t(v.frames[0].size()), &h),
                          0);
            for (int32_t i = 1; i < 40; i += 2) ASSERT_EQ(AviOutputMoveFrame(out, i + 1, i), 0);
            for (int32_t i = 38; i >= 0; i -= 2)
                ASSERT_EQ(AviOutputPutFrame(out, i, v.frames[size_t(i)].data(), int32_t(v.frames[0].size()), &h), 0);
            ASSERT_EQ(AviOutputKeepFrames(out, count), 0);
            EXPECT_EQ(AviOutputFrameCount(out), count);
            ASSERT_EQ(AviOutputClose(out), 0);
            EXPECT_TRUE(ReadFileBytes(placed) == ReadFileBytes(appended));
        }
    }
}

TEST(AviOutput, OpenAndCloseWithoutFrames) {
    TempDir dir;
    AviOutput* out = AviOutputOpen((dir / "empty.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(AviOutputClose(out), 0);
    const Bytes d = ReadFileBytes(dir / "empty.avi");
    const auto chunks = Chunks(d);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(chunks[0].type, "AVI ");
    const Chunk* avih = Find(chunks, "avih");
    ASSERT_NE(avih, nullptr);
    EXPECT_EQ(Le32(d, avih->Data() + 24), 0u);  // no streams
    EXPECT_EQ(Find(chunks, "strl"), nullptr);
    EXPECT_NE(Find(chunks, "LIST", "movi"), nullptr);
    EXPECT_EQ(RunCapture("ffprobe -v error '" + (dir / "empty.avi") + "' 2>/dev/null").status, 0);
    EXPECT_EQ(ProbeFile(dir / "empty.avi").Get("nb_streams"), "0");
}

TEST(AviOutput, RefusesWhatWouldMakeABrokenFile) {
    TempDir dir;
    EXPECT_EQ(AviOutputAddFrame(nullptr, "x", 1, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AviOutputClose(nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AviOutputAddFrame(nullptr, "x", 1, nullptr), int32_t(0x8004406C));
    EXPECT_EQ(AVIERR_ERROR, int32_t(0x800440C7));
    EXPECT_STREQ(AviOutputLastError(nullptr), "");
    EXPECT_EQ(AviOutputFrameCount(nullptr), 0);

    std::string error;
    EXPECT_EQ(AviOutputOpen((dir / "zero.avi").c_str(), 0, nullptr, &error), nullptr);
    EXPECT_NE(error.find("frame period"), std::string::npos) << error;
    EXPECT_EQ(AviOutputOpen((dir / "missing/x.avi").c_str(), 40, nullptr, &error), nullptr);
    EXPECT_EQ(error, std::strerror(ENOENT));
    EXPECT_EQ(AviOutputOpen(dir.path().c_str(), 40, nullptr, &error), nullptr);
    EXPECT_EQ(error, std::strerror(EISDIR));
    EXPECT_TRUE(FilesIn(dir.path()).empty());

    const Video v(8, 4, 2);
    const BITMAPINFOHEADER good = v.Header();
    const int32_t size = int32_t(v.frames[0].size());
    struct Case {
        const char* what;
        BITMAPINFOHEADER h;
        bool withHeader;
        int32_t size;
        int32_t code;
    };
    BITMAPINFOHEADER manyColours = good;
    manyColours.biClrUsed = 100000;
    const Case cases[] = {{"no header", good, false, size, AVIERR_BADPARAM},
                          {"huge colour table", manyColours, true, size, AVIERR_BADFORMAT},
                          {"short pixels", good, true, size - 4, AVIERR_BADSIZE}};
    for (const Case& c : cases) {
        const std::string path = dir / "bad.avi";
        AviOutput* out = AviOutputOpen(path.c_str(), 40, nullptr);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(AviOutputAddFrame(out, v.frames[0].data(), c.size, c.withHeader ? &c.h : nullptr), c.code) << c.what;
        EXPECT_NE(std::string(AviOutputLastError(out)), "") << c.what;
        EXPECT_EQ(AviOutputAddFrame(out, v.frames[0].data(), size, &good), AVIERR_ERROR) << c.what;
        EXPECT_EQ(AviOutputClose(out), 0) << c.what;
        EXPECT_EQ(ProbeFile(path).Get("nb_streams"), "0") << c.what;
    }

    // A later frame of another size would be misread by every reader: refused, earlier frames kept.
    AviOutput* out = AviOutputOpen((dir / "sizes.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(AviOutputAddFrame(out, v.frames[0].data(), size, &good), 0);
    EXPECT_EQ(AviOutputAddFrame(out, v.frames[1].data(), size - 4, &good), AVIERR_BADSIZE);
    EXPECT_EQ(AviOutputAddFrame(out, v.frames[1].data(), size, &good), AVIERR_ERROR);
    EXPECT_EQ(AviOutputFrameCount(out), 1);
    EXPECT_EQ(AviOutputClose(out), 0);
    ExpectReadsBack(dir / "sizes.avi", dir.path(), v, 1, "25/1");
}

// Results of a writer run in a child process under a file-size limit.
struct LimitedRun {
    int32_t okFrames;
    int32_t failCode;
    int32_t nextCode;
    int32_t countAfter;
    int32_t closeCode;
    char reason[160];
    char closeReason[160];
};

LimitedRun RunWithFileLimit(const std::string& path, const Video& v, uint64_t fileLimit, uint64_t riffLimit,
                            uint32_t indexCapacity = 0) {
    LimitedRun result{};
    result.okFrames = -1;
    const int status = RunInChild(result, long(fileLimit), [&](LimitedRun& shared) {
        AviOutput* out = AviOutputOpen(path.c_str(), 40, nullptr);
        if (!out) _exit(2);
        if (riffLimit) AviOutputSetRiffLimit(out, riffLimit);
        if (indexCapacity) AviOutputSetIndexCapacity(out, indexCapacity);
        const BITMAPINFOHEADER h = v.Header();
        int32_t ok = 0, code = 0;
        for (const Bytes& f : v.frames) {
            code = AviOutputAddFrame(out, f.data(), int32_t(f.size()), &h);
            if (code != 0) break;
            ++ok;
        }
        shared.okFrames = ok;
        shared.failCode = code;
        shared.nextCode = AviOutputAddFrame(out, v.frames[0].data(), int32_t(v.frames[0].size()), &h);
        shared.countAfter = AviOutputFrameCount(out);
        std::snprintf(shared.reason, sizeof shared.reason, "%s", AviOutputLastError(out));
        std::string closeReason;
        shared.closeCode = AviOutputClose(out, &closeReason);
        std::snprintf(shared.closeReason, sizeof shared.closeReason, "%s", closeReason.c_str());
    });
    EXPECT_EQ(status, 0);
    return result;
}

class AviWriteFailure : public ::testing::TestWithParam<uint64_t> {};

TEST_P(AviWriteFailure, FramesBeforeTheFailureStayReadable) {
    const uint64_t riffLimit = GetParam();
    TempDir dir;
    const Video v(64, 48, 30, 11);
    const uint64_t fileLimit = riffLimit ? 150 * 1024 : 17 * 1024 + 5 * 9224 + 4000;
    const LimitedRun r = RunWithFileLimit(dir / "cut.avi", v, fileLimit, riffLimit);
    ASSERT_GT(r.okFrames, 2);
    ASSERT_LT(r.okFrames, 30);
    EXPECT_EQ(r.failCode, AVIERR_FILEWRITE);
    EXPECT_STREQ(r.reason, std::strerror(EFBIG));
    EXPECT_EQ(r.nextCode, AVIERR_ERROR);
    EXPECT_EQ(r.countAfter, r.okFrames);  // the failed frame left no gap and no count
    EXPECT_EQ(r.closeCode, 0) << r.closeReason;
    EXPECT_LE(fs::file_size(dir / "cut.avi"), fileLimit);
    ExpectReadsBack(dir / "cut.avi", dir.path(), v, r.okFrames, "25/1");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"cut.avi"});
}

INSTANTIATE_TEST_SUITE_P(RiffSizes, AviWriteFailure, ::testing::Values(uint64_t(0), uint64_t(64 * 1024)));

TEST(AviOutput, FullDiskAtCloseGivesUpFramesForTheIndex) {
    TempDir dir;
    const Video v(64, 48, 12, 5);
    // Where the first frame's chunk starts, from a file of the same format.
    ASSERT_EQ(WriteVideo(dir / "ref.avi", Video(64, 48, 1), 40), 1);
    const auto refChunks = Chunks(ReadFileBytes(dir / "ref.avi"));
    const Chunk* first = Find(refChunks, "00db");
    ASSERT_NE(first, nullptr);
    fs::remove(dir / "ref.avi");
    const uint64_t chunk = 8 + v.frames[0].size();
    // Room for 8 frames and 4 bytes: the 9th frame fails and idx1 no longer fits.
    const LimitedRun r = RunWithFileLimit(dir / "full.avi", v, first->offset + 8 * chunk + 4, 0);
    EXPECT_EQ(r.okFrames, 8);
    EXPECT_EQ(r.failCode, AVIERR_FILEWRITE);
    EXPECT_EQ(r.closeCode, AVIERR_FILEWRITE);
    EXPECT_NE(std::string(r.closeReason).find("given up"), std::string::npos) << r.closeReason;
    ExpectReadsBack(dir / "full.avi", dir.path(), v, 7, "25/1");
}

TEST(AviOutput, FullSuperIndexStopsCleanly) {
    TempDir dir;
    const Video v(64, 48, 30, 13);
    AviOutput* out = AviOutputOpen((dir / "cap.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    AviOutputSetRiffLimit(out, 64 * 1024);
    AviOutputSetIndexCapacity(out, 2);
    const BITMAPINFOHEADER h = v.Header();
    int32_t code = 0;
    for (const Bytes& f : v.frames)
        if ((code = AviOutputAddFrame(out, f.data(), int32_t(f.size()), &h)) != 0) break;
    EXPECT_EQ(code, AVIERR_FILEWRITE);
    EXPECT_NE(std::string(AviOutputLastError(out)), "");
    const int32_t written = AviOutputFrameCount(out);
    EXPECT_GT(written, 5);
    EXPECT_LT(written, 30);
    EXPECT_EQ(AviOutputClose(out), 0);
    ExpectReadsBack(dir / "cap.avi", dir.path(), v, written, "25/1");
}

TEST(AviOutput, TargetIsReplacedOnlyAtClose) {
    TempDir dir;
    const std::string target = dir / "source.avi";
    const std::string old = "the video being read";
    std::ofstream(target) << old;
    fs::create_symlink(target, dir / "link.avi");
    std::ifstream reader(target, std::ios::binary);

    const Video v(8, 8, 2);
    AviOutput* out = AviOutputOpen((dir / "link.avi").c_str(), 40, nullptr);
    ASSERT_NE(out, nullptr);
    const BITMAPINFOHEADER h = v.Header();
    for (const Bytes& f : v.frames) ASSERT_EQ(AviOutputAddFrame(out, f.data(), int32_t(f.size()), &h), 0);
    // While writing, the file at the target is still whole.
    const Bytes during = ReadFileBytes(target);
    EXPECT_EQ(std::string(during.begin(), during.end()), old);
    ASSERT_EQ(AviOutputClose(out), 0);

    EXPECT_TRUE(fs::is_symlink(dir / "link.avi"));
    ExpectReadsBack(target, dir.path(), v, 2, "25/1");
    std::string stillOpen((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stillOpen, old);
    auto names = FilesIn(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.avi", "source.avi"}));
}

TEST(AviOutput, OurReaderReadsOurFiles) {
    TempDir dir;
    // One plain RIFF with padded rows, and OpenDML lists whose ix00 indices the reader follows first.
    const struct {
        const char* name;
        Video video;
        uint64_t riffLimit;
    } cases[] = {{"plain.avi", Video(33, 7, 5, 21), 0}, {"odml.avi", Video(64, 48, 24, 22), 64 * 1024}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Video& v = c.video;
        ASSERT_EQ(WriteVideo(dir / c.name, v, 40, c.riffLimit), int32_t(v.frames.size()));
        std::string error;
        auto reader = AviReader::OpenFile((dir / c.name).c_str(), &error);
        ASSERT_NE(reader, nullptr) << error;
        EXPECT_EQ(reader->Length(), v.frames.size());
        EXPECT_EQ(reader->Scale(), 40u);
        EXPECT_EQ(reader->Rate(), 1000u);
        EXPECT_EQ(reader->Width(), v.width);
        EXPECT_EQ(reader->Height(), v.height);
        ASSERT_TRUE(reader->CanDecode());
        for (size_t i = 0; i < v.frames.size(); ++i) {
            int32_t size = 0;
            std::unique_ptr<uint8_t, FreeDeleter> block(reader->DecodeFrame(int32_t(i), &size));
            ASSERT_NE(block, nullptr) << "frame " << i;
            ASSERT_EQ(size, FrameBlockSize(v.width, v.height));
            for (int32_t y = 0; y < v.height; ++y)
                ASSERT_EQ(std::memcmp(block.get() + 40 + size_t(y) * v.stride,
                                      v.frames[i].data() + size_t(y) * v.stride, size_t(3 * v.width)),
                          0)
                    << "frame " << i << " row " << y;
        }
    }
    // A file without frames is refused with a reason, not misread.
    AviOutputClose(AviOutputOpen((dir / "empty.avi").c_str(), 40, nullptr));
    std::string error;
    EXPECT_EQ(AviReader::OpenFile((dir / "empty.avi").c_str(), &error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
