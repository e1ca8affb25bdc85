// Files for tests: temporary folders, whole-file reads and writes, a content hash and file times.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// sub-folders included) when the object goes. path() is empty when it could not be made.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tessaron-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

private:
    std::string m_path;
};

// Little-endian numbers in file bytes.
inline uint16_t Le16(const Bytes& d, size_t at) { return uint16_t(d[at] | d[at + 1] << 8); }
inline uint32_t Le32(const Bytes& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24;
}

// One temporary folder for the whole test program, removed when it ends.
const std::string& ScratchDir();
std::string Scratch(const std::string& name);

// The whole file; empty when it cannot be read.
Bytes ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
// Replaces the file's content; false when it could not be written.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
// 64-bit FNV-1a of a file's bytes (0 for a missing file); enough to see that a file did not change.
uint64_t FileHash(const std::string& path);

// The names of the entries of a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir);

// The file's modification time ({0, 0} when it has none), and whether two times are the same.
timespec ModificationTime(const std::string& path);
bool SameTime(const timespec& a, const timespec& b);

}  // namespace testsupport
