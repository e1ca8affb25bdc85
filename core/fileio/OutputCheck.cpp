#include "fileio/OutputCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

std::string FileKindText(mode_t mode) {
    if (S_ISREG(mode)) return std::string();
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

namespace {

// The system's text for a failed stat, with a symbolic link loop called what it is.
std::string StatErrorText(int err) {
    if (err == ENOENT) return "no such file";
    if (err == ELOOP) return "is a symbolic link loop";
    if (err == ENAMETOOLONG) return "the name is longer than the file system takes";
    return std::strerror(err);
}

}  // namespace

std::string InputFileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return StatErrorText(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory";
    if (!S_ISREG(st.st_mode)) return "is " + FileKindText(st.st_mode) + ", not a regular file";
    return std::string();
}

std::string FolderOfPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string OutputPathProblem(const std::string& path, const std::string& source, bool replace) {
    if (path.empty()) return "no output file name";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) {
            const int err = errno;
            if (err == ELOOP) return path + " is a symbolic link loop";
            if (err != ENOENT) return path + ": " + StatErrorText(err);
            // A link to nothing: the write makes its target.
        } else {
            struct stat src {};
            if (!source.empty() && ::stat(source.c_str(), &src) == 0 && src.st_dev == st.st_dev &&
                src.st_ino == st.st_ino)
                return path + " is the video being read; choose another output file";
            if (S_ISDIR(st.st_mode)) return path + " is a directory";
            if (!S_ISREG(st.st_mode)) return path + " is " + FileKindText(st.st_mode) + ", not a regular file";
            if (!replace) return path + " exists; use --force to replace it";
            return std::string();
        }
    } else if (errno != ENOENT && errno != ENAMETOOLONG) {
        return "cannot create " + path + ": " + StatErrorText(errno);
    }
    // A new file: its folder must be there, and its name short enough.
    const std::string folder = FolderOfPath(path);
    if (::stat(folder.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT) return "cannot create " + path + ": the folder " + folder + " does not exist";
        return "cannot create " + path + ": the folder " + folder + ": " + StatErrorText(err);
    }
    if (!S_ISDIR(st.st_mode)) return "cannot create " + path + ": " + folder + " is not a folder";
    const size_t slash = path.rfind('/');
    const size_t nameBytes = path.size() - (slash == std::string::npos ? 0 : slash + 1);
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    if (nameBytes > size_t(nameMax))
        return "cannot create " + path + ": the name is " + std::to_string(nameBytes) +
               " bytes long; the file system takes at most " + std::to_string(nameMax);
    return std::string();
}

bool KeepPermissions(int fd, const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
    return ::fchmod(fd, st.st_mode & 07777) == 0;
}

bool SyncFolderOf(const std::string& path) {
    const int dir = ::open(FolderOfPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const bool ok = ::fsync(dir) == 0;
    const int err = errno;
    ::close(dir);
    errno = err;
    return ok;
}
