#include "fileio/FileStatus.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool CFileStatus::GetStatus(const char* path, CFileStatus* status, std::string* error) {
    if (!path || !status) {
        if (error) *error = "no file name";
        return false;
    }
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok && error) *error = std::strerror(errno);
    ::close(fd);
    if (!ok) return false;
    status->m_ctime = st.st_ctim;
    status->m_mtime = st.st_mtim;
    status->m_atime = st.st_atim;
    status->m_size = static_cast<int64_t>(st.st_size);
    status->m_attribute = (st.st_mode & S_IWUSR) ? 0 : 0x01;
    char full[PATH_MAX];
    status->m_szFullName = ::realpath(path, full) ? full : path;
    return true;
}

bool CFileStatus::SetStatus(const char* path, const CFileStatus& status, std::string* error) {
    if (!path) {
        if (error) *error = "no file name";
        return false;
    }
    const timespec times[2] = {status.m_atime, status.m_mtime};
    if (::utimensat(AT_FDCWD, path, times, 0) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    return true;
}
