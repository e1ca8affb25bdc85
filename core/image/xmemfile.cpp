#include "image/xmemfile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// elementSize * count without wrapping; false when the product does not fit.
bool ByteCount(size_t elementSize, size_t count, size_t& bytes) {
    if (elementSize != 0 && count > SIZE_MAX / elementSize) return false;
    bytes = elementSize * count;
    return true;
}

}  // namespace

CxMemStream::CxMemStream(uint8_t* buffer, uint32_t size) {
    // Positions are signed 32-bit: a larger block cannot be addressed anyway.
    const int32_t usable = static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX));
    if (buffer) {
        m_buffer = buffer;
        m_ownsBuffer = false;
    } else {
        // Zero-filled, so that reading a stream nobody wrote never exposes stale heap bytes.
        m_buffer = static_cast<uint8_t*>(std::calloc(usable > 0 ? usable : 1, 1));
        m_ownsBuffer = true;
    }
    if (m_buffer) {
        m_dataSize = usable;
        m_capacity = usable;
    }
}

CxMemStream::~CxMemStream() { Close(); }

bool CxMemStream::Close() {
    if (m_ownsBuffer) std::free(m_buffer);
    m_buffer = nullptr;
    m_ownsBuffer = false;
    m_dataSize = 0;
    m_position = 0;
    m_capacity = 0;
    return true;
}

bool CxMemStream::Reserve(int64_t needed) {
    if (needed <= m_capacity) return true;
    const int64_t steps = (needed - m_capacity + kGrowStep - 1) / kGrowStep;
    const int64_t newCapacity = m_capacity + steps * kGrowStep;
    if (newCapacity > INT32_MAX) return false;
    uint8_t* grown;
    if (m_ownsBuffer) {
        grown = static_cast<uint8_t*>(std::realloc(m_buffer, static_cast<size_t>(newCapacity)));
        if (!grown) return false;  // the old block stays valid and owned
    } else {
        // Never realloc a block the caller owns: move the contents into one of our own.
        grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(newCapacity)));
        if (!grown) return false;
        if (m_buffer && m_dataSize > 0) std::memcpy(grown, m_buffer, static_cast<size_t>(m_dataSize));
    }
    m_buffer = grown;
    m_ownsBuffer = true;
    m_capacity = static_cast<int32_t>(newCapacity);
    return true;
}

size_t CxMemStream::Write(const void* buffer, size_t elementSize, size_t count) {
    size_t bytes = 0;
    if (!m_buffer || !buffer || !ByteCount(elementSize, count, bytes) || bytes == 0) return 0;
    if (bytes > static_cast<size_t>(INT32_MAX)) return 0;
    const int64_t end = int64_t(m_position) + int64_t(bytes);
    if (end > INT32_MAX || !Reserve(end)) return 0;
    if (m_position > m_dataSize)  // a seek past the end leaves a gap: fill it
        std::memset(m_buffer + m_dataSize, 0, static_cast<size_t>(m_position - m_dataSize));
    std::memcpy(m_buffer + m_position, buffer, bytes);
    m_position = static_cast<int32_t>(end);
    if (m_position > m_dataSize) m_dataSize = m_position;
    return count;
}

size_t CxMemStream::Read(void* buffer, size_t elementSize, size_t count) {
    size_t bytes = 0;
    if (!m_buffer || !buffer || elementSize == 0 || m_position >= m_dataSize) return 0;
    if (!ByteCount(elementSize, count, bytes)) bytes = SIZE_MAX;
    const size_t available = static_cast<size_t>(m_dataSize - m_position);
    const size_t got = std::min(bytes, available);
    std::memcpy(buffer, m_buffer + m_position, got);
    m_position += static_cast<int32_t>(got);
    return got / elementSize;
}

bool CxMemStream::Seek(int32_t offset, int origin) {
    if (!m_buffer) return false;
    int64_t base;
    switch (origin) {
    case kSeekSet: base = 0; break;
    case kSeekCur: base = m_position; break;
    case kSeekEnd: base = m_dataSize; break;
    default: return false;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return false;
    m_position = static_cast<int32_t>(target);
    return true;
}

int32_t CxMemStream::Tell() const { return m_buffer ? m_position : -1; }

int32_t CxMemStream::Size() const { return m_buffer ? m_dataSize : -1; }

bool CxMemStream::Flush() { return m_buffer != nullptr; }

bool CxMemStream::AtEnd() const { return !m_buffer || m_position >= m_dataSize; }

int32_t CxMemStream::HasError() const {
    if (!m_buffer) return -1;
    return m_position > m_dataSize ? 1 : 0;
}

bool CxMemStream::PutByte(uint8_t c) { return Write(&c, 1, 1) == 1; }

int32_t CxMemStream::GetByte() {
    if (!m_buffer || m_position >= m_dataSize) return -1;
    return m_buffer[m_position++];
}

uint8_t* CxMemStream::GetBuffer(bool detach) {
    if (detach) m_ownsBuffer = false;
    return m_buffer;
}
