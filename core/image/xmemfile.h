// Growable byte stream in one heap block. Growth is by whole 4096-byte steps (realloc), so an
// encoded frame of n bytes costs about n / 4096 reallocations.
#pragma once

#include "image/xfile.h"

class CxMemStream : public CxStream {
public:
    static constexpr int32_t kGrowStep = 4096;

    // With a buffer: reads and writes over the caller's size bytes; the caller keeps the block.
    // Without one: the stream owns a fresh zero-filled block of size bytes.
    explicit CxMemStream(uint8_t* buffer = nullptr, uint32_t size = 0);
    ~CxMemStream() override;

    bool Close() override;
    size_t Read(void* buffer, size_t elementSize, size_t count) override;
    size_t Write(const void* buffer, size_t elementSize, size_t count) override;
    bool Seek(int32_t offset, int origin) override;
    int32_t Tell() const override;
    int32_t Size() const override;
    bool Flush() override;
    bool AtEnd() const override;
    int32_t HasError() const override;
    bool PutByte(uint8_t c) override;
    int32_t GetByte() override;

    // The block; with detach the stream stops owning it and the caller frees it with std::free.
    uint8_t* GetBuffer(bool detach = true);
    int32_t Capacity() const { return m_capacity; }
    bool OwnsBuffer() const { return m_ownsBuffer; }

private:
    bool Reserve(int64_t needed);

    uint8_t* m_buffer = nullptr;
    int32_t m_dataSize = 0;  // highest position ever written, or the size given at construction
    bool m_ownsBuffer = false;
    int32_t m_position = 0;
    int32_t m_capacity = 0;  // bytes allocated
};
