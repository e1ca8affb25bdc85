// Abstract byte stream with stdio-like semantics, the common ground of the image codecs.
#pragma once

#include <cstddef>
#include <cstdint>

class CxStream {
public:
    CxStream() = default;
    CxStream(const CxStream&) = delete;
    CxStream& operator=(const CxStream&) = delete;
    virtual ~CxStream() = default;

    virtual bool Close() = 0;
    // Number of whole elements read.
    virtual size_t Read(void* buffer, size_t elementSize, size_t count) = 0;
    // count on success, 0 on failure.
    virtual size_t Write(const void* buffer, size_t elementSize, size_t count) = 0;
    // origin: 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(int32_t offset, int origin) = 0;
    virtual int32_t Tell() const = 0;  // -1 without buffer
    virtual int32_t Size() const = 0;  // -1 without buffer
    virtual bool Flush() = 0;
    virtual bool AtEnd() const = 0;
    virtual int32_t HasError() const = 0;  // nonzero on error, -1 without buffer
    virtual bool PutByte(uint8_t c) = 0;
    virtual int32_t GetByte() = 0;  // the byte, or -1 at the end
};

constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;
