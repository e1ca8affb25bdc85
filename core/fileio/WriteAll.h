// The one loop every writer uses to put bytes into a file: it carries on after a signal and after a
// short write, so a caller either has all its bytes written or an error.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

// Writes the count pieces of iov, at offset when it is 0 or more (the file position is left alone),
// else at the file position. iov is used up as it goes. False with errno set when the file took no more.
bool WriteAll(int fd, iovec* iov, int count, int64_t offset = -1);
bool WriteAll(int fd, const void* data, size_t size, int64_t offset = -1);
