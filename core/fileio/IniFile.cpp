#include "fileio/IniFile.h"

#include "fileio/WriteAll.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files larger than this are not settings files; they are neither parsed nor rewritten.
constexpr std::uintmax_t kMaxIniFileSize = 16u * 1024u * 1024u;

struct Line {
    std::string text;  // without the line ending
    std::string eol;   // "\r\n", "\n" or "" (last line without an ending)
};

std::vector<Line> SplitLines(const std::string& content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = content.substr(pos);
            pos = content.size();
        } else {
            line.text = content.substr(pos, nl - pos);
            line.eol = "\n";
            pos = nl + 1;
        }
        if (!line.eol.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.eol = "\r\n";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "[name]" -> name (trimmed); false for any other line.
bool ParseHeader(const std::string& text, std::string* name) {
    std::string t = Trim(text);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

bool IsComment(const std::string& text) {
    std::string t = Trim(text);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// "key = value" -> key and the position just after '='; false for lines that are no assignment.
bool ParseAssignment(const std::string& text, std::string* key, size_t* valueStart) {
    if (IsComment(text)) return false;
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    *key = Trim(text.substr(0, eq));
    if (key->empty()) return false;
    *valueStart = eq + 1;
    return true;
}

// Index range [first, end) of the body of the first section called name; false when there is none.
bool FindSection(const std::vector<Line>& lines, const std::string& section, size_t* first, size_t* end) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!ParseHeader(lines[i].text, &name) || !EqualNoCase(name, section)) continue;
        size_t j = i + 1;
        while (j < lines.size() && !ParseHeader(lines[j].text, &name)) ++j;
        *first = i + 1;
        *end = j;
        return true;
    }
    return false;
}

bool ReadWholeFile(const std::string& path, std::string* content, bool* missing) {
    *missing = false;
    std::error_code ec;
    std::filesystem::path p(path);
    if (!std::filesystem::exists(p, ec)) {
        *missing = !ec;
        return false;
    }
    if (!std::filesystem::is_regular_file(p, ec)) return false;
    std::uintmax_t size = std::filesystem::file_size(p, ec);
    if (ec || size > kMaxIniFileSize) return false;
    std::ifstream in(p, std::ios::binary);
    if (!in) return false;
    content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

std::string IniGetValue(const std::string& content, const std::string& section, const std::string& key,
                        const std::string& def, size_t maxChars) {
    std::vector<Line> lines = SplitLines(content);
    size_t first = 0, end = 0;
    std::string value = def;
    if (FindSection(lines, section, &first, &end)) {
        std::string name;
        size_t valueStart = 0;
        for (size_t i = first; i < end; ++i) {
            if (!ParseAssignment(lines[i].text, &name, &valueStart) || !EqualNoCase(name, key)) continue;
            value = Trim(lines[i].text.substr(valueStart));
            // A value wrapped in a pair of matching quotes is taken without them.
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            break;
        }
    }
    if (value.size() > maxChars) value.resize(maxChars);
    return value;
}

std::string IniSetValue(const std::string& content, const std::string& section, const std::string& key,
                        const std::string& value) {
    std::vector<Line> lines = SplitLines(content);
    std::string newline = "\n";
    for (const Line& l : lines) {
        if (!l.eol.empty()) {
            newline = l.eol;
            break;
        }
    }
    size_t first = 0, end = 0;
    if (FindSection(lines, section, &first, &end)) {
        std::string name;
        size_t valueStart = 0;
        bool done = false;
        for (size_t i = first; i < end && !done; ++i) {
            if (!ParseAssignment(lines[i].text, &name, &valueStart) || !EqualNoCase(name, key)) continue;
            lines[i].text = lines[i].text.substr(0, valueStart) + value;
            done = true;
        }
        if (!done) {
            // After the last non-blank line of the section, so trailing blank lines keep separating it
            // from the next section.
            size_t at = end;
            while (at > first && Trim(lines[at - 1].text).empty()) --at;
            if (at > 0 && lines[at - 1].eol.empty()) lines[at - 1].eol = newline;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{key + "=" + value, newline});
        }
    } else {
        if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = newline;
        lines.push_back(Line{"[" + section + "]", newline});
        lines.push_back(Line{key + "=" + value, newline});
    }
    std::string out;
    out.reserve(content.size() + key.size() + value.size() + section.size() + 8);
    for (const Line& l : lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

std::string IniReadString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def, size_t maxChars) {
    std::string content;
    bool missing = false;
    if (!ReadWholeFile(path, &content, &missing)) {
        std::string value = def;
        if (value.size() > maxChars) value.resize(maxChars);
        return value;
    }
    return IniGetValue(content, section, key, def, maxChars);
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    if (path.empty()) return false;
    std::error_code ec;
    std::filesystem::path target(path);
    // Write through a symbolic link to the file it names rather than replacing the link.
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (ec) return false;
        target = resolved;
    }
    std::string content;
    bool missing = false;
    if (!ReadWholeFile(target.string(), &content, &missing) && !missing) return false;

    std::string updated = IniSetValue(content, section, key, value);

    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string tmpl = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> tmpName(tmpl.begin(), tmpl.end());
    tmpName.push_back('\0');
    int fd = ::mkstemp(tmpName.data());
    if (fd < 0) return false;

    mode_t mode = 0644;
    struct stat st {};
    if (!missing && ::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    bool ok = WriteAll(fd, updated.data(), updated.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && std::rename(tmpName.data(), target.c_str()) != 0) ok = false;
    if (!ok) ::unlink(tmpName.data());
    return ok;
}

int DeinterlaceFlagFromText(const std::string& text) {
    if (text == kIniDefault) return 0;
    size_t i = 0;
    // atoi skips what isspace() calls white space.
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (text[i] != '0') return 1;
    }
    return 0;
}

int ReadDeinterlaceFlag(const std::string& iniPath) {
    return DeinterlaceFlagFromText(IniReadString(iniPath, kIniSection, kIniDeinterlaceKey, kIniDefault, 254));
}

bool WriteDeinterlaceFlag(const std::string& iniPath, int flag) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", flag);
    return IniWriteString(iniPath, kIniSection, kIniDeinterlaceKey, text);
}
