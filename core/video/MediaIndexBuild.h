// Building a picture index without decoding: one pass over the video stream's packets, then the
// pictures put in presentation order by their timestamps.
#pragma once

#include <cstdint>
#include <functional>

#include "video/MediaIndex.h"

struct AVFormatContext;

// Told how far an index is (0 to 1); returning false cancels the open.
using IndexProgress = std::function<bool(double fraction)>;

enum class IndexPass {
    Ordered,        // every picture has a presentation time: the order is known
    NeedsDecoding,  // some pictures carry no presentation time: only decoding tells their order
    Cancelled,
    Failed,
};

// Reads every packet of the stream from the demuxer's current position (the start of the file) to the
// end, recording position, timestamps and flags, and orders the pictures when their timestamps allow.
// Leaves the demuxer at the end.
IndexPass ReadPacketIndex(AVFormatContext* format, int stream, const IndexProgress& progress, MediaIndex* index);

// Presentation order and times from the packets' timestamps: sorted by presentation time, in runs
// between the clock jumps of formats whose clock may jump (MPEG-TS and -PS; joined files). False
// when a picture has no presentation time.
bool OrderPicturesByTime(const AVFormatContext* format, int stream, MediaIndex* index);

// The file's nominal rate where it has one (headerRate: the rate its header declares, read before the
// stream was probed; 0 for none; or the rate coded in the stream of formats without a header);
// otherwise the pictures over their span.
double ChooseFrameRate(const AVFormatContext* format, int stream, double headerRate, const MediaIndex& index);

// Ticks of one picture at the given rate (at least 1).
int64_t PeriodTicks(const AVFormatContext* format, int stream, double rate);
