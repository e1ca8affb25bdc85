// Files are written under a temporary name beside their target and renamed over it when complete, so
// a target is never seen half-written and one still being read keeps its old contents until then.
#pragma once

#include <string>

// The path a write should replace: the target of a symbolic link, so that the link itself survives.
std::string ResolveWriteTarget(const std::string& path);

// Creates a fresh file beside target, named "<target>.<random>.part", open for reading and writing (the umask
// applies as usual). Returns its descriptor and its name in *tempPath, or -1 with errno set.
int CreateTempBeside(const std::string& target, std::string* tempPath);
