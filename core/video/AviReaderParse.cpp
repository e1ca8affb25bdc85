#include "video/AviReaderParse.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "image/dib.h"

namespace {

constexpr uint32_t kRIFF = FourCC("RIFF");
constexpr uint32_t kLIST = FourCC("LIST");
constexpr uint32_t kAVI = FourCC("AVI ");
constexpr uint32_t kAVIX = FourCC("AVIX");
constexpr uint32_t kHdrl = FourCC("hdrl");
constexpr uint32_t kAvih = FourCC("avih");
constexpr uint32_t kStrl = FourCC("strl");
constexpr uint32_t kStrh = FourCC("strh");
constexpr uint32_t kStrf = FourCC("strf");
constexpr uint32_t kIndx = FourCC("indx");
constexpr uint32_t kOdml = FourCC("odml");
constexpr uint32_t kDmlh = FourCC("dmlh");
constexpr uint32_t kMovi = FourCC("movi");
constexpr uint32_t kRec = FourCC("rec ");
constexpr uint32_t kIdx1 = FourCC("idx1");
constexpr uint32_t kVids = FourCC("vids");

constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;

// "rec " lists inside movi nest one level in practice; a few more are tolerated.
constexpr int kMaxListDepth = 4;
// Index tables are streamed in blocks of this size rather than read whole.
constexpr size_t kIndexBlock = 64 * 1024;
// Enough of strf for the largest bitmap header (124 bytes) plus 256 colours.
constexpr uint32_t kMaxFormatRead = 4096;

struct MoviList {
    uint64_t fourccOffset = 0;  // position of "movi": idx1 offsets count from here
    uint64_t end = 0;           // end of the list's data, never beyond the file
};

struct StreamHeaders {
    bool haveStrh = false;
    uint8_t strh[64] = {};
    uint32_t strhSize = 0;
    bool haveStrf = false;
    std::vector<uint8_t> strf;
    bool haveIndx = false;
    RiffChunk indx;
};

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Ids a movi list holds: stream chunks ("00dc", "01wb"), standard indices ("ix00"), lists and filler.
bool KnownMoviId(uint32_t id) {
    const uint8_t c0 = uint8_t(id), c1 = uint8_t(id >> 8), c2 = uint8_t(id >> 16), c3 = uint8_t(id >> 24);
    if (id == kLIST || id == FourCC("JUNK") || id == kIdx1) return true;
    if (c0 == 'i' && c1 == 'x' && HexDigit(c2) >= 0 && HexDigit(c3) >= 0) return true;
    return HexDigit(c0) >= 0 && HexDigit(c1) >= 0 && c2 >= 'a' && c2 <= 'z' && c3 >= 'a' && c3 <= 'z';
}

class Parser {
public:
    Parser(const ByteSource& src, AviLayout& out) : src_(src), out_(out), fileSize_(src.Size()) {
        // A frame needs at least its 8-byte chunk header in the file; an index that lists more frames
        // than that can only repeat itself, and is cut here.
        maxFrames_ = std::min<uint64_t>(fileSize_ / 8 + 1, uint64_t(std::numeric_limits<int32_t>::max()));
    }

    bool Run(std::string* error);

private:
    enum class ChunkKind { Other, Frame, Palette };

    bool Fail(std::string* error, const char* why) {
        if (error) *error = why;
        return false;
    }

    void WalkFirstRiff(uint64_t start, uint64_t end);
    void WalkHdrl(uint64_t start, uint64_t end);
    void WalkStrl(uint64_t start, uint64_t end, StreamHeaders* s);
    void WalkOdml(uint64_t start, uint64_t end);
    void FindMovi(uint64_t start, uint64_t end);
    bool ReadListType(const RiffChunk& c, uint64_t limit, uint32_t* type);
    bool TakeVideoStream(const StreamHeaders& s, std::string* error);

    ChunkKind Classify(uint32_t id) const;
    bool AddFrame(uint64_t offset, uint32_t size);
    void AddPaletteChange(uint64_t offset, uint32_t size);
    void ClearIndex() {
        out_.frames.clear();
        out_.paletteChanges.clear();
    }

    enum class IndexResult { Read, Damaged, Full };
    bool ReadOpenDmlIndex();
    IndexResult ReadStandardIndex(uint64_t dataOffset, uint64_t dataEnd);
    bool ReadIdx1();
    uint64_t Idx1Base(uint64_t firstEntries, uint64_t count);
    // Scans a list for chunks of the video stream; false once a frame runs past the end of the file.
    bool ScanList(uint64_t start, uint64_t end, int depth);

    const ByteSource& src_;
    AviLayout& out_;
    uint64_t fileSize_;
    uint64_t maxFrames_ = 0;

    bool haveVideo_ = false;
    StreamHeaders video_;
    std::vector<MoviList> movis_;
    bool haveIdx1_ = false;
    RiffChunk idx1_;
};

bool Parser::ReadListType(const RiffChunk& c, uint64_t limit, uint32_t* type) {
    uint8_t t[4];
    if (c.size < 4 || c.DataOffset() > limit || limit - c.DataOffset() < 4 || !src_.ReadAt(c.DataOffset(), t, 4))
        return false;
    *type = ReadLE32(t);
    return true;
}

bool Parser::Run(std::string* error) {
    RiffChunk riff;
    uint32_t form = 0;
    if (!ReadChunkHeader(src_, 0, fileSize_, &riff) || riff.id != kRIFF || !ReadListType(riff, fileSize_, &form) ||
        form != kAVI)
        return Fail(error, "not an AVI file");

    // A writer that never finished leaves the size 0; the data then runs to the end of the file.
    const uint64_t firstEnd = riff.size < 4 ? fileSize_ : riff.DataEnd(fileSize_);
    WalkFirstRiff(12, firstEnd);
    if (!haveVideo_) return Fail(error, "no video stream");
    if (!TakeVideoStream(video_, error)) return false;

    // OpenDML continuation RIFFs, one after another up to the end of the file.
    if (riff.size >= 4) {
        uint64_t pos = riff.NextOffset();
        RiffChunk c;
        while (ReadChunkHeader(src_, pos, fileSize_, &c) && c.id == kRIFF) {
            uint32_t type = 0;
            if (!ReadListType(c, fileSize_, &type)) break;
            if (type == kAVIX) FindMovi(c.DataOffset() + 4, c.DataEnd(fileSize_));
            pos = c.NextOffset();
        }
    }

    if (video_.haveIndx && ReadOpenDmlIndex() && !out_.frames.empty()) {
        out_.indexSource = AviIndexSource::OpenDml;
        return true;
    }
    ClearIndex();
    if (haveIdx1_ && ReadIdx1() && !out_.frames.empty()) {
        out_.indexSource = AviIndexSource::Idx1;
        // idx1 covers the first RIFF only; continuation RIFFs without an OpenDML index are scanned.
        if (movis_.size() > 1) {
            for (size_t i = 1; i < movis_.size(); ++i) {
                if (!ScanList(movis_[i].fourccOffset + 4, movis_[i].end, 0)) break;
            }
            out_.indexSource = AviIndexSource::Idx1AndScan;
        }
        return true;
    }
    ClearIndex();
    for (const MoviList& m : movis_) {
        if (!ScanList(m.fourccOffset + 4, m.end, 0)) break;
    }
    out_.indexSource = out_.frames.empty() ? AviIndexSource::None : AviIndexSource::Scan;
    return true;
}

void Parser::WalkFirstRiff(uint64_t start, uint64_t end) {
    RiffChunk c;
    for (uint64_t pos = start; ReadChunkHeader(src_, pos, end, &c); pos = c.NextOffset()) {
        uint32_t type = 0;
        if (c.id == kLIST && ReadListType(c, end, &type)) {
            if (type == kHdrl && !haveVideo_)
                WalkHdrl(c.DataOffset() + 4, c.DataEnd(end));
            else if (type == kMovi && movis_.empty())
                movis_.push_back({c.DataOffset(), c.DataEnd(end)});
        } else if (c.id == kIdx1 && !haveIdx1_) {
            haveIdx1_ = true;
            idx1_ = c;
        }
    }
}

void Parser::FindMovi(uint64_t start, uint64_t end) {
    RiffChunk c;
    for (uint64_t pos = start; ReadChunkHeader(src_, pos, end, &c); pos = c.NextOffset()) {
        uint32_t type = 0;
        if (c.id == kLIST && ReadListType(c, end, &type) && type == kMovi) {
            movis_.push_back({c.DataOffset(), c.DataEnd(end)});
            return;
        }
    }
}

void Parser::WalkHdrl(uint64_t start, uint64_t end) {
    RiffChunk c;
    for (uint64_t pos = start; ReadChunkHeader(src_, pos, end, &c); pos = c.NextOffset()) {
        uint32_t type = 0;
        if (c.id == kAvih) {
            uint8_t h[20] = {};
            if (c.size >= 20 && src_.ReadAt(c.DataOffset(), h, 20)) out_.avihTotalFrames = ReadLE32(h + 16);
        } else if (c.id == kLIST && ReadListType(c, end, &type)) {
            if (type == kStrl) {
                StreamHeaders s;
                WalkStrl(c.DataOffset() + 4, c.DataEnd(end), &s);
                const uint32_t number = out_.streamCount++;
                if (!haveVideo_ && s.haveStrh && ReadLE32(s.strh) == kVids) {
                    haveVideo_ = true;
                    out_.streamNumber = number;
                    video_ = std::move(s);
                }
            } else if (type == kOdml) {
                WalkOdml(c.DataOffset() + 4, c.DataEnd(end));
            }
        }
    }
}

void Parser::WalkStrl(uint64_t start, uint64_t end, StreamHeaders* s) {
    RiffChunk c;
    for (uint64_t pos = start; ReadChunkHeader(src_, pos, end, &c); pos = c.NextOffset()) {
        const uint64_t avail = c.DataEnd(end) - c.DataOffset();
        if (c.id == kStrh && !s->haveStrh) {
            const uint32_t n = uint32_t(std::min<uint64_t>({avail, c.size, sizeof s->strh}));
            if (n >= 8 && src_.ReadAt(c.DataOffset(), s->strh, n)) {
                s->haveStrh = true;
                s->strhSize = n;
            }
        } else if (c.id == kStrf && !s->haveStrf) {
            const uint32_t n = uint32_t(std::min<uint64_t>({avail, c.size, kMaxFormatRead}));
            s->strf.resize(n);
            s->haveStrf = src_.ReadAt(c.DataOffset(), s->strf.data(), n);
        } else if (c.id == kIndx && !s->haveIndx) {
            s->haveIndx = true;
            s->indx = c;
        }
    }
}

void Parser::WalkOdml(uint64_t start, uint64_t end) {
    RiffChunk c;
    for (uint64_t pos = start; ReadChunkHeader(src_, pos, end, &c); pos = c.NextOffset()) {
        uint8_t t[4];
        if (c.id == kDmlh && c.size >= 4 && src_.ReadAt(c.DataOffset(), t, 4)) out_.dmlhTotalFrames = ReadLE32(t);
    }
}

bool Parser::TakeVideoStream(const StreamHeaders& s, std::string* error) {
    const uint8_t* h = s.strh;  // zero past what the file held
    out_.fccType = ReadLE32(h);
    out_.fccHandler = ReadLE32(h + 4);
    out_.scale = ReadLE32(h + 20);
    out_.rate = ReadLE32(h + 24);
    out_.start = ReadLE32(h + 28);
    out_.length = ReadLE32(h + 32);

    if (!s.haveStrf || s.strf.size() < sizeof(BITMAPINFOHEADER))
        return Fail(error, "video stream has no bitmap format");
    const uint8_t* f = s.strf.data();
    const uint32_t biSize = ReadLE32(f);
    out_.width = int32_t(ReadLE32(f + 4));
    out_.height = int32_t(ReadLE32(f + 8));
    out_.bitCount = ReadLE16(f + 14);
    out_.compression = ReadLE32(f + 16);
    const uint32_t clrUsed = ReadLE32(f + 32);

    if (out_.width <= 0 || out_.height == 0 || out_.height == std::numeric_limits<int32_t>::min())
        return Fail(error, "video frame size is not valid");
    const int32_t rows = out_.height < 0 ? -out_.height : out_.height;
    if (!FrameSizeAllowed(out_.width, rows)) return Fail(error, "video frame size is too large");

    // The colour table follows the bitmap header; entries the block does not hold stay black.
    if (out_.bitCount <= 8) {
        const uint32_t colours = (clrUsed == 0 || clrUsed > 256) ? (1u << std::max<int>(out_.bitCount, 1)) : clrUsed;
        const uint64_t tableStart = (biSize >= 40 && biSize <= s.strf.size()) ? biSize : 40;
        const uint64_t held = (s.strf.size() - tableStart) / 4;
        out_.paletteEntries = uint32_t(std::min<uint64_t>({held, colours, 256}));
        std::memcpy(out_.palette, f + tableStart, size_t(out_.paletteEntries) * 4);
    }
    return true;
}

Parser::ChunkKind Parser::Classify(uint32_t id) const {
    const int hi = HexDigit(uint8_t(id)), lo = HexDigit(uint8_t(id >> 8));
    if (hi < 0 || lo < 0) return ChunkKind::Other;
    // Stream numbers are two hex digits; some writers use decimal, which agrees below 10 and is
    // accepted beyond that only where no stream could claim the hex reading.
    const uint32_t asHex = uint32_t(hi * 16 + lo);
    bool ours = asHex == out_.streamNumber;
    if (!ours && hi < 10 && lo < 10) ours = uint32_t(hi * 10 + lo) == out_.streamNumber && asHex >= out_.streamCount;
    if (!ours) return ChunkKind::Other;
    const uint32_t suffix = id >> 16;
    if (suffix == (FourCC("00db") >> 16) || suffix == (FourCC("00dc") >> 16)) return ChunkKind::Frame;
    if (suffix == (FourCC("00pc") >> 16)) return ChunkKind::Palette;
    return ChunkKind::Other;
}

bool Parser::AddFrame(uint64_t offset, uint32_t size) {
    if (out_.frames.size() >= maxFrames_) return false;
    if (size == 0) {
        // A zero-size chunk is a dropped frame: it shows the frame before it again.
        out_.frames.push_back(out_.frames.empty() ? AviFrameRef{} : out_.frames.back());
        return true;
    }
    out_.frames.push_back({offset, size, 0});
    return true;
}

void Parser::AddPaletteChange(uint64_t offset, uint32_t size) {
    if (out_.paletteChanges.size() >= maxFrames_) return;
    out_.paletteChanges.push_back({offset, size, uint32_t(out_.frames.size())});
}

bool Parser::ReadOpenDmlIndex() {
    const RiffChunk& c = video_.indx;
    const uint64_t end = c.DataEnd(fileSize_);
    uint8_t h[24];
    if (end - c.DataOffset() < 24 || !src_.ReadAt(c.DataOffset(), h, 24)) return false;
    const uint16_t longsPerEntry = ReadLE16(h);
    const uint8_t indexType = h[3];
    const uint32_t inUse = ReadLE32(h + 4);

    // Some writers put a standard index straight into the stream header list.
    if (indexType == kIndexOfChunks) return ReadStandardIndex(c.DataOffset(), end) != IndexResult::Damaged;
    if (indexType != kIndexOfIndexes || longsPerEntry < 4) return false;

    const uint64_t stride = uint64_t(longsPerEntry) * 4;
    const uint64_t count = std::min<uint64_t>(inUse, (end - c.DataOffset() - 24) / stride);
    const uint64_t perBlock = std::max<uint64_t>(1, kIndexBlock / stride);
    std::vector<uint8_t> block;
    std::unordered_set<uint64_t> visited;  // each standard index is read once, however often it is listed
    for (uint64_t first = 0; first < count; first += perBlock) {
        const uint64_t n = std::min(perBlock, count - first);
        block.resize(size_t(n * stride));
        if (!src_.ReadAt(c.DataOffset() + 24 + first * stride, block.data(), block.size())) return false;
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t ixOffset = ReadLE64(block.data() + i * stride);
            if (!visited.insert(ixOffset).second) continue;
            // A standard index that is missing or damaged would shift every frame after it: then the
            // whole OpenDML index is set aside for idx1 or a scan.
            RiffChunk ix;
            if (!ReadChunkHeader(src_, ixOffset, fileSize_, &ix)) return false;
            const IndexResult r = ReadStandardIndex(ix.DataOffset(), ix.DataEnd(fileSize_));
            if (r == IndexResult::Damaged) return false;
            if (r == IndexResult::Full) return true;
        }
    }
    return true;
}

Parser::IndexResult Parser::ReadStandardIndex(uint64_t dataOffset, uint64_t dataEnd) {
    uint8_t h[24];
    if (dataEnd < dataOffset || dataEnd - dataOffset < 24 || !src_.ReadAt(dataOffset, h, 24))
        return IndexResult::Damaged;
    const uint16_t longsPerEntry = ReadLE16(h);
    const uint8_t indexType = h[3];
    const uint32_t inUse = ReadLE32(h + 4);
    const uint32_t chunkId = ReadLE32(h + 8);
    const uint64_t base = ReadLE64(h + 12);
    if (indexType != kIndexOfChunks || longsPerEntry < 2) return IndexResult::Damaged;
    if (chunkId != 0 && Classify(chunkId) != ChunkKind::Frame)
        return IndexResult::Read;  // another stream's index: none of our frames

    const uint64_t stride = uint64_t(longsPerEntry) * 4;
    if (inUse > (dataEnd - dataOffset - 24) / stride)
        return IndexResult::Damaged;  // claims more entries than the chunk (or the file) holds
    const uint64_t count = inUse;
    const uint64_t perBlock = std::max<uint64_t>(1, kIndexBlock / stride);
    std::vector<uint8_t> block;
    for (uint64_t first = 0; first < count; first += perBlock) {
        const uint64_t n = std::min(perBlock, count - first);
        block.resize(size_t(n * stride));
        if (!src_.ReadAt(dataOffset + 24 + first * stride, block.data(), block.size())) return IndexResult::Damaged;
        for (uint64_t i = 0; i < n; ++i) {
            const uint8_t* e = block.data() + i * stride;
            const uint32_t rel = ReadLE32(e);
            const uint32_t size = ReadLE32(e + 4) & 0x7fffffffu;  // the top bit marks a delta frame
            // An offset that overflows can never be read; it stays in the index as an unreadable frame.
            const uint64_t offset = base > std::numeric_limits<uint64_t>::max() - rel
                                        ? std::numeric_limits<uint64_t>::max()
                                        : base + rel;
            if (!AddFrame(offset, size)) return IndexResult::Full;
        }
    }
    return IndexResult::Read;
}

// idx1 offsets count either from the "movi" FOURCC (as the format defines) or from the start of the
// file (as some writers have it). The first entries decide: whichever base finds their chunk headers.
uint64_t Parser::Idx1Base(uint64_t entriesOffset, uint64_t count) {
    const uint64_t movi = movis_.empty() ? 0 : movis_[0].fourccOffset;
    const uint64_t probe = std::min<uint64_t>(count, 16);
    uint8_t e[16 * 16];
    if (probe == 0 || !src_.ReadAt(entriesOffset, e, size_t(probe * 16))) return movi;
    int relativeHits = 0, absoluteHits = 0;
    for (uint64_t i = 0; i < probe; ++i) {
        const uint32_t id = ReadLE32(e + i * 16);
        const uint32_t off = ReadLE32(e + i * 16 + 8);
        const uint32_t size = ReadLE32(e + i * 16 + 12);
        RiffChunk c;
        if (ReadChunkHeader(src_, movi + off, fileSize_, &c) && c.id == id && c.size == size) ++relativeHits;
        if (ReadChunkHeader(src_, off, fileSize_, &c) && c.id == id && c.size == size) ++absoluteHits;
    }
    if (relativeHits != absoluteHits) return relativeHits > absoluteHits ? movi : 0;
    // Undecided (an index pointing nowhere): an offset below the movi list cannot be absolute.
    return ReadLE32(e + 8) < movi ? movi : 0;
}

bool Parser::ReadIdx1() {
    const uint64_t start = idx1_.DataOffset();
    const uint64_t count = (idx1_.DataEnd(fileSize_) - start) / 16;
    const uint64_t base = Idx1Base(start, count);
    constexpr uint64_t perBlock = kIndexBlock / 16;
    std::vector<uint8_t> block;
    for (uint64_t first = 0; first < count; first += perBlock) {
        const uint64_t n = std::min(perBlock, count - first);
        block.resize(size_t(n * 16));
        if (!src_.ReadAt(start + first * 16, block.data(), block.size())) return true;
        for (uint64_t i = 0; i < n; ++i) {
            const uint8_t* e = block.data() + i * 16;
            const ChunkKind kind = Classify(ReadLE32(e));
            const uint64_t data = base + ReadLE32(e + 8) + 8;
            const uint32_t size = ReadLE32(e + 12);
            if (kind == ChunkKind::Frame) {
                if (!AddFrame(data, size)) return true;
            } else if (kind == ChunkKind::Palette) {
                AddPaletteChange(data, size);
            }
        }
    }
    return true;
}

bool Parser::ScanList(uint64_t start, uint64_t end, int depth) {
    RiffChunk c;
    uint64_t pos = start;
    while (ReadChunkHeader(src_, pos, end, &c)) {
        const uint64_t dataEnd = c.DataOffset() + c.size;
        uint32_t type = 0;
        if (c.id == kLIST) {
            if (depth < kMaxListDepth && ReadListType(c, end, &type) && type == kRec &&
                !ScanList(c.DataOffset() + 4, c.DataEnd(end), depth + 1))
                return false;
        } else {
            const ChunkKind kind = Classify(c.id);
            if (kind == ChunkKind::Frame) {
                // A frame cut off by the end of the file is not one the file holds.
                if (dataEnd > fileSize_ || !AddFrame(c.DataOffset(), c.size)) return false;
            } else if (kind == ChunkKind::Palette && dataEnd <= fileSize_) {
                AddPaletteChange(c.DataOffset(), c.size);
            }
        }
        if (dataEnd >= end) break;
        uint64_t next = c.NextOffset();
        if (c.size & 1) {
            // Some writers forget the pad byte after odd-sized chunks: follow them when the padded
            // position holds no chunk id a movi list can hold but the unpadded one does.
            RiffChunk padded, unpadded;
            if (ReadChunkHeader(src_, next, end, &padded) && !KnownMoviId(padded.id) &&
                ReadChunkHeader(src_, next - 1, end, &unpadded) && KnownMoviId(unpadded.id))
                next -= 1;
        }
        pos = next;
    }
    return true;
}

}  // namespace

bool ParseAvi(const ByteSource& src, AviLayout* layout, std::string* error) {
    *layout = AviLayout{};
    Parser parser(src, *layout);
    if (!parser.Run(error)) {
        layout->frames.clear();
        layout->paletteChanges.clear();
        return false;
    }
    return true;
}
