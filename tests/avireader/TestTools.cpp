#include "TestTools.h"

#include <cstring>

#include "image/dib.h"

bool HaveFfmpeg() {
    static const bool have = RunQuiet("ffmpeg -version");
    return have;
}

::testing::AssertionResult BlockMatches(const uint8_t* block, int32_t blockSize, int width, int height,
                                        const Bytes& topDownRows) {
    if (!block) return ::testing::AssertionFailure() << "no frame block";
    if (blockSize != FrameBlockSize(width, height))
        return ::testing::AssertionFailure()
               << "block size " << blockSize << ", expected " << FrameBlockSize(width, height);
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
                return ::testing::AssertionFailure()
                       << "block row " << y << " byte " << b << ": " << int(row[b]) << " != " << int(ref[b]);
        }
        for (size_t b = used; b < stride; ++b) {
            if (row[b] != 0) return ::testing::AssertionFailure() << "filler byte not zero in row " << y;
        }
    }
    return ::testing::AssertionSuccess();
}
