#include "video/MediaIndexCache.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio/WriteAll.h"

namespace {

constexpr size_t kMemoryEntries = 8;
constexpr const char* kPrefix = "index-";
constexpr const char* kSuffix = ".tsx";
constexpr size_t kMaxEntryBytes = 1024u * 1024 * 1024;

bool CacheOn() {
    const char* env = std::getenv("TESSARON_INDEX_CACHE");
    return !(env && std::strcmp(env, "0") == 0);
}

std::mutex& MemoryMutex() {
    static std::mutex m;
    return m;
}

// Most recently used first.
std::list<std::pair<std::string, std::shared_ptr<const MediaIndex>>>& Memory() {
    static std::list<std::pair<std::string, std::shared_ptr<const MediaIndex>>> entries;
    return entries;
}

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= uint8_t(c);
        h *= 1099511628211ull;
    }
    return h;
}

std::string EntryPath(const std::string& folder, const std::string& key) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%016llx%s", kPrefix, static_cast<unsigned long long>(Fnv1a(key)), kSuffix);
    return folder + "/" + name;
}

bool MakeFolder(const std::string& folder) {
    // Each level, so a missing ~/.cache is made too.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= kMaxEntryBytes;
    if (ok) {
        try {
            out->resize(size_t(st.st_size));
        } catch (...) {
            ok = false;
        }
    }
    size_t done = 0;
    while (ok && done < out->size()) {
        const ssize_t n = ::read(fd, out->data() + done, out->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += size_t(n);
    }
    ::close(fd);
    return ok;
}

void PruneFolder(const std::string& folder) {
    struct Entry {
        std::string path;
        int64_t size;
        int64_t mtime;
    };
    std::vector<Entry> entries;
    int64_t total = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    try {
        while (const dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name.rfind(kPrefix, 0) != 0 || name.size() < std::strlen(kSuffix) ||
                name.compare(name.size() - std::strlen(kSuffix), std::string::npos, kSuffix) != 0)
                continue;
            struct stat st {};
            const std::string path = folder + "/" + name;
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            entries.push_back(
                {path, int64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
            total += int64_t(st.st_size);
        }
    } catch (...) {
    }
    ::closedir(dir);
    if (total <= kIndexCacheLimit) return;
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.mtime < b.mtime; });
    for (const Entry& e : entries) {
        if (total <= kIndexCacheLimit) break;
        if (::unlink(e.path.c_str()) == 0) total -= e.size;
    }
}

void KeepInMemory(const std::string& key, const std::shared_ptr<const MediaIndex>& index) {
    std::lock_guard<std::mutex> lock(MemoryMutex());
    auto& entries = Memory();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->first == key) {
            entries.erase(it);
            break;
        }
    }
    entries.emplace_front(key, index);
    while (entries.size() > kMemoryEntries) entries.pop_back();
}

}  // namespace

std::string IndexCacheKey(const char* path, int stream) {
    if (!path) return {};
    char real[PATH_MAX];
    if (!::realpath(path, real)) return {};
    struct stat st {};
    if (::stat(real, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    char tail[160];
    std::snprintf(tail, sizeof tail, "\nsize=%lld\nmtime=%lld.%09ld\ninode=%llu:%llu\nstream=%d", (long long)st.st_size,
                  (long long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec, (unsigned long long)st.st_dev,
                  (unsigned long long)st.st_ino, stream);
    return std::string(real) + tail;
}

std::string IndexCacheFolder() {
    if (!CacheOn()) return {};
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/tessaron";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/tessaron";
    return {};
}

std::shared_ptr<const MediaIndex> FindCachedIndex(const std::string& key) {
    if (key.empty()) return nullptr;
    {
        std::lock_guard<std::mutex> lock(MemoryMutex());
        for (auto& e : Memory())
            if (e.first == key) return e.second;
    }
    const std::string folder = IndexCacheFolder();
    if (folder.empty()) return nullptr;
    const std::string path = EntryPath(folder, key);
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) return nullptr;
    // An entry: the key's length (4 bytes), the key, then the index.
    if (bytes.size() < 4) return nullptr;
    uint32_t keyLength = 0;
    for (int i = 0; i < 4; ++i) keyLength |= uint32_t(uint8_t(bytes[size_t(i)])) << (8 * i);
    if (keyLength != key.size() || bytes.size() < 4 + size_t(keyLength) || bytes.compare(4, keyLength, key) != 0)
        return nullptr;
    auto index = std::make_shared<MediaIndex>();
    if (!MediaIndex::Parse(bytes.substr(4 + keyLength), index.get())) return nullptr;
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);  // recently used: pruned last
    KeepInMemory(key, index);
    return index;
}

void StoreIndex(const std::string& key, const std::shared_ptr<const MediaIndex>& index) {
    if (key.empty() || !index) return;
    KeepInMemory(key, index);
    const std::string folder = IndexCacheFolder();
    if (folder.empty() || !MakeFolder(folder)) return;
    try {
        std::string bytes;
        for (int i = 0; i < 4; ++i) bytes.push_back(char(uint32_t(key.size()) >> (8 * i)));
        bytes += key;
        bytes += index->Serialize();
        const std::string path = EntryPath(folder, key);
        const std::string temp = path + ".tmp" + std::to_string(::getpid());
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return;
        const bool written = WriteAll(fd, bytes.data(), bytes.size());
        if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
            ::unlink(temp.c_str());
            return;
        }
        PruneFolder(folder);
    } catch (...) {
    }
}

void ForgetIndexesInMemory() {
    std::lock_guard<std::mutex> lock(MemoryMutex());
    Memory().clear();
}
