// Helpers shared by the tessaron-cli commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/VideoFrameReader.h"

namespace cli {

// Prints "tessaron-cli <command>: <message>" as one line on standard error; returns exit status 1.
int Fail(const std::string& command, const std::string& message);

// True when args asks for help (-h or --help anywhere).
bool WantsHelp(const std::vector<std::string>& args);

// A whole decimal integer that fits in 32 bits, nothing else.
bool ParseInt32(const std::string& text, int32_t* value);

// Shortest text that reads back as the same double.
std::string FormatDouble(double value);

// Opens path with the back end the environment selects (TESSARON_MEDIA_DETECTOR=0: our AVI reader).
// On failure *reason says why in a few words, naming no file.
bool OpenVideo(VideoFrameReader& reader, const std::string& path, FrameInfo** info, std::string* reason);

}  // namespace cli
