#include "fileio/TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

std::string ResolveWriteTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            return r;
        }
    }
    return path;
}

int CreateTempBeside(const std::string& target, std::string* tempPath) {
    std::random_device rd;
    std::mt19937 gen(rd());
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // A name at the file system's length limit leaves no room for the suffix: use a short one then.
    const size_t slash = target.rfind('/');
    const std::string stem = target.size() - (slash == std::string::npos ? 0 : slash + 1) > 200
                                 ? target.substr(0, slash == std::string::npos ? 0 : slash + 1) + "tessaron"
                                 : target;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = stem + ".";
        for (int i = 0; i < 6; ++i) name += kChars[gen() % (sizeof(kChars) - 1)];
        name += ".part";
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *tempPath = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}
