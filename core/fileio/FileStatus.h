// A file's status by path: its times, size and name. Writing the status back sets the times, so a file
// the program writes can carry the modification time of the file it came from.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct CFileStatus {
    timespec m_ctime{};  // status change (there is no creation time here)
    timespec m_mtime{};  // last modification
    timespec m_atime{};  // last access
    int64_t m_size = 0;
    uint8_t m_attribute = 0;  // 0x01 when the file is read-only for its owner
    std::string m_szFullName;

    // Reads the status of the file at path (UTF-8), opened read-only. False with the reason in *error.
    static bool GetStatus(const char* path, CFileStatus* status, std::string* error = nullptr);
    // Sets the access and modification times of the file at path. False with the reason in *error.
    static bool SetStatus(const char* path, const CFileStatus& status, std::string* error = nullptr);
};
