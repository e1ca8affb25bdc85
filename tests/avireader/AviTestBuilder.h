// A small AVI writer for tests: builds RIFF byte streams with chosen index kinds, list layouts and
// faults, so the reader can be checked on files no encoder would produce.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestFiles.h"

using testsupport::Bytes;

class RiffWriter {
public:
    Bytes bytes;

    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void Tag(const char* fourcc);  // exactly 4 characters
    void Append(const Bytes& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }

    // Starts a chunk (or a LIST/RIFF with its type); returns the handle End() takes.
    size_t Begin(const char* id);
    size_t BeginList(const char* id, const char* type);
    // Sets the size of the chunk begun at handle and pads it to an even length.
    void End(size_t handle, bool pad = true);
    void Chunk(const char* id, const Bytes& data, bool pad = true);

    void PatchU32(size_t at, uint32_t v);
    void PatchU64(size_t at, uint64_t v);
    size_t Pos() const { return bytes.size(); }
};

enum class TestIndex { None, Idx1Relative, Idx1Absolute, OpenDml, OpenDmlAndIdx1 };

struct TestAvi {
    int32_t width = 8;
    int32_t height = 4;  // positive; topDown stores it negated
    bool topDown = false;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    char handler[5] = "DIB ";
    Bytes palette;  // RGBQUAD entries as stored in strf
    uint32_t clrUsed = 0;
    std::vector<Bytes> frames;  // data of each frame chunk
    TestIndex index = TestIndex::Idx1Relative;
    bool recLists = false;       // each frame inside its own LIST rec
    bool junk = false;           // JUNK chunks in hdrl, before movi and inside movi
    bool audioFirst = false;     // an audio stream 0 (with chunks) before the video stream
    bool dbChunks = true;        // ##db rather than ##dc
    int framesInFirstRiff = -1;  // OpenDML: frames in RIFF AVI, the rest go to one AVIX RIFF
    int indxRoom = 2;            // OpenDML: super index entries reserved (the first one or two are filled)
    int64_t strhLength = -1;     // dwLength; -1 = number of frames
    // Palette change chunks written after the given frame.
    std::vector<std::pair<int, Bytes>> paletteChanges;
    bool padOddChunks = true;
};

// Bytes of one frame with a pattern that differs from frame to frame and row to row.
Bytes PatternFrame(const TestAvi& recipe, int frame);
// Stride of a source row in the format's depth, rounded up to 4.
size_t SourceStride(int32_t width, uint16_t bitCount);

Bytes BuildAvi(const TestAvi& recipe);

// Offset of the first occurrence of a FOURCC in b (the test fails when there is none).
size_t FindTag(const Bytes& b, const char* tag);
void Put32(Bytes& b, size_t at, uint32_t v);
void Put64(Bytes& b, size_t at, uint64_t v);
