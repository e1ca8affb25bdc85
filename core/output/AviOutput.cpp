#include "output/AviOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "fileio/OutputCheck.h"
#include "fileio/TempFile.h"
#include "fileio/WriteAll.h"
#include "video/ExceptionText.h"

// File layout (offsets of the first RIFF are fixed once the first frame's format is known):
//
//   RIFF 'AVI '
//     LIST 'hdrl'
//       avih
//       LIST 'strl'  strh, strf, indx (a JUNK placeholder while the file is one RIFF)
//       LIST 'odml' dmlh            (a JUNK placeholder while the file is one RIFF)
//     LIST 'movi'  00db ... [ix00 when the file goes on in AVIX lists]
//     idx1
//   RIFF 'AVIX'
//     LIST 'movi'  00db ... ix00
//   ...
//
// Every frame has the first frame's size, so a frame's position follows from its number within its
// RIFF and no per-frame bookkeeping is kept. The output is written under a temporary name beside the
// target and renamed over it at close: a target that is still being read (the source video itself,
// chosen as the output) stays intact until the export is over.

static_assert(std::endian::native == std::endian::little, "headers are copied as little-endian bytes");

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint8_t kAviIndexOfIndexes = 0x00;
constexpr uint8_t kAviIndexOfChunks = 0x01;
constexpr uint64_t kMinRiffLimit = 64 * 1024;
constexpr size_t kAvihSize = 56;
constexpr size_t kStrhSize = 56;
constexpr size_t kDmlhSize = 248;
constexpr size_t kIndxHeaderSize = 24;  // after the chunk header
constexpr size_t kIxHeaderSize = 24;
constexpr size_t kOdmlChunkSize = 4 + 8 + kDmlhSize;  // 'odml' + dmlh chunk

constexpr uint32_t FourCC(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

// Little-endian byte builder for headers and indices.
class Bytes {
public:
    void U8(uint8_t v) { data.push_back(v); }
    void U16(uint16_t v) {
        for (int i = 0; i < 2; ++i) data.push_back(uint8_t(v >> (8 * i)));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) data.push_back(uint8_t(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) data.push_back(uint8_t(v >> (8 * i)));
    }
    void Tag(const char (&s)[5]) { U32(FourCC(s)); }
    void Raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
    }
    void Zeros(size_t n) { data.insert(data.end(), n, 0); }
    size_t Size() const { return data.size(); }
    const uint8_t* Data() const { return data.data(); }
    void Clear() { data.clear(); }
    void Reserve(size_t n) { data.reserve(n); }

private:
    std::vector<uint8_t> data;
};

uint32_t Clamp32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : uint32_t(v); }

std::string ErrnoText(int err) { return std::strerror(err); }

}  // namespace

struct AviOutput {
    // The "streams" are states of this writer: no stream objects of their own.
    int file = -1;
    WAVEFORMATEX audioFormat{};
    int32_t framePeriod = 0;
    bool audioStream = false;  // never created: no audio is written
    bool videoStream = false;  // created by the first frame
    int32_t nextFrame = 0;
    bool failed = false;

    std::string targetPath;
    std::string tempPath;
    std::string lastError;
    bool replacing = false;  // a file was at the target when the handle was opened
    uint64_t riffLimit = kAviDefaultRiffLimit;
    uint32_t indexCapacity = kAviDefaultIndexCapacity;

    // Stream format, fixed by the first frame.
    BITMAPINFOHEADER format{};
    std::vector<RGBQUAD> colours;
    int32_t frameSize = 0;   // bytes of pixels per frame
    uint64_t chunkSize = 0;  // 00db chunk: header, pixels, pad byte

    // Layout of the first RIFF's header region.
    uint64_t indxPos = 0;
    uint64_t odmlPos = 0;
    uint64_t headerSize = 0;  // up to the first frame's chunk

    // The RIFF being filled.
    bool riffOpen = false;
    int riffNumber = 0;  // 0 = the 'AVI ' RIFF, then AVIX lists
    uint64_t riffStart = 0;
    uint64_t moviStart = 0;  // position of its 'LIST' header
    uint32_t riffFrames = 0;
    uint64_t pos = 0;  // end of what has been written

    // Finished parts.
    uint32_t firstRiffFrames = 0;
    uint32_t firstRiffSize = 0;
    uint32_t firstMoviSize = 4;
    struct SuperEntry {
        uint64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    std::vector<SuperEntry> superIndex;

    // Frames put into their places (AviOutputPutFrame) instead of appended: RIFF lists hold capacity
    // frames each, so every place is known in advance; indices are written by AviOutputKeepFrames.
    bool placed = false;
    uint64_t firstRiffCapacity = 0;  // frames of the 'AVI ' RIFF when more RIFFs follow
    uint64_t nextRiffCapacity = 0;   // frames of each AVIX RIFF
    uint64_t placedBytes = 0;        // written since the last write-back start
    std::vector<uint8_t> moveBuffer;

    // Hands every finished 32 MiB stretch to the disk at once instead of letting dirty pages pile up
    // for the kernel to flush later; nothing waits for it here.
    uint64_t writebackFrom = 0;
    void StartWriteback() {
        constexpr uint64_t kStretch = 32u << 20;
        if (pos - writebackFrom < kStretch) return;
        sync_file_range(file, off_t(writebackFrom), off_t(pos - writebackFrom), SYNC_FILE_RANGE_WRITE);
        writebackFrom = pos;
    }

    int32_t Fail(int32_t code, const std::string& reason) {
        failed = true;
        lastError = reason;
        return code;
    }

    uint64_t IxChunkSize(uint64_t frames) const { return 8 + kIxHeaderSize + 8 * frames; }
    uint64_t Idx1ChunkSize(uint64_t frames) const { return 8 + 16 * frames; }

    // Bytes the current RIFF would take with `frames` frames and its closing indices.
    uint64_t RiffBytesWith(uint64_t frames) const {
        uint64_t bytes = (moviStart + 12 - riffStart) + frames * chunkSize + IxChunkSize(frames);
        if (riffNumber == 0) bytes += Idx1ChunkSize(frames);
        return bytes;
    }

    // The most frames the RIFF with header bytes `head` takes before the next begins (at least one):
    // what the append path's split test allows.
    uint64_t RiffCapacity(uint64_t head, uint64_t perFrame, uint64_t fixed) const {
        if (riffLimit < head + fixed + perFrame) return 1;
        return std::max<uint64_t>(1, (riffLimit - head - fixed) / perFrame);
    }

    // Start of RIFF r (r >= 1) and of frame `index`'s chunk, and its RIFF, when RIFFs are full.
    uint64_t RiffStart(uint64_t r) const {
        const uint64_t second = headerSize + firstRiffCapacity * chunkSize + IxChunkSize(firstRiffCapacity) +
                                Idx1ChunkSize(firstRiffCapacity);
        return second + (r - 1) * (24 + nextRiffCapacity * chunkSize + IxChunkSize(nextRiffCapacity));
    }
    uint64_t ChunkPos(uint64_t index, uint64_t* riff) const {
        if (index < firstRiffCapacity) {
            *riff = 0;
            return headerSize + index * chunkSize;
        }
        const uint64_t k = index - firstRiffCapacity;
        *riff = 1 + k / nextRiffCapacity;
        return RiffStart(*riff) + 24 + (k % nextRiffCapacity) * chunkSize;
    }

    void LayOutHeader() {
        uint64_t strfData = sizeof(BITMAPINFOHEADER) + 4 * colours.size();
        indxPos = 164 + 8 + strfData;
        odmlPos = indxPos + 8 + kIndxHeaderSize + 16 * uint64_t(indexCapacity);
        moviStart = odmlPos + 8 + kOdmlChunkSize;
        headerSize = moviStart + 12;
        // RiffBytesWith(n) <= riffLimit solved for n: ix00 (32 + 8n), idx1 (8 + 16n) in the first RIFF.
        firstRiffCapacity = RiffCapacity(headerSize, chunkSize + 24, 40);
        nextRiffCapacity = RiffCapacity(24, chunkSize + 8, 32);
    }

    void BuildHeader(Bytes& b) const {
        const bool odml = !superIndex.empty();
        const uint32_t totalFrames = uint32_t(nextFrame);
        const uint32_t width = uint32_t(format.biWidth);
        const uint32_t height = uint32_t(format.biHeight < 0 ? -int64_t(format.biHeight) : format.biHeight);
        b.Reserve(size_t(headerSize));

        b.Tag("RIFF");
        b.U32(firstRiffSize);
        b.Tag("AVI ");
        const uint64_t firstMovi = headerSize - 12;
        b.Tag("LIST");
        b.U32(uint32_t(firstMovi - 20));
        b.Tag("hdrl");

        b.Tag("avih");
        b.U32(kAvihSize);
        b.U32(Clamp32(uint64_t(framePeriod) * 1000));
        b.U32(Clamp32((uint64_t(chunkSize) * 1000 + uint64_t(framePeriod) - 1) / uint64_t(framePeriod)));
        b.U32(0);  // padding granularity
        b.U32(kAvifHasIndex);
        b.U32(odml ? firstRiffFrames : totalFrames);
        b.U32(0);  // initial frames
        b.U32(1);  // streams
        b.U32(uint32_t(frameSize));
        b.U32(width);
        b.U32(height);
        b.Zeros(16);

        b.Tag("LIST");
        b.U32(uint32_t(odmlPos - 96));
        b.Tag("strl");

        b.Tag("strh");
        b.U32(kStrhSize);
        b.Tag("vids");
        b.Tag("DIB ");
        b.U32(0);                      // flags
        b.U16(0);                      // priority
        b.U16(0);                      // language
        b.U32(0);                      // initial frames
        b.U32(uint32_t(framePeriod));  // scale: not reduced, rate / scale gives the frame rate
        b.U32(1000);                   // rate
        b.U32(0);                      // start
        b.U32(totalFrames);            // length
        b.U32(uint32_t(frameSize));    // suggested buffer size
        b.U32(0);                      // quality
        b.U32(0);                      // sample size: varies per chunk as far as readers know
        b.U16(0);
        b.U16(0);
        b.U16(uint16_t(std::min<uint32_t>(width, INT16_MAX)));
        b.U16(uint16_t(std::min<uint32_t>(height, INT16_MAX)));

        b.Tag("strf");
        b.U32(uint32_t(sizeof(BITMAPINFOHEADER) + 4 * colours.size()));
        b.Raw(&format, sizeof format);
        if (!colours.empty()) b.Raw(colours.data(), 4 * colours.size());

        const uint32_t indxData = uint32_t(kIndxHeaderSize + 16 * uint64_t(indexCapacity));
        if (odml) {
            b.Tag("indx");
            b.U32(indxData);
            b.U16(4);  // longs per entry
            b.U8(0);
            b.U8(kAviIndexOfIndexes);
            b.U32(uint32_t(superIndex.size()));
            b.Tag("00db");
            b.Zeros(12);
            for (const SuperEntry& e : superIndex) {
                b.U64(e.offset);
                b.U32(e.size);
                b.U32(e.duration);
            }
            b.Zeros(16 * (indexCapacity - superIndex.size()));

            b.Tag("LIST");
            b.U32(kOdmlChunkSize);
            b.Tag("odml");
            b.Tag("dmlh");
            b.U32(kDmlhSize);
            b.U32(totalFrames);
            b.Zeros(kDmlhSize - 4);
        } else {
            b.Tag("JUNK");
            b.U32(indxData);
            b.Zeros(indxData);
            b.Tag("JUNK");
            b.U32(kOdmlChunkSize);
            b.Zeros(kOdmlChunkSize);
        }

        b.Tag("LIST");
        b.U32(firstMoviSize);
        b.Tag("movi");
    }

    // Writes the closing indices of the current RIFF at pos: the ix00 standard index (when the file has
    // or will have AVIX lists) and, in the first RIFF, idx1; then the RIFF and movi sizes.
    bool FinishRiff(bool withIx) {
        const uint64_t n = riffFrames;
        const uint64_t ixPos = pos;
        const uint64_t ixSize = withIx ? IxChunkSize(n) : 0;
        const uint64_t moviEnd = ixPos + ixSize;
        const uint64_t idx1Size = riffNumber == 0 ? Idx1ChunkSize(n) : 0;
        const uint64_t riffEnd = moviEnd + idx1Size;
        const uint64_t firstChunk = moviStart + 12;

        // Indices are streamed in pieces: a RIFF of tiny frames can hold millions of entries.
        Bytes b;
        uint64_t writeAt = pos;
        auto flush = [&](bool force) {
            if (b.Size() == 0 || (!force && b.Size() < (1u << 20))) return true;
            if (!WriteAll(file, b.Data(), b.Size(), int64_t(writeAt))) return false;
            writeAt += b.Size();
            b.Clear();
            return true;
        };
        if (withIx) {
            b.Tag("ix00");
            b.U32(uint32_t(ixSize - 8));
            b.U16(2);  // longs per entry
            b.U8(0);
            b.U8(kAviIndexOfChunks);
            b.U32(uint32_t(n));
            b.Tag("00db");
            b.U64(moviStart);  // base offset
            b.U32(0);
            for (uint64_t i = 0; i < n; ++i) {
                b.U32(uint32_t(firstChunk + i * chunkSize + 8 - moviStart));
                b.U32(uint32_t(frameSize));  // top bit clear: key frame
                if (!flush(false)) return false;
            }
        }
        if (riffNumber == 0) {
            b.Tag("idx1");
            b.U32(uint32_t(16 * n));
            for (uint64_t i = 0; i < n; ++i) {
                b.Tag("00db");
                b.U32(kAviifKeyframe);
                b.U32(uint32_t(firstChunk + i * chunkSize - (moviStart + 8)));
                b.U32(uint32_t(frameSize));
                if (!flush(false)) return false;
            }
        }
        if (!flush(true)) return false;

        const uint32_t moviSize = uint32_t(moviEnd - (moviStart + 8));
        const uint32_t riffSize = uint32_t(riffEnd - (riffStart + 8));
        if (riffNumber == 0) {
            firstRiffFrames = uint32_t(n);
            firstRiffSize = riffSize;
            firstMoviSize = moviSize;
        } else {
            uint8_t le[4];
            for (int i = 0; i < 4; ++i) le[i] = uint8_t(riffSize >> (8 * i));
            if (!WriteAll(file, le, 4, int64_t(riffStart + 4))) return false;
            for (int i = 0; i < 4; ++i) le[i] = uint8_t(moviSize >> (8 * i));
            if (!WriteAll(file, le, 4, int64_t(moviStart + 4))) return false;
        }
        if (withIx) superIndex.push_back({ixPos, uint32_t(ixSize), uint32_t(n)});
        pos = riffEnd;
        riffOpen = false;
        return true;
    }
};

AviOutput* AviOutputOpen(const char* path, int32_t msPerFrame, const WAVEFORMATEX* audioFormat) {
    return AviOutputOpen(path, msPerFrame, audioFormat, nullptr);
}

AviOutput* AviOutputOpen(const char* path, int32_t msPerFrame, const WAVEFORMATEX* audioFormat, std::string* error) {
    auto refuse = [&](const std::string& reason) -> AviOutput* {
        if (error) *error = reason;
        return nullptr;
    };
    if (!path || !*path) return refuse("no file name");
    if (msPerFrame <= 0) return refuse("invalid frame period of " + std::to_string(msPerFrame) + " ms");

    AviOutput* out = new (std::nothrow) AviOutput;
    if (!out) return refuse(ErrnoText(ENOMEM));
    try {
        out->targetPath = ResolveWriteTarget(path);
        struct stat st {};
        if (stat(out->targetPath.c_str(), &st) == 0) {
            // Replacing must be refused where truncating in place would be.
            const int err = S_ISDIR(st.st_mode)                                                   ? EISDIR
                            : faccessat(AT_FDCWD, out->targetPath.c_str(), W_OK, AT_EACCESS) != 0 ? errno
                                                                                                  : 0;
            if (err) {
                delete out;
                return refuse(ErrnoText(err));
            }
            out->replacing = true;
        }
        out->file = CreateTempBeside(out->targetPath, &out->tempPath);
    } catch (...) {
        delete out;
        return refuse(CurrentExceptionText(ErrnoText(ENOMEM)));
    }
    if (out->file < 0) {
        int err = errno;
        delete out;
        return refuse(ErrnoText(err));
    }
    if (audioFormat) std::memcpy(&out->audioFormat, audioFormat, sizeof(WAVEFORMATEX));
    out->framePeriod = msPerFrame;
    return out;
}

namespace {

// Fixes the stream's format from the first frame and writes a provisional header: the file reads as
// an AVI even before close rewrites it.
int32_t BeginStream(AviOutput* out, int32_t bitsSize, const BITMAPINFOHEADER* header) {
    if (!header) return out->Fail(AVIERR_BADPARAM, "no format for the first frame");
    BITMAPINFOHEADER h;
    std::memcpy(&h, header, sizeof h);
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN || h.biClrUsed > 256)
        return out->Fail(AVIERR_BADFORMAT, "unusable frame format");
    if (h.biCompression == BI_RGB) {
        const uint16_t bpp = h.biBitCount;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            return out->Fail(AVIERR_BADFORMAT, "unusable frame format");
        const int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
        const int64_t stride = ((int64_t(h.biWidth) * bpp + 31) / 32) * 4;
        if (stride * rows > bitsSize) return out->Fail(AVIERR_BADSIZE, "frame data shorter than its format");
    }
    h.biSize = sizeof(BITMAPINFOHEADER);  // the colour table follows these 40 bytes
    out->format = h;
    out->colours.resize(h.biClrUsed);
    if (h.biClrUsed)
        std::memcpy(out->colours.data(), reinterpret_cast<const uint8_t*>(header) + sizeof h, 4 * size_t(h.biClrUsed));
    out->frameSize = bitsSize;
    out->chunkSize = 8 + uint64_t(bitsSize) + (bitsSize & 1);
    out->LayOutHeader();

    Bytes b;
    out->BuildHeader(b);
    if (!WriteAll(out->file, b.Data(), b.Size(), 0)) return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));
    out->videoStream = true;
    return AVIERR_OK;
}

}  // namespace

int32_t AviOutputAddFrame(AviOutput* out, const void* bits, int32_t bitsSize, const BITMAPINFOHEADER* header) {
    if (!out) return AVIERR_BADHANDLE;
    if (out->failed) return AVIERR_ERROR;
    if (!bits || bitsSize <= 0) return out->Fail(AVIERR_BADPARAM, "no pixel data for the frame");
    if (out->placed) return out->Fail(AVIERR_BADPARAM, "frames are put into their places on this file");

    try {
        if (!out->videoStream) {
            if (const int32_t code = BeginStream(out, bitsSize, header); code != AVIERR_OK) return code;
            out->riffOpen = true;
            out->riffNumber = 0;
            out->riffStart = 0;
            out->riffFrames = 0;
            out->pos = out->headerSize;
        } else if (bitsSize != out->frameSize) {
            return out->Fail(AVIERR_BADSIZE, "frame size differs from the first frame's");
        }
        if (out->nextFrame == INT32_MAX) return out->Fail(AVIERR_FILEWRITE, "too many frames for one AVI file");

        // Start the next RIFF when this frame would push the current one past the limit.
        uint8_t prefix[24 + 8];
        size_t prefixLen = 0;
        const bool split = out->riffOpen && out->riffFrames > 0 &&
                           out->RiffBytesWith(out->riffFrames + 1) > out->riffLimit;
        if (split || !out->riffOpen) {
            // The finished RIFF and the new one each take a super index entry.
            if (out->superIndex.size() + (out->riffOpen ? 2 : 1) > out->indexCapacity)
                return out->Fail(AVIERR_FILEWRITE, "the AVI file has reached its largest possible size");
            if (out->riffOpen && !out->FinishRiff(true)) return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));
            const uint32_t head[6] = {FourCC("RIFF"), 0, FourCC("AVIX"), FourCC("LIST"), 0, FourCC("movi")};
            std::memcpy(prefix, head, sizeof head);  // little-endian host: bytes as in the file
            prefixLen = sizeof head;
        }
        const uint32_t chunkHead[2] = {FourCC("00db"), uint32_t(bitsSize)};
        std::memcpy(prefix + prefixLen, chunkHead, sizeof chunkHead);
        prefixLen += sizeof chunkHead;

        static const uint8_t kPad = 0;
        iovec iov[3] = {{prefix, prefixLen},
                        {const_cast<void*>(bits), size_t(bitsSize)},
                        {const_cast<uint8_t*>(&kPad), 1}};
        const int count = (bitsSize & 1) ? 3 : 2;
        if (!WriteAll(out->file, iov, count, int64_t(out->pos))) return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));

        if (!out->riffOpen) {
            out->riffOpen = true;
            out->riffNumber += 1;
            out->riffStart = out->pos;
            out->moviStart = out->pos + 12;
            out->riffFrames = 0;
        }
        out->pos += prefixLen - 8 + out->chunkSize;
        out->riffFrames += 1;
        out->nextFrame += 1;
        out->StartWriteback();
        return AVIERR_OK;
    } catch (...) {
        return out->Fail(AVIERR_MEMORY, CurrentExceptionText(ErrnoText(ENOMEM)));
    }
}

namespace {

// Writes the chunk of place `index` (header, pixels, pad byte) where the finished file has it.
int32_t WritePlaced(AviOutput* out, int32_t index, const void* bits) {
    uint64_t riff = 0;
    const uint64_t at = out->ChunkPos(uint64_t(index), &riff);
    // RIFF number r takes super index entry r.
    if (riff + 1 > out->indexCapacity)
        return out->Fail(AVIERR_FILEWRITE, "the AVI file has reached its largest possible size");
    const uint32_t chunkHead[2] = {FourCC("00db"), uint32_t(out->frameSize)};
    static const uint8_t kPad = 0;
    iovec iov[3] = {{const_cast<uint32_t*>(chunkHead), sizeof chunkHead},
                    {const_cast<void*>(bits), size_t(out->frameSize)},
                    {const_cast<uint8_t*>(&kPad), 1}};
    const int count = (out->frameSize & 1) ? 3 : 2;
    if (!WriteAll(out->file, iov, count, int64_t(at))) return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));
    out->placedBytes += out->chunkSize;
    if (out->placedBytes >= (32u << 20)) {
        // As the append path: hand what is written to the disk now rather than in one go later.
        sync_file_range(out->file, 0, 0, SYNC_FILE_RANGE_WRITE);
        out->placedBytes = 0;
    }
    return AVIERR_OK;
}

}  // namespace

int32_t AviOutputPutFrame(AviOutput* out, int32_t index, const void* bits, int32_t bitsSize,
                          const BITMAPINFOHEADER* header) {
    if (!out) return AVIERR_BADHANDLE;
    if (out->failed) return AVIERR_ERROR;
    if (!bits || bitsSize <= 0 || index < 0 || index == INT32_MAX)
        return out->Fail(AVIERR_BADPARAM, "no pixel data or no place for the frame");
    if (out->videoStream && !out->placed) return out->Fail(AVIERR_BADPARAM, "frames are appended to this file");
    try {
        if (!out->videoStream) {
            if (const int32_t code = BeginStream(out, bitsSize, header); code != AVIERR_OK) return code;
            out->placed = true;
        } else if (bitsSize != out->frameSize) {
            return out->Fail(AVIERR_BADSIZE, "frame size differs from the first frame's");
        }
        return WritePlaced(out, index, bits);
    } catch (...) {
        return out->Fail(AVIERR_MEMORY, CurrentExceptionText(ErrnoText(ENOMEM)));
    }
}

int32_t AviOutputMoveFrame(AviOutput* out, int32_t from, int32_t to) {
    if (!out) return AVIERR_BADHANDLE;
    if (out->failed) return AVIERR_ERROR;
    if (!out->placed || from < 0 || to < 0) return out->Fail(AVIERR_BADPARAM, "no frame in that place");
    if (from == to) return AVIERR_OK;
    try {
        out->moveBuffer.resize(size_t(out->frameSize));
        uint64_t riff = 0;
        const uint64_t at = out->ChunkPos(uint64_t(from), &riff) + 8;
        size_t got = 0;
        while (got < out->moveBuffer.size()) {
            const ssize_t n = pread(out->file, out->moveBuffer.data() + got, out->moveBuffer.size() - got,
                                    off_t(at + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return out->Fail(AVIERR_FILEWRITE, n < 0 ? ErrnoText(errno) : "a frame was cut short");
            got += size_t(n);
        }
        return WritePlaced(out, to, out->moveBuffer.data());
    } catch (...) {
        return out->Fail(AVIERR_MEMORY, CurrentExceptionText(ErrnoText(ENOMEM)));
    }
}

int32_t AviOutputKeepFrames(AviOutput* out, int32_t count) {
    if (!out) return AVIERR_BADHANDLE;
    if (!out->placed || count <= 0) return AVIERR_OK;
    // The state the append path has after `count` frames: every RIFF before the last finished with its
    // indices (these places may hold later frames, which the indices now cover), the last one open.
    uint64_t left = uint64_t(count);
    out->superIndex.clear();
    for (uint64_t r = 0; left > 0; ++r) {
        const uint64_t capacity = r == 0 ? out->firstRiffCapacity : out->nextRiffCapacity;
        const uint64_t frames = std::min(left, capacity);
        left -= frames;
        out->riffNumber = int(r);
        out->riffStart = r == 0 ? 0 : out->RiffStart(r);
        out->moviStart = r == 0 ? out->headerSize - 12 : out->riffStart + 12;
        out->riffFrames = uint32_t(frames);
        out->pos = out->moviStart + 12 + frames * out->chunkSize;
        out->riffOpen = true;
        if (r > 0) {
            const uint32_t head[6] = {FourCC("RIFF"), 0, FourCC("AVIX"), FourCC("LIST"), 0, FourCC("movi")};
            if (!WriteAll(out->file, head, sizeof head, int64_t(out->riffStart)))
                return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));
        }
        if (left > 0 && !out->FinishRiff(true)) return out->Fail(AVIERR_FILEWRITE, ErrnoText(errno));
    }
    out->nextFrame = count;
    out->placed = false;  // from here on the file is as the append path leaves it
    return AVIERR_OK;
}

namespace {

// Writes what close must write. False with *reason set when the file could not be finished.
bool Finish(AviOutput* out, std::string* reason) {
    if (!out->videoStream) {
        // No frame came: a valid AVI without streams.
        Bytes b;
        b.Tag("RIFF");
        b.U32(100);
        b.Tag("AVI ");
        b.Tag("LIST");
        b.U32(4 + 8 + kAvihSize);
        b.Tag("hdrl");
        b.Tag("avih");
        b.U32(kAvihSize);
        b.U32(Clamp32(uint64_t(out->framePeriod) * 1000));
        b.U32(0);
        b.U32(0);
        b.U32(kAvifHasIndex);
        b.Zeros(kAvihSize - 16);
        b.Tag("LIST");
        b.U32(4);
        b.Tag("movi");
        b.Tag("idx1");
        b.U32(0);
        if (ftruncate(out->file, 0) != 0 || !WriteAll(out->file, b.Data(), b.Size(), 0)) {
            *reason = ErrnoText(errno);
            return false;
        }
        return true;
    }

    // Drop whatever a failed write left past the last whole frame, then close the open RIFF. When the
    // file system is full, give up trailing frames until the indices fit.
    uint32_t dropped = 0;
    for (;;) {
        if (ftruncate(out->file, off_t(out->pos)) != 0) {
            *reason = ErrnoText(errno);
            return false;
        }
        if (!out->riffOpen) break;
        const bool multi = !out->superIndex.empty();
        if (out->FinishRiff(multi)) break;
        const int err = errno;
        if ((err != ENOSPC && err != EFBIG && err != EDQUOT) || out->riffFrames == 0) {
            *reason = ErrnoText(err);
            return false;
        }
        out->riffFrames -= 1;
        out->nextFrame -= 1;
        out->pos -= out->chunkSize;
        dropped += 1;
        if (out->riffFrames == 0 && out->riffNumber > 0) {
            // The AVIX list holds nothing more: remove its header too.
            out->pos = out->riffStart;
            out->riffOpen = false;
        }
    }

    Bytes b;
    out->BuildHeader(b);
    if (!WriteAll(out->file, b.Data(), b.Size(), 0)) {
        *reason = ErrnoText(errno);
        return false;
    }
    if (dropped) {
        *reason = "the last " + std::to_string(dropped) + " frames were given up to make room for the index";
        return false;
    }
    return true;
}

}  // namespace

int32_t AviOutputClose(AviOutput* out) { return AviOutputClose(out, nullptr); }

int32_t AviOutputClose(AviOutput* out, std::string* error) { return AviOutputClose(out, error, nullptr); }

int32_t AviOutputClose(AviOutput* out, std::string* error, bool* made) {
    if (made) *made = false;
    if (!out) return AVIERR_BADHANDLE;
    std::string reason;
    bool ok = false;
    try {
        ok = Finish(out, &reason);
    } catch (...) {
        reason = CurrentExceptionText(ErrnoText(ENOMEM));
    }
    // The file is on the disk, with a replaced file's permission bits, before its name is.
    if (ok && (!KeepPermissions(out->file, out->targetPath) || fsync(out->file) != 0)) {
        ok = false;
        reason = ErrnoText(errno);
    }
    if (close(out->file) != 0 && ok) {
        ok = false;
        reason = ErrnoText(errno);
    }
    out->file = -1;
    if (!ok && out->replacing) {
        // A file that was there stays as it was rather than give way to an unfinished one.
        unlink(out->tempPath.c_str());
        if (error) *error = reason.empty() ? std::string("the file could not be finished") : reason;
        delete out;
        return AVIERR_FILEWRITE;
    }
    // What was written stays: the frames before a failure are the caller's result.
    if (rename(out->tempPath.c_str(), out->targetPath.c_str()) != 0) {
        const int err = errno;
        reason = (reason.empty() ? "" : reason + "; ") + "cannot rename " + out->tempPath + ": " + ErrnoText(err);
        unlink(out->tempPath.c_str());
        ok = false;
    } else {
        if (made) *made = true;
        if (ok && !SyncFolderOf(out->targetPath)) {
            ok = false;
            reason = ErrnoText(errno);
        }
    }
    if (error) *error = reason;
    delete out;
    return ok ? AVIERR_OK : AVIERR_FILEWRITE;
}

bool AviOutputReplaces(const AviOutput* out) { return out && out->replacing; }

void AviOutputDiscard(AviOutput* out) {
    if (!out) return;
    if (out->file >= 0) close(out->file);
    out->file = -1;
    unlink(out->tempPath.c_str());
    delete out;
}

const char* AviOutputLastError(const AviOutput* out) { return out ? out->lastError.c_str() : ""; }

int32_t AviOutputFrameCount(const AviOutput* out) { return out ? out->nextFrame : 0; }

void AviOutputSetRiffLimit(AviOutput* out, uint64_t bytes) {
    if (out) out->riffLimit = std::clamp(bytes, kMinRiffLimit, kAviDefaultRiffLimit);
}

void AviOutputSetIndexCapacity(AviOutput* out, uint32_t riffCount) {
    if (out && !out->videoStream) out->indexCapacity = std::clamp<uint32_t>(riffCount, 1, 1u << 20);
}
