#include "AviTestBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

void RiffWriter::U16(uint16_t v) {
    U8(uint8_t(v));
    U8(uint8_t(v >> 8));
}

void RiffWriter::U32(uint32_t v) {
    U16(uint16_t(v));
    U16(uint16_t(v >> 16));
}

void RiffWriter::U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
}

void RiffWriter::Tag(const char* fourcc) {
    for (int i = 0; i < 4; ++i) U8(uint8_t(fourcc[i]));
}

size_t RiffWriter::Begin(const char* id) {
    Tag(id);
    const size_t handle = Pos();
    U32(0);
    return handle;
}

size_t RiffWriter::BeginList(const char* id, const char* type) {
    const size_t handle = Begin(id);
    Tag(type);
    return handle;
}

void RiffWriter::End(size_t handle, bool pad) {
    PatchU32(handle, uint32_t(Pos() - handle - 4));
    if (pad && (Pos() & 1)) U8(0);
}

void RiffWriter::Chunk(const char* id, const Bytes& data, bool pad) {
    const size_t h = Begin(id);
    Append(data);
    End(h, pad);
}

void RiffWriter::PatchU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
}

void RiffWriter::PatchU64(size_t at, uint64_t v) {
    PatchU32(at, uint32_t(v));
    PatchU32(at + 4, uint32_t(v >> 32));
}

size_t SourceStride(int32_t width, uint16_t bitCount) { return ((size_t(width) * bitCount + 31) / 32) * 4; }

Bytes PatternFrame(const TestAvi& recipe, int frame) {
    const size_t stride = SourceStride(recipe.width, recipe.bitCount);
    Bytes b(stride * size_t(recipe.height));
    uint32_t x = 0x9e3779b9u * uint32_t(frame + 1);
    for (size_t i = 0; i < b.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = uint8_t(x >> 8);
    }
    // The first bytes name the frame, so a wrong frame can't pass for the right one.
    if (b.size() >= 2) {
        b[0] = uint8_t(frame);
        b[1] = uint8_t(frame >> 8);
    }
    return b;
}

namespace {

std::string StreamTag(int stream, const char* suffix) {
    char t[5];
    std::snprintf(t, sizeof t, "%02d%s", stream, suffix);
    return t;
}

struct Written {
    size_t chunkOffset;  // file offset of the chunk header
    uint32_t size;
    std::string id;
    uint32_t flags;
};

void WriteStrl(RiffWriter& w, const TestAvi& s, size_t* indxHandleOut, uint32_t length) {
    const size_t strl = w.BeginList("LIST", "strl");
    const size_t strh = w.Begin("strh");
    w.Tag("vids");
    w.Tag(s.handler);
    w.U32(0);   // flags
    w.U16(0);   // priority
    w.U16(0);   // language
    w.U32(0);   // initial frames
    w.U32(1);   // scale
    w.U32(25);  // rate
    w.U32(0);   // start
    w.U32(length);
    w.U32(0);            // suggested buffer
    w.U32(0xffffffffu);  // quality
    w.U32(0);            // sample size
    w.U16(0);
    w.U16(0);
    w.U16(uint16_t(s.width));
    w.U16(uint16_t(s.height));
    w.End(strh);

    const size_t strf = w.Begin("strf");
    w.U32(40);
    w.U32(uint32_t(s.width));
    w.U32(uint32_t(s.topDown ? -s.height : s.height));
    w.U16(1);
    w.U16(s.bitCount);
    w.U32(s.compression);
    w.U32(uint32_t(SourceStride(s.width, s.bitCount) * size_t(s.height)));
    w.U32(0);
    w.U32(0);
    w.U32(s.clrUsed);
    w.U32(0);
    w.Append(s.palette);
    w.End(strf);

    if (s.index == TestIndex::OpenDml || s.index == TestIndex::OpenDmlAndIdx1) {
        const size_t indx = w.Begin("indx");
        w.U16(4);  // longs per entry
        w.U8(0);   // sub type
        w.U8(0);   // index of indexes
        *indxHandleOut = w.Pos();
        w.U32(0);  // entries in use, patched
        w.Tag(StreamTag(s.audioFirst ? 1 : 0, s.dbChunks ? "db" : "dc").c_str());
        w.U32(0);
        w.U32(0);
        w.U32(0);
        for (int i = 0; i < s.indxRoom * 4; ++i) w.U32(0);
        w.End(indx);
    }
    w.End(strl);
}

void WriteAudioStrl(RiffWriter& w) {
    const size_t strl = w.BeginList("LIST", "strl");
    const size_t strh = w.Begin("strh");
    w.Tag("auds");
    w.U32(0);
    for (int i = 0; i < 12; ++i) w.U32(i == 3 ? 1 : i == 4 ? 8000 : 0);
    w.End(strh);
    const size_t strf = w.Begin("strf");
    w.U16(1);  // PCM
    w.U16(1);  // mono
    w.U32(8000);
    w.U32(8000);
    w.U16(1);
    w.U16(8);
    w.End(strf);
    w.End(strl);
}

// Writes frames [first, last) into the current movi list; records where each chunk went.
void WriteFrames(RiffWriter& w, const TestAvi& s, int first, int last, std::vector<Written>* out) {
    const int video = s.audioFirst ? 1 : 0;
    const std::string frameTag = StreamTag(video, s.dbChunks ? "db" : "dc");
    for (int i = first; i < last; ++i) {
        if (s.audioFirst) {
            const std::string tag = StreamTag(0, "wb");
            out->push_back({w.Pos(), 3, tag, 0x10});
            w.Chunk(tag.c_str(), Bytes{0x80, 0x81, 0x82}, s.padOddChunks);
        }
        size_t rec = 0;
        if (s.recLists) rec = w.BeginList("LIST", "rec ");
        out->push_back({w.Pos(), uint32_t(s.frames[size_t(i)].size()), frameTag, 0x10});
        w.Chunk(frameTag.c_str(), s.frames[size_t(i)], s.padOddChunks);
        if (s.recLists) w.End(rec);
        if (s.junk && i == first) w.Chunk("JUNK", Bytes(5, 0), s.padOddChunks);
        for (const auto& [after, data] : s.paletteChanges) {
            if (after == i) {
                const std::string tag = StreamTag(video, "pc");
                out->push_back({w.Pos(), uint32_t(data.size()), tag, 0x100});
                w.Chunk(tag.c_str(), data, s.padOddChunks);
            }
        }
    }
}

// A standard index chunk for the video frames among chunks; returns its file offset.
size_t WriteStdIndex(RiffWriter& w, const TestAvi& s, const std::vector<Written>& chunks) {
    const int video = s.audioFirst ? 1 : 0;
    const std::string frameTag = StreamTag(video, s.dbChunks ? "db" : "dc");
    const std::string ixTag = "ix" + StreamTag(video, "");
    std::vector<const Written*> frames;
    for (const Written& c : chunks)
        if (c.id == frameTag) frames.push_back(&c);
    const uint64_t base = frames.empty() ? 0 : frames.front()->chunkOffset;
    const size_t at = w.Pos();
    const size_t h = w.Begin(ixTag.c_str());
    w.U16(2);
    w.U8(0);
    w.U8(1);  // index of chunks
    w.U32(uint32_t(frames.size()));
    w.Tag(frameTag.c_str());
    w.U64(base);
    w.U32(0);
    for (const Written* f : frames) {
        w.U32(uint32_t(f->chunkOffset + 8 - base));
        w.U32(f->size);
    }
    w.End(h);
    return at;
}

}  // namespace

Bytes BuildAvi(const TestAvi& s) {
    RiffWriter w;
    const bool odml = s.index == TestIndex::OpenDml || s.index == TestIndex::OpenDmlAndIdx1;
    const int total = int(s.frames.size());
    const int inFirst = (odml && s.framesInFirstRiff >= 0) ? s.framesInFirstRiff : total;
    const uint32_t length = s.strhLength >= 0 ? uint32_t(s.strhLength) : uint32_t(total);

    const size_t riff = w.BeginList("RIFF", "AVI ");
    const size_t hdrl = w.BeginList("LIST", "hdrl");
    const size_t avih = w.Begin("avih");
    w.U32(40000);
    w.U32(0);
    w.U32(0);
    w.U32(0x10);  // has index
    w.U32(uint32_t(inFirst));
    w.U32(0);
    w.U32(s.audioFirst ? 2 : 1);
    w.U32(0);
    w.U32(uint32_t(s.width));
    w.U32(uint32_t(s.height));
    for (int i = 0; i < 4; ++i) w.U32(0);
    w.End(avih);
    if (s.junk) w.Chunk("JUNK", Bytes(7, 0xAA));
    if (s.audioFirst) WriteAudioStrl(w);
    size_t indxEntries = 0;
    WriteStrl(w, s, &indxEntries, length);
    if (odml) {
        const size_t list = w.BeginList("LIST", "odml");
        const size_t dmlh = w.Begin("dmlh");
        w.U32(uint32_t(total));
        w.End(dmlh);
        w.End(list);
    }
    w.End(hdrl);
    if (s.junk) w.Chunk("JUNK", Bytes(13, 0));

    std::vector<Written> chunks;
    const size_t movi = w.BeginList("LIST", "movi");
    const size_t moviFourcc = movi + 4;
    WriteFrames(w, s, 0, inFirst, &chunks);
    std::vector<size_t> ixOffsets;
    if (odml) ixOffsets.push_back(WriteStdIndex(w, s, chunks));
    w.End(movi);

    if (s.index == TestIndex::Idx1Relative || s.index == TestIndex::Idx1Absolute ||
        s.index == TestIndex::OpenDmlAndIdx1) {
        const size_t idx1 = w.Begin("idx1");
        for (const Written& c : chunks) {
            w.Tag(c.id.c_str());
            w.U32(c.flags);
            w.U32(uint32_t(s.index == TestIndex::Idx1Absolute ? c.chunkOffset : c.chunkOffset - moviFourcc));
            w.U32(c.size);
        }
        w.End(idx1);
    }
    w.End(riff);

    if (odml && inFirst < total) {
        std::vector<Written> more;
        const size_t avix = w.BeginList("RIFF", "AVIX");
        const size_t movi2 = w.BeginList("LIST", "movi");
        WriteFrames(w, s, inFirst, total, &more);
        ixOffsets.push_back(WriteStdIndex(w, s, more));
        w.End(movi2);
        w.End(avix);
    }
    if (odml) {
        // Super index entries: offset of each standard index chunk, its size, frames it covers.
        w.PatchU32(indxEntries, uint32_t(ixOffsets.size()));
        for (size_t i = 0; i < ixOffsets.size() && i < 2; ++i) {
            const size_t e = indxEntries + 4 + 16 + i * 16;
            w.PatchU64(e, ixOffsets[i]);
            w.PatchU32(e + 8, 32);
            w.PatchU32(e + 12, uint32_t(i == 0 ? inFirst : total - inFirst));
        }
    }
    return w.bytes;
}

size_t FindTag(const Bytes& b, const char* tag) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(b.data() + i, tag, 4) == 0) return i;
    ADD_FAILURE() << "no " << tag;
    return 0;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void Put64(Bytes& b, size_t at, uint64_t v) {
    Put32(b, at, uint32_t(v));
    Put32(b, at + 4, uint32_t(v >> 32));
}
