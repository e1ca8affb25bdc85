#include "video/FrameBitmap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fileio/OutputCheck.h"
#include "fileio/TempFile.h"
#include "fileio/WriteAll.h"
#include "video/ExceptionText.h"

static_assert(std::endian::native == std::endian::little, "the file header is written as little-endian bytes");

FrameBitmap sharedFrameBitmap;

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

FrameBitmap::~FrameBitmap() {
    if (block && ownsBlock) std::free(block);
}

bool FrameBitmap::Attach(void* newBlock, int32_t newLength) {
    block = static_cast<uint8_t*>(newBlock);
    header = reinterpret_cast<BITMAPINFOHEADER*>(block);
    colourTable = block ? reinterpret_cast<RGBQUAD*>(block + kDibHeaderSize) : nullptr;
    blockLength = newLength;
    colourCount = 0;
    palette.clear();

    // The header is read only when the block is long enough to hold it, and the colour table is cut to
    // what the block holds, so a short or inconsistent block is never read past its end.
    if (block && newLength >= kDibHeaderSize) {
        BITMAPINFOHEADER h;
        std::memcpy(&h, block, sizeof h);
        int64_t count = 0;
        if (h.biBitCount <= 8) count = h.biClrUsed ? int64_t(h.biClrUsed) : int64_t(1) << h.biBitCount;
        const int64_t room = (int64_t(newLength) - kDibHeaderSize) / 4;
        colourCount = int32_t(count < room ? count : room);
    }
    bits = block ? block + kDibHeaderSize + 4 * int64_t(colourCount) : nullptr;

    if (colourCount > 0) {
        try {
            palette.reserve(size_t(colourCount));
            const uint8_t* entry = block + kDibHeaderSize;
            for (int32_t i = 0; i < colourCount; ++i, entry += 4)
                palette.push_back(0xFF000000u | uint32_t(entry[2]) << 16 | uint32_t(entry[1]) << 8 |
                                  entry[0]);  // table: B, G, R
        } catch (...) {
            palette.clear();  // no memory for the colour table: go on without one
        }
    }
    return true;
}

bool FrameBitmap::SaveAsBmp(const char* path) {
    try {
        lastSaveError.clear();
        if (!block) {
            lastSaveError = "no frame to save";
            return false;
        }
        if (!path || !*path || blockLength < 0) {
            lastSaveError = std::strerror(EINVAL);
            return false;
        }
        const std::string target = ResolveWriteTarget(path);
        struct stat st {};
        if (stat(target.c_str(), &st) == 0) {
            // Replacing must be refused where overwriting in place would be.
            const int err = S_ISDIR(st.st_mode)                                          ? EISDIR
                            : faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 ? errno
                                                                                         : 0;
            if (err) {
                lastSaveError = std::strerror(err);
                return false;
            }
        }

        std::string temp;
        const int fd = CreateTempBeside(target, &temp);
        if (fd < 0) {
            lastSaveError = std::strerror(errno);
            return false;
        }

        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;  // "BM"
        fh.bfSize = uint32_t(blockLength) + sizeof fh;
        fh.bfOffBits = uint32_t(4 * colourCount + sizeof fh + kDibHeaderSize);
        iovec iov[2] = {{&fh, sizeof fh}, {block, size_t(blockLength)}};

        bool ok = WriteAll(fd, iov, 2) && KeepPermissions(fd, target) && fsync(fd) == 0;
        int err = ok ? 0 : errno;
        if (close(fd) != 0 && ok) {
            ok = false;
            err = errno;
        }
        if (ok && rename(temp.c_str(), target.c_str()) != 0) {
            ok = false;
            err = errno;
        }
        if (!ok) {
            unlink(temp.c_str());
            lastSaveError = std::strerror(err);
            return false;
        }
        // Make the new name durable as well.
        const int dir = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        return true;
    } catch (...) {
        lastSaveError = CurrentExceptionText(std::strerror(ENOMEM));
        return false;
    }
}
