#include "video/MediaConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "image/dib.h"

namespace {

// The deprecated full-range formats: swscale wants their limited twin plus an explicit range,
// and complains on every frame otherwise.
AVPixelFormat LimitedTwin(AVPixelFormat f, bool* fullRange)
{
    switch (f) {
    case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return f;
    }
}

int MatrixOf(const AVFrame* frame)
{
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

}  // namespace

MediaConverter::~MediaConverter()
{
    sws_freeContext(context_);
}

bool MediaConverter::Convert(const AVFrame* frame, int32_t width, int32_t height, uint8_t* dst)
{
    if (!frame || !dst || width <= 0 || height <= 0 || frame->width <= 0 || frame->height <= 0) return false;
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    AVPixelFormat format = LimitedTwin(static_cast<AVPixelFormat>(frame->format), &fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    bool isRgb = (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
    int matrix = isRgb ? -1 : MatrixOf(frame);

    if (!context_ || srcWidth_ != frame->width || srcHeight_ != frame->height || srcFormat_ != format ||
        matrix_ != matrix || fullRange_ != int(fullRange) || dstWidth_ != width || dstHeight_ != height) {
        sws_freeContext(context_);
        context_ = sws_getContext(frame->width, frame->height, format, width, height, AV_PIX_FMT_BGR24,
                                  SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT,
                                  nullptr, nullptr, nullptr);
        if (!context_) return false;
        if (!isRgb) {
            const int* coefficients = sws_getCoefficients(matrix);
            // Source matrix and range from the stream; the destination is full-range RGB.
            sws_setColorspaceDetails(context_, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16,
                                     1 << 16);
        }
        srcWidth_ = frame->width;
        srcHeight_ = frame->height;
        srcFormat_ = format;
        matrix_ = matrix;
        fullRange_ = fullRange;
        dstWidth_ = width;
        dstHeight_ = height;
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {int(DibStride24(width)), 0, 0, 0};
    return sws_scale(context_, frame->data, frame->linesize, 0, frame->height, planes, strides) == height;
}
