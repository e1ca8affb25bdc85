// Our own AVI (RIFF) reader: AVI 1.0 idx1 and OpenDML indx/ix##/AVIX indices, files without an index
// (movi scanned), uncompressed BI_RGB video at 8 (palette), 16 (5-5-5), 24 and 32 bits, bottom-up or
// top-down. Every frame comes out as a 24-bit bottom-up frame block. Input is untrusted: every size and
// offset is checked against the file before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class AviReader {
public:
    virtual ~AviReader() = default;

    // Opens the file's first video stream. Null on failure, with the reason in *error when given.
    static std::unique_ptr<AviReader> OpenFile(const char* path, std::string* error = nullptr);
    // The same parser over bytes in memory (which must outlive the reader); used by fuzzing and tests.
    static std::unique_ptr<AviReader> OpenMemory(const uint8_t* data, size_t size, std::string* error = nullptr);

    virtual uint32_t StreamType() const = 0;  // fccType of the stream header, 'vids' as a FOURCC
    virtual uint32_t Handler() const = 0;     // fccHandler
    virtual uint32_t Rate() const = 0;        // dwRate
    virtual uint32_t Scale() const = 0;       // dwScale
    virtual uint32_t Length() const = 0;      // frames in the stream (as indexed; see the .cpp)
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;        // always positive
    virtual uint16_t BitCount() const = 0;     // of the stream format
    virtual uint32_t Compression() const = 0;  // biCompression of the stream format
    // True when frames of this stream can be decoded (an uncompressed format we understand).
    virtual bool CanDecode() const = 0;

    // Frame n as a fresh std::malloc'd 24-bit bottom-up frame block (40-byte header + rows), which the
    // caller frees with std::free; *blockSize receives its size. Null when the frame cannot be decoded
    // (out of range, missing or short data, unsupported format, failed allocation).
    virtual uint8_t* DecodeFrame(int32_t n, int32_t* blockSize) = 0;
};
