// Random-access byte sources for RIFF parsing: a file read with pread, or bytes in memory. Both
// answer the same two questions, so every line of parsing is shared between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Size fixed when the source was opened; every read is checked against it.
    virtual uint64_t Size() const = 0;
    // Copies len bytes at offset into dst. False when any of them lies beyond Size() or the read fails.
    virtual bool ReadAt(uint64_t offset, void* dst, size_t len) const = 0;
    // Direct pointer to len bytes at offset when the source holds them in memory, else null.
    virtual const uint8_t* View(uint64_t offset, size_t len) const = 0;

    // True when [offset, offset + len) lies inside the source (no overflow).
    bool Contains(uint64_t offset, uint64_t len) const {
        const uint64_t size = Size();
        return offset <= size && len <= size - offset;
    }
};

// Opens path read-only. Null on failure, with the reason in *error when given.
std::unique_ptr<ByteSource> OpenFileByteSource(const char* path, std::string* error);
// Wraps data (which must outlive the source) without copying.
std::unique_ptr<ByteSource> MakeMemoryByteSource(const uint8_t* data, size_t size);

// Little-endian helpers over a byte pointer; callers have checked the bounds.
inline uint16_t ReadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t ReadLE64(const uint8_t* p) { return uint64_t(ReadLE32(p)) | (uint64_t(ReadLE32(p + 4)) << 32); }

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
constexpr uint32_t FourCC(const char (&s)[5]) { return MakeFourCC(s[0], s[1], s[2], s[3]); }

// One chunk header: id and declared size, and where the chunk's data starts.
struct RiffChunk {
    uint64_t offset = 0;  // of the 8-byte header
    uint32_t id = 0;
    uint32_t size = 0;  // declared data size (may claim more than the file holds)
    uint64_t DataOffset() const { return offset + 8; }
    // Where the next chunk starts: data is padded to an even size.
    uint64_t NextOffset() const { return offset + 8 + uint64_t(size) + (size & 1u); }
    // End of the data as declared, never beyond limit.
    uint64_t DataEnd(uint64_t limit) const {
        const uint64_t end = offset + 8 + uint64_t(size);
        return end < limit ? end : limit;
    }
};

// Reads the chunk header at offset if it lies wholly before limit (and inside the source).
bool ReadChunkHeader(const ByteSource& src, uint64_t offset, uint64_t limit, RiffChunk* chunk);
