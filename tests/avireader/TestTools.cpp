#include "TestTools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "image/dib.h"

namespace {

struct ScratchRemover {
    std::string dir;
    ~ScratchRemover()
    {
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }
};

ScratchRemover& Scratch()
{
    static ScratchRemover scratch;
    return scratch;
}

}  // namespace

const std::string& ScratchDir()
{
    ScratchRemover& s = Scratch();
    if (s.dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaron-avireader-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            s.dir = pattern;
    }
    return s.dir;
}

std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool RunQuiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool HaveFfmpeg()
{
    static const bool have = RunQuiet("ffmpeg -version");
    return have;
}

std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height)
{
    const std::string raw = path + ".ref.bgr";
    std::vector<Bytes> frames;
    if (!RunQuiet("ffmpeg -v error -y -i " + Quote(path) + " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " +
                  Quote(raw)))
        return frames;
    const Bytes all = ReadFileBytes(raw);
    std::remove(raw.c_str());
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= all.size(); at += frameBytes)
        frames.emplace_back(all.begin() + std::ptrdiff_t(at), all.begin() + std::ptrdiff_t(at + frameBytes));
    return frames;
}

::testing::AssertionResult BlockMatches(const uint8_t* block, int32_t blockSize, int width, int height,
                                        const Bytes& topDownRows)
{
    if (!block)
        return ::testing::AssertionFailure() << "no frame block";
    if (blockSize != FrameBlockSize(width, height))
        return ::testing::AssertionFailure() << "block size " << blockSize << ", expected "
                                             << FrameBlockSize(width, height);
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    if (h.biSize != 40 || h.biWidth != width || h.biHeight != height || h.biPlanes != 1 || h.biBitCount != 24 ||
        h.biCompression != BI_RGB || int64_t(h.biSizeImage) != DibStride24(width) * height)
        return ::testing::AssertionFailure() << "bad header: " << h.biWidth << "x" << h.biHeight << " bits "
                                             << h.biBitCount << " sizeImage " << h.biSizeImage;
    if (topDownRows.size() != size_t(width) * size_t(height) * 3)
        return ::testing::AssertionFailure() << "reference has " << topDownRows.size() << " bytes";
    const size_t stride = size_t(DibStride24(width));
    const size_t used = size_t(width) * 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = block + 40 + size_t(y) * stride;
        const uint8_t* ref = topDownRows.data() + size_t(height - 1 - y) * used;
        for (size_t b = 0; b < used; ++b) {
            if (row[b] != ref[b])
                return ::testing::AssertionFailure() << "block row " << y << " byte " << b << ": " << int(row[b])
                                                     << " != " << int(ref[b]);
        }
        for (size_t b = used; b < stride; ++b) {
            if (row[b] != 0)
                return ::testing::AssertionFailure() << "filler byte not zero in row " << y;
        }
    }
    return ::testing::AssertionSuccess();
}
