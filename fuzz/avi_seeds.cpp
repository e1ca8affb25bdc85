// Writes small AVI files of every layout the reader knows into the folder given, as fuzzing seeds:
// OpenDML indices with a continuation RIFF, idx1 counted from movi or from the file start, no index,
// rec lists, filler, an audio stream first, palette changes, every depth, top-down rows.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "AviTestBuilder.h"

namespace {

TestAvi Small(int32_t width, int32_t height, uint16_t bitCount, TestIndex index, int frames) {
    TestAvi s;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    s.index = index;
    if (bitCount == 8) {
        for (int i = 0; i < 256; ++i)
            s.palette.insert(s.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0});
    }
    for (int i = 0; i < frames; ++i) s.frames.push_back(PatternFrame(s, i));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::pair<std::string, TestAvi>> seeds;

    TestAvi odml = Small(5, 3, 24, TestIndex::OpenDml, 4);
    odml.framesInFirstRiff = 2;
    seeds.emplace_back("opendml", odml);
    TestAvi both = Small(4, 2, 32, TestIndex::OpenDmlAndIdx1, 3);
    both.framesInFirstRiff = 1;
    both.indxRoom = 3;
    seeds.emplace_back("opendml-idx1", both);
    seeds.emplace_back("idx1-absolute", Small(3, 2, 16, TestIndex::Idx1Absolute, 3));
    TestAvi none = Small(6, 2, 24, TestIndex::None, 3);
    none.recLists = true;
    none.junk = true;
    seeds.emplace_back("scan-rec-junk", none);
    TestAvi audio = Small(2, 2, 24, TestIndex::Idx1Relative, 2);
    audio.audioFirst = true;
    audio.dbChunks = false;
    seeds.emplace_back("audio-first", audio);
    TestAvi pal = Small(3, 3, 8, TestIndex::Idx1Relative, 4);
    pal.paletteChanges.push_back({0, Bytes{0, 2, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0}});
    pal.paletteChanges.push_back({2, Bytes{5, 1, 0, 0, 1, 2, 3, 0}});
    seeds.emplace_back("palette-changes", pal);
    TestAvi top = Small(5, 2, 24, TestIndex::Idx1Relative, 2);
    top.topDown = true;
    seeds.emplace_back("top-down", top);
    TestAvi unpadded = Small(3, 1, 8, TestIndex::None, 3);
    unpadded.padOddChunks = false;
    seeds.emplace_back("unpadded", unpadded);

    int failed = 0;
    for (const auto& [name, recipe] : seeds) {
        if (!testsupport::WriteFileBytes(dir + "/" + name + ".avi", BuildAvi(recipe))) ++failed;
    }
    return failed == 0 ? 0 : 1;
}
