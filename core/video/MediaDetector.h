// The media detector: opens a video file of any format FFmpeg reads and renders the picture shown at
// a given stream time as a 24-bit bottom-up bitmap (a BITMAPINFOHEADER followed by the rows).
// Frames are exact (the picture whose display interval holds the time, counted from the stream's
// first picture), stepping forward decodes only what is new, asking for the same time again decodes
// nothing, and while frames are asked for in order the next ones are decoded ahead on a thread of
// the detector's own. The detector is used from one thread; it throws nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "video/FrameLuma.h"

class MediaDetector {
public:
    MediaDetector();
    ~MediaDetector();
    MediaDetector(const MediaDetector&) = delete;
    MediaDetector& operator=(const MediaDetector&) = delete;

    // Opens path (UTF-8). False when it is no file, has no video stream or none of it decodes; the
    // reason is in LastError.
    bool SetFilename(const char* path);

    double FrameRate() const;     // frames per second; 0 when unknown or nothing is open
    double StreamLength() const;  // seconds from the first picture to the end of the last
    // Size of the video format; false when nothing is open.
    bool GetVideoFormat(int32_t* width, int32_t* height) const;

    // The picture shown at streamTime seconds, scaled to width x height, and of that only the box
    // [left, left + boxWidth) x [top, top + boxHeight): a 24-bit bottom-up frame block of boxWidth x
    // boxHeight (header included), exactly that part of the whole, converted without the rest. The block
    // is the detector's own, valid until its next call. Null when no picture is shown at that time (past
    // the end), it cannot be decoded, or the box does not lie inside width x height.
    const uint8_t* PeekBitmapPart(double streamTime, int32_t width, int32_t height, int32_t left, int32_t top,
                                  int32_t boxWidth, int32_t boxHeight);

    // The luma of the picture shown at streamTime, for scoring: its Y plane exactly as decoded, at the
    // stream's own size, converted to nothing. The plane is the detector's, valid until its next call.
    // NoPlane when the picture is not stored as a Y plane (RGB, palette or packed formats) or its size
    // differs from the video format's: PeekBitmapPart then delivers it without decoding it again.
    LumaRead PeekLuma(double streamTime, LumaPlane* plane);

    // Decoding ahead during in-order reading; on by default. Frames are identical either way.
    void SetReadAhead(bool enabled);

    const std::string& LastError() const;

    // Work done so far, for tests and benchmarks.
    struct Counters {
        int64_t decoded = 0;     // pictures out of the decoder
        int64_t seeks = 0;       // repositionings of the demuxer
        int64_t converted = 0;   // pictures converted to BGR
        int64_t readAheads = 0;  // times decoding ahead was started
    };
    Counters GetCounters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
