#include "tests/robustness/BadInputs.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "image/dib.h"
#include "output/AviOutput.h"
#include "tests/support/TestVideos.h"

namespace robustness {

namespace {

uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Offset of the data of the first chunk with this id, found by walking the RIFF tree (LIST and RIFF
// lists entered), so pixel bytes are never mistaken for a header. 0 when there is none.
size_t FindChunk(const Bytes& b, const char* id, size_t begin, size_t end) {
    size_t at = begin;
    while (at + 8 <= end) {
        const uint32_t size = Get32(b, at + 4);
        const size_t data = at + 8;
        if (std::memcmp(&b[at], id, 4) == 0) return data;
        if ((std::memcmp(&b[at], "LIST", 4) == 0 || std::memcmp(&b[at], "RIFF", 4) == 0) && data + 4 <= end) {
            if (std::memcmp(&b[data], id, 4) == 0) return data + 4;  // a list type asked for ("movi")
            const size_t found = FindChunk(b, id, data + 4, std::min(end, data + size));
            if (found) return found;
        }
        at = data + size + (size & 1);
    }
    return 0;
}

size_t FindChunk(const Bytes& b, const char* id) { return FindChunk(b, id, 0, b.size()); }

}  // namespace

Bytes ValidAvi() {
    char pattern[] = "/tmp/tessaron-robust-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) return {};
    ::close(fd);
    const std::string path = pattern;

    AviOutput* out = AviOutputOpen(path.c_str(), 40, nullptr);
    bool ok = out != nullptr;
    const int32_t stride = DibStride24(kWidth);
    std::vector<uint8_t> rows(size_t(stride) * kHeight);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = uint32_t(rows.size());
    for (int i = 0; ok && i < kFrames; ++i) {
        const std::vector<uint8_t> picture = testsupport::DrawFramePicture(i, kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y)  // bottom-up rows
            std::memcpy(&rows[size_t(kHeight - 1 - y) * size_t(stride)], &picture[size_t(y) * 3 * kWidth], 3 * kWidth);
        ok = AviOutputAddFrame(out, rows.data(), int32_t(rows.size()), &header) == AVIERR_OK;
    }
    if (out) ok = AviOutputClose(out) == AVIERR_OK && ok;

    Bytes bytes;
    if (ok) {
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            uint8_t buffer[65536];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
            std::fclose(f);
        }
    }
    std::remove(path.c_str());
    return bytes;
}

Bytes DamagedAvi(Damage damage) {
    Bytes b = ValidAvi();
    if (b.empty()) return b;
    const size_t avih = FindChunk(b, "avih");
    const size_t strh = FindChunk(b, "strh");
    const size_t strf = FindChunk(b, "strf");
    const size_t movi = FindChunk(b, "movi");
    const size_t idx1 = FindChunk(b, "idx1");
    if (!avih || !strh || !strf || !movi || !idx1 || idx1 + 16 * size_t(kFrames) > b.size()) return {};
    if (movi - 4 + size_t(Get32(b, idx1 + 8)) + 4 > b.size()) return {};
    // idx1 offsets count from the "movi" type word.
    // Offsets count from the "movi" type word, or from the file start in some writers.
    const size_t moviBase = std::memcmp(&b[movi - 4 + Get32(b, idx1 + 8)], "00d", 3) == 0 ? movi - 4 : 0;
    auto entry = [&](int frame) { return idx1 + 16 * size_t(frame); };

    switch (damage) {
    case Damage::None: break;
    case Damage::Truncate10: b.resize(b.size() / 10); break;
    case Damage::Truncate50: b.resize(b.size() / 2); break;
    case Damage::Truncate99: b.resize(b.size() * 99 / 100); break;
    case Damage::IndexPastEnd:
        for (int i = kFirstLostFrame; i < kFrames; ++i)
            Put32(b, entry(i) + 8, uint32_t(b.size() - moviBase + 4096 * size_t(i)));
        break;
    case Damage::HugeFrame:
        Put32(b, avih + 32, 100000);
        Put32(b, avih + 36, 100000);
        Put32(b, strf + 4, 100000);
        Put32(b, strf + 8, 100000);
        Put32(b, strf + 20, uint32_t(uint64_t(DibStride24(100000)) * 100000 & 0xFFFFFFFFu));
        break;
    case Damage::LengthZero:
    case Damage::LengthMax: {
        const uint32_t length = damage == Damage::LengthZero ? 0u : 0x7FFFFFFFu;
        Put32(b, avih + 16, length);
        Put32(b, strh + 32, length);
        if (const size_t dmlh = FindChunk(b, "dmlh")) Put32(b, dmlh, length);
        break;
    }
    case Damage::BrokenFrame: {
        const size_t chunk = moviBase + Get32(b, entry(kBrokenFrame) + 8);
        const uint32_t size = Get32(b, chunk + 4);
        const uint32_t half = size / 2;
        Put32(b, chunk + 4, half);
        std::memcpy(&b[chunk + 8 + half], "JUNK", 4);
        Put32(b, chunk + 8 + half + 4, size - half - 8);
        Put32(b, entry(kBrokenFrame) + 12, half);
        break;
    }
    }
    return b;
}

}  // namespace robustness
