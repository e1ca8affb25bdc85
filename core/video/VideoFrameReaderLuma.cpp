// The reader's luma path for scoring: the decoder's Y plane, cut to a box and line-interpolated as
// the frame blocks are, without converting the picture to BGR.
#include <cstring>
#include <new>

#include "video/MediaDetector.h"
#include "video/VideoFrameReader.h"

namespace {

// InterpolateLines on luma rows: the rows it replaces in a bottom-up block (1, 3, ... up to height - 3)
// are picture rows height - 2, height - 4, ..., each the mean of its neighbours, halves truncated.
template <typename Sample>
void InterpolateLumaLines(uint8_t* plane, int64_t stride, int32_t width, int32_t height) {
    for (int32_t k = 0; k <= (height - 4) / 2; ++k) {
        const int32_t y = height - 2 - 2 * k;
        auto* row = reinterpret_cast<Sample*>(plane + int64_t(y) * stride);
        const auto* above = reinterpret_cast<const Sample*>(plane + int64_t(y - 1) * stride);
        const auto* below = reinterpret_cast<const Sample*>(plane + int64_t(y + 1) * stride);
        for (int32_t x = 0; x < width; ++x) row[x] = Sample((below[x] >> 1) + (above[x] >> 1));
    }
}

}  // namespace

LumaRead VideoFrameReader::PeekLuma(FrameInfo& frameInfo, int32_t frameIndex, int32_t left, int32_t top, int32_t width,
                                    int32_t height, LumaPlane* plane) {
    if (!plane) return LumaRead::Unreadable;
    *plane = LumaPlane();
    if (!info.useMediaDetector) return LumaRead::NoPlane;
    if (!detector || left < 0 || top < 0 || width <= 0 || height <= 0 || width > info.width - left ||
        height > info.height - top)
        return LumaRead::Unreadable;
    if (frameIndex >= info.frameCount) return LumaRead::Unreadable;
    LumaPlane whole;
    const LumaRead read = detector->PeekLuma(frameIndex < 0 ? 0 : frameIndex, &whole);
    frameInfo.succeeded = true;
    if (read != LumaRead::Plane) return read;
    if (whole.width != info.width || whole.height != info.height) return LumaRead::NoPlane;

    const int sampleBytes = whole.depth > 8 ? 2 : 1;
    if (deinterlace && whole.height >= 4) {
        // The whole plane: the rows next to the box take part.
        const int64_t rowBytes = int64_t(whole.width) * sampleBytes;
        try {
            lumaCopy.resize(size_t(rowBytes * whole.height));
        } catch (...) {
            frameInfo.succeeded = false;
            return LumaRead::Unreadable;
        }
        for (int32_t y = 0; y < whole.height; ++y)
            std::memcpy(lumaCopy.data() + y * rowBytes, whole.data + y * whole.stride, size_t(rowBytes));
        whole.data = lumaCopy.data();
        whole.stride = rowBytes;
        if (sampleBytes == 1)
            InterpolateLumaLines<uint8_t>(lumaCopy.data(), rowBytes, whole.width, whole.height);
        else
            InterpolateLumaLines<uint16_t>(lumaCopy.data(), rowBytes, whole.width, whole.height);
    }
    *plane = whole;
    plane->data = whole.data + int64_t(top) * whole.stride + int64_t(left) * sampleBytes;
    plane->width = width;
    plane->height = height;
    return LumaRead::Plane;
}
