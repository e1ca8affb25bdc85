// Picture indexes kept between runs under $XDG_CACHE_HOME/tessaron/ (~/.cache/tessaron/), never
// beside the video, and for the process's life in memory, so a file is indexed once. An entry
// belongs to one file as it is now: its real path, size, modification time and inode; a changed
// file is indexed again. The folder is kept under 256 MB (oldest entries go first); a damaged or
// foreign entry is ignored and replaced. TESSARON_INDEX_CACHE=0 turns the folder off (the process
// still keeps what it indexed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "video/MediaIndex.h"

// What identifies one stream of one file as it is now; empty when the file cannot be examined.
std::string IndexCacheKey(const char* path, int stream);

// The cached index for key, or null.
std::shared_ptr<const MediaIndex> FindCachedIndex(const std::string& key);
// Keeps index for key (in memory, and on disk when the folder can be written).
void StoreIndex(const std::string& key, const std::shared_ptr<const MediaIndex>& index);

// The folder entries go to; empty when the cache is off or no folder is known.
std::string IndexCacheFolder();
// Largest total size of the folder's entries, in bytes.
constexpr int64_t kIndexCacheLimit = 256ll * 1024 * 1024;
// Forgets the entries kept in memory (tests: the next open reads the disk).
void ForgetIndexesInMemory();
