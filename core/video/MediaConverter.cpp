#include "video/MediaConverter.h"

#include <atomic>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "image/dib.h"
#include "video/MediaYuv.h"

namespace {

std::atomic<bool> yuvThroughSwscale{false};

// The deprecated full-range formats: swscale wants their limited twin plus an explicit range,
// and complains on every frame otherwise.
AVPixelFormat LimitedTwin(AVPixelFormat f, bool* fullRange) {
    switch (f) {
    case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return f;
    }
}

int MatrixOf(const AVFrame* frame) {
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    default:
        // Untagged: HD material is almost always BT.709, SD material BT.601.
        return (frame->width >= 1280 || frame->height > 576) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

YuvMatrix FixedMatrixFor(int matrix, bool fullRange, int depth) {
    switch (matrix) {
    case SWS_CS_ITU709: return MakeYuvMatrix(0.2126, 0.0722, fullRange, depth);
    case SWS_CS_FCC: return MakeYuvMatrix(0.30, 0.11, fullRange, depth);
    case SWS_CS_SMPTE240M: return MakeYuvMatrix(0.212, 0.087, fullRange, depth);
    case SWS_CS_BT2020: return MakeYuvMatrix(0.2627, 0.0593, fullRange, depth);
    default: return MakeYuvMatrix(0.299, 0.114, fullRange, depth);
    }
}

// The common planar layouts (8 bits, and 10 or 12 bits in native-endian 16-bit samples) go through
// our own exact conversion when no scaling is asked for.
bool DirectYuv(const AVFrame* frame, AVPixelFormat format, int32_t width, int32_t height, YuvPlanes* planes) {
    if (width != frame->width || height != frame->height) return false;
    int shiftX, shiftY, depth;
    switch (format) {
    case AV_PIX_FMT_YUV420P: shiftX = 1, shiftY = 1, depth = 8; break;
    case AV_PIX_FMT_YUV422P: shiftX = 1, shiftY = 0, depth = 8; break;
    case AV_PIX_FMT_YUV444P: shiftX = 0, shiftY = 0, depth = 8; break;
    case AV_PIX_FMT_YUV420P10: shiftX = 1, shiftY = 1, depth = 10; break;
    case AV_PIX_FMT_YUV422P10: shiftX = 1, shiftY = 0, depth = 10; break;
    case AV_PIX_FMT_YUV444P10: shiftX = 0, shiftY = 0, depth = 10; break;
    case AV_PIX_FMT_YUV420P12: shiftX = 1, shiftY = 1, depth = 12; break;
    case AV_PIX_FMT_YUV422P12: shiftX = 1, shiftY = 0, depth = 12; break;
    case AV_PIX_FMT_YUV444P12: shiftX = 0, shiftY = 0, depth = 12; break;
    default: return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (!frame->data[i] || frame->linesize[i] <= 0) return false;
        planes->data[i] = frame->data[i];
        planes->linesize[i] = frame->linesize[i];
    }
    planes->width = width;
    planes->height = height;
    planes->chromaShiftX = shiftX;
    planes->chromaShiftY = shiftY;
    planes->depth = depth;
    // JPEG puts chroma between two luma columns, the MPEG family on the left one.
    const bool jpegFormat = frame->format == AV_PIX_FMT_YUVJ420P || frame->format == AV_PIX_FMT_YUVJ422P ||
                            frame->format == AV_PIX_FMT_YUVJ444P;
    planes->chromaCentredX = frame->chroma_location == AVCHROMA_LOC_CENTER ||
                             (frame->chroma_location == AVCHROMA_LOC_UNSPECIFIED && jpegFormat);
    return true;
}

}  // namespace

void SetYuvThroughSwscale(bool on) { yuvThroughSwscale = on; }

MediaConverter::~MediaConverter() { sws_freeContext(context_); }

bool MediaConverter::Convert(const AVFrame* frame, const PictureShape& shape, uint8_t* dst, int64_t dstStride) {
    if (!frame || !dst || !shape.Valid() || frame->width <= 0 || frame->height <= 0) return false;
    const int32_t width = shape.frameWidth, height = shape.frameHeight;
    const PictureBox& box = shape.box;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    AVPixelFormat format = LimitedTwin(static_cast<AVPixelFormat>(frame->format), &fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    bool isRgb = (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
    int matrix = isRgb ? -1 : MatrixOf(frame);

    YuvPlanes yuv;
    if (!isRgb && !yuvThroughSwscale.load(std::memory_order_relaxed) && DirectYuv(frame, format, width, height, &yuv))
        return YuvToBgrPart(yuv, FixedMatrixFor(matrix, fullRange, yuv.depth), box.left, box.top, box.width, box.height,
                            dst, dstStride, &yuvScratch_);

    const AVPixelFormat target = isRgb ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_GBRP;
    if (!context_ || srcWidth_ != frame->width || srcHeight_ != frame->height || srcFormat_ != format ||
        matrix_ != matrix || fullRange_ != int(fullRange) || dstWidth_ != width || dstHeight_ != height) {
        sws_freeContext(context_);
        context_ = sws_getContext(frame->width, frame->height, format, width, height, target,
                                  SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT, nullptr, nullptr,
                                  nullptr);
        if (!context_) return false;
        if (!isRgb) {
            const int* coefficients = sws_getCoefficients(matrix);
            // Source matrix and range from the stream; the destination is full-range RGB.
            sws_setColorspaceDetails(context_, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16, 1 << 16);
        }
        srcWidth_ = frame->width;
        srcHeight_ = frame->height;
        srcFormat_ = format;
        matrix_ = matrix;
        fullRange_ = fullRange;
        dstWidth_ = width;
        dstHeight_ = height;
        viaPlanes_ = !isRgb;
    }
    const int64_t stride = DibStride24(width);
    // swscale writes straight to dst only for the whole picture in top-down rows.
    const bool whole = box.width == width && box.height == height && dstStride == stride;
    if (!viaPlanes_) {
        uint8_t* rows = dst;
        if (!whole) {
            try {
                const size_t bytes = size_t(stride) * size_t(height);
                if (whole_.size() != bytes) whole_.assign(bytes, 0);
            } catch (...) {
                return false;
            }
            rows = whole_.data();
        }
        uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
        int strides[4] = {int(stride), 0, 0, 0};
        if (sws_scale(context_, frame->data, frame->linesize, 0, frame->height, planes, strides) != height)
            return false;
        if (!whole)
            for (int32_t y = 0; y < box.height; ++y)
                std::memcpy(dst + y * dstStride, rows + (box.top + y) * stride + 3 * int64_t(box.left),
                            3 * size_t(box.width));
        return true;
    }

    const size_t plane = size_t(width) * size_t(height);
    try {
        if (planes_.size() != 3 * plane) planes_.assign(3 * plane, 0);
    } catch (...) {
        return false;
    }
    uint8_t* g = planes_.data();
    uint8_t* b = g + plane;
    uint8_t* r = b + plane;
    uint8_t* planes[4] = {g, b, r, nullptr};
    int strides[4] = {width, width, width, 0};
    if (sws_scale(context_, frame->data, frame->linesize, 0, frame->height, planes, strides) != height) return false;
    for (int32_t y = 0; y < box.height; ++y) {
        const size_t from = size_t(box.top + y) * size_t(width) + size_t(box.left);
        const uint8_t* gy = g + from;
        const uint8_t* by = b + from;
        const uint8_t* ry = r + from;
        uint8_t* out = dst + y * dstStride;
        for (int32_t x = 0; x < box.width; ++x) {
            out[3 * x] = by[x];
            out[3 * x + 1] = gy[x];
            out[3 * x + 2] = ry[x];
        }
    }
    return true;
}
