// Checks made before anything is written or decoded: whether a path can take a new or replaced file,
// and what kind of file a path names. Also the last steps of replacing a file with a temporary one.
#pragma once

#include <sys/types.h>

#include <string>

// "a FIFO (named pipe)", "a directory", "a character device", ... for a st_mode that is not a regular
// file; empty for a regular file.
std::string FileKindText(mode_t mode);

// Why a regular file could not be read from path, in a few words naming no file ("no such file",
// "is a symbolic link loop", "is a FIFO (named pipe), not a regular file", ...); empty when it is a regular
// file. Nothing is opened, so a FIFO never blocks.
std::string InputFileProblem(const std::string& path);

// Why path cannot take the output, naming it: the video being read (by any path: symbolic link, hard
// link, ".."), an existing file without replace, anything but a regular file, a symbolic link loop, a
// missing folder, a name longer than the file system takes. Empty when the write may start.
std::string OutputPathProblem(const std::string& path, const std::string& source, bool replace);

// The folder part of path ("." without a slash).
std::string FolderOfPath(const std::string& path);

// Gives the open file fd the permission bits of the file at target, when there is one (a replaced file
// keeps them). False with errno set when that failed.
bool KeepPermissions(int fd, const std::string& target);

// Flushes the folder of path to disk, so that a rename in it lasts. False with errno set.
bool SyncFolderOf(const std::string& path);
