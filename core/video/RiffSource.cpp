#include "video/RiffSource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileByteSource final : public ByteSource {
public:
    FileByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileByteSource() override { ::close(fd_); }
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    uint64_t Size() const override { return size_; }

    bool ReadAt(uint64_t offset, void* dst, size_t len) const override {
        if (!Contains(offset, len)) return false;
        auto* out = static_cast<uint8_t*>(dst);
        while (len > 0) {
            // pread takes off_t; Contains() keeps offset below the file size, which fits.
            const ssize_t got = ::pread(fd_, out, len, static_cast<off_t>(offset));
            if (got < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (got == 0) return false;  // the file shrank since it was opened
            out += got;
            offset += static_cast<uint64_t>(got);
            len -= static_cast<size_t>(got);
        }
        return true;
    }

    const uint8_t* View(uint64_t, size_t) const override { return nullptr; }

private:
    int fd_;
    uint64_t size_;
};

class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint64_t Size() const override { return size_; }

    bool ReadAt(uint64_t offset, void* dst, size_t len) const override {
        const uint8_t* p = View(offset, len);
        if (!p) return false;
        if (len > 0) std::memcpy(dst, p, len);
        return true;
    }

    const uint8_t* View(uint64_t offset, size_t len) const override {
        if (!Contains(offset, len) || (data_ == nullptr && size_ > 0)) return nullptr;
        return data_ + offset;
    }

private:
    const uint8_t* data_;
    uint64_t size_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileByteSource(const char* path, std::string* error) {
    auto fail = [error](const std::string& why) -> std::unique_ptr<ByteSource> {
        if (error) *error = why;
        return nullptr;
    };
    if (!path || !*path) return fail("no file name");
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(std::string("cannot open file: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return fail("not a regular file");
    }
    std::unique_ptr<ByteSource> src(new (std::nothrow) FileByteSource(fd, static_cast<uint64_t>(st.st_size)));
    if (!src) {
        ::close(fd);
        return fail("out of memory");
    }
    return src;
}

std::unique_ptr<ByteSource> MakeMemoryByteSource(const uint8_t* data, size_t size) {
    return std::unique_ptr<ByteSource>(new (std::nothrow) MemoryByteSource(data, size));
}

bool ReadChunkHeader(const ByteSource& src, uint64_t offset, uint64_t limit, RiffChunk* chunk) {
    if (offset > limit || limit - offset < 8) return false;
    uint8_t h[8];
    if (!src.ReadAt(offset, h, sizeof h)) return false;
    chunk->offset = offset;
    chunk->id = ReadLE32(h);
    chunk->size = ReadLE32(h + 4);
    return true;
}
