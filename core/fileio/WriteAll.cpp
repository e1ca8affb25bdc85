#include "fileio/WriteAll.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, iovec* iov, int count, int64_t offset) {
    while (count > 0) {
        const ssize_t n = offset >= 0 ? pwritev(fd, iov, count, off_t(offset)) : writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        if (offset >= 0) offset += n;
        size_t done = size_t(n);
        while (count > 0 && done >= iov->iov_len) {
            done -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + done;
            iov->iov_len -= done;
        }
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size, int64_t offset) {
    iovec piece{const_cast<void*>(data), size};
    return WriteAll(fd, &piece, 1, offset);
}
