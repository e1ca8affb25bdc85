// A small reader and writer of Windows-style INI files ("[section]" headers, "key=value" lines).
// Reading is as forgiving as the classic profile functions: section and key names match without regard
// to case, blanks around names and values are ignored, lines that are neither headers nor assignments
// (comments, blank lines) are skipped. Writing changes only the one value it is asked to change: every
// other byte of a hand-edited file (comments, other sections and keys, line endings) stays as it was.
#pragma once

#include <cstddef>
#include <string>

// The value of key in section, or def when the section or key is missing. At most maxChars characters
// of the value are returned.
std::string IniGetValue(const std::string& content, const std::string& section, const std::string& key,
                        const std::string& def, size_t maxChars = 254);

// content with key in section set to value: an existing assignment is rewritten in place, a missing
// key is added at the end of its section, a missing section is appended to the end.
std::string IniSetValue(const std::string& content, const std::string& section, const std::string& key,
                        const std::string& value);

// File versions of the two. A file that is missing or cannot be read gives def. path is UTF-8.
std::string IniReadString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def, size_t maxChars = 254);
// Creates the file when needed. The new content goes to a temporary file beside the old one, which then
// replaces it, so a failed write never leaves a half-written file. False when anything failed.
bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

// The deinterlace preference as the program keeps it: section "Tessaron", key "deinterlaceFlag".
inline constexpr const char* kIniFileName = "Tessaron.ini";
inline constexpr const char* kIniSection = "Tessaron";
inline constexpr const char* kIniDeinterlaceKey = "deinterlaceFlag";
inline constexpr const char* kIniDefault = "ERROR";

// "ERROR" (exactly) is 0; any other text is 1 when its leading decimal integer (blanks skipped, optional
// sign, digits, as atoi reads it) is not zero, else 0. Digits beyond the range of int still count as
// not zero.
int DeinterlaceFlagFromText(const std::string& text);
// The flag stored in the INI file at iniPath (0 when the file, section or key is missing).
int ReadDeinterlaceFlag(const std::string& iniPath);
// Writes the flag as "%d".
bool WriteDeinterlaceFlag(const std::string& iniPath, int flag);
