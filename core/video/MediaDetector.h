// The media detector: opens a video file of any format FFmpeg reads and renders its pictures by number
// as 24-bit bottom-up bitmaps (a BITMAPINFOHEADER followed by the rows), upright. Picture N is the N-th
// picture in presentation order, found through the file's picture index; stepping forward decodes only
// what is new, asking for the same picture again decodes nothing, while pictures are asked for in order
// the next ones are decoded ahead on a thread of the detector's own, and pictures decoded on the way to
// one can be kept for stepping back. The detector is used from one thread; it throws nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "video/FrameLuma.h"
#include "video/MediaIndexBuild.h"
#include "video/MediaOrientation.h"

class MediaDetector {
public:
    MediaDetector();
    ~MediaDetector();
    MediaDetector(const MediaDetector&) = delete;
    MediaDetector& operator=(const MediaDetector&) = delete;

    // Told how far indexing is while SetFilename builds a file's picture index; may cancel it.
    void SetOpenProgress(IndexProgress progress);
    // Opens path (UTF-8). False when it is no file, has no video stream, none of it decodes or the
    // open was cancelled; the reason is in LastError.
    bool SetFilename(const char* path);
    // The same for a file held in memory (it stays the caller's while the detector is open).
    bool SetMemoryFile(const uint8_t* data, size_t size);

    double FrameRate() const;     // frames per second; 0 when nothing is open
    double StreamLength() const;  // seconds from the first picture to the end of the last
    // Upright size of the pictures; false when nothing is open.
    bool GetVideoFormat(int32_t* width, int32_t* height) const;
    int32_t FrameCount() const;
    double FrameTime(int32_t frame) const;      // seconds from picture 0
    int32_t FrameAtTime(double seconds) const;  // the picture shown then; -1 without pictures
    bool IsKeyFrame(int32_t frame) const;
    int32_t KeyFrameAtOrBefore(int32_t frame) const;
    Orientation GetOrientation() const;
    bool IndexFromCache() const;  // the picture index came from the cache rather than a pass
    // The container's metadata tags, then the video stream's; empty when nothing is open.
    std::vector<std::pair<std::string, std::string>> Tags() const;

    // Picture frame scaled to width x height, and of that only the box [left, left + boxWidth) x
    // [top, top + boxHeight): a 24-bit bottom-up frame block of boxWidth x boxHeight (header included),
    // exactly that part of the whole, converted without the rest. The block is the detector's own,
    // valid until its next call. Null when there is no such picture, it cannot be decoded, or the box
    // does not lie inside width x height.
    const uint8_t* PeekBitmapPart(int32_t frame, int32_t width, int32_t height, int32_t left, int32_t top,
                                  int32_t boxWidth, int32_t boxHeight);

    // The luma of picture frame, for scoring: its Y plane as decoded, upright, converted to nothing.
    // The plane is the detector's, valid until its next call. NoPlane when the picture is not stored
    // as a Y plane (RGB, palette or packed formats) or its size differs from the video format's:
    // PeekBitmapPart then delivers it without decoding it again.
    LumaRead PeekLuma(int32_t frame, LumaPlane* plane);

    // Decoding ahead during in-order reading; on by default. Frames are identical either way.
    void SetReadAhead(bool enabled);
    // Memory for the pictures kept for stepping back (0, the default, keeps none).
    void SetStepBackMemory(int64_t bytes);

    const std::string& LastError() const;

    // Work done so far, for tests and benchmarks.
    struct Counters {
        int64_t decoded = 0;     // pictures out of the decoder
        int64_t seeks = 0;       // repositionings of the demuxer
        int64_t converted = 0;   // pictures converted to BGR
        int64_t readAheads = 0;  // times decoding ahead was started
        int64_t kept = 0;        // pictures kept for stepping back now
        int64_t keptBytes = 0;   // their memory
        int64_t keptHits = 0;    // pictures served from them
    };
    Counters GetCounters() const;

private:
    bool Open(const char* path, const uint8_t* data, size_t size);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
