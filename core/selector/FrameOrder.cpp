#include "selector/FrameOrder.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

std::string MakeFrameOrderKey(int32_t score, int32_t frame) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%010d %d", static_cast<int>(score), static_cast<int>(frame));
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d": white space, optional sign, at least one digit. Advances *text past what it used.
bool ReadInt(const char** text, int32_t* value) {
    const char* p = *text;
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    // Accumulate as a negative number so that the most negative value fits.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t magnitude = 0;  // <= 0
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude >= kMin) magnitude = magnitude * 10 - (*p - '0');
    }
    if (magnitude < kMin) magnitude = kMin - 1;  // saturate below
    int64_t result = negative ? magnitude : -magnitude;
    result = std::clamp<int64_t>(result, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    *value = static_cast<int32_t>(result);
    *text = p;
    return true;
}

}  // namespace

int ParseFrameOrderKey(const char* key, int32_t* score, int32_t* frame) {
    if (!key) return -1;
    const char* p = key;
    while (IsSpace(*p)) ++p;
    if (*p == '\0') return -1;
    int32_t first = 0;
    if (!ReadInt(&p, &first)) return 0;
    if (score) *score = first;
    int32_t second = 0;
    if (!ReadInt(&p, &second)) return 1;
    if (frame) *frame = second;
    return 2;
}

void SortFrameOrder(std::vector<std::string>& order) {
    std::sort(order.begin(), order.end(),
              [](const std::string& a, const std::string& b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
}

bool FillOriginalOrder(std::vector<std::string>& order, int32_t frameEnd) {
    order.clear();
    if (frameEnd < 0) return true;
    // Keys for more frames than half the machine's memory holds are not even tried: such an allocation
    // could succeed on an overcommitting system and then take all memory.
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    const double needed = (static_cast<double>(frameEnd) + 1) * sizeof(std::string);
    if (pages > 0 && pageSize > 0 && needed > 0.5 * static_cast<double>(pages) * static_cast<double>(pageSize))
        return false;
    try {
        order.reserve(static_cast<size_t>(frameEnd) + 1);
        for (int64_t i = 0; i <= frameEnd; ++i) order.push_back(MakeFrameOrderKey(int32_t(i), int32_t(i)));
    } catch (...) {
        return false;
    }
    return true;
}
