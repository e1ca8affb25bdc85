// One opened video: frames by 0-based index as 24-bit bottom-up frame blocks
// (40-byte BITMAPINFOHEADER + rows of DibStride24(width) bytes).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "video/FrameLuma.h"
#include "video/MediaIndexBuild.h"

class MediaDetector;
class AviReader;

struct FrameInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t frameBlockSize = 0;  // size of the last block delivered, header included
    int32_t frameCount = 0;
    int32_t firstFrame = 0;  // informational only
    double framesPerSecond = 0;
    double framePeriod = 0;   // seconds per frame (media detector)
    double streamLength = 0;  // seconds from the first frame to the end of the last (media detector)
    int32_t rotation = 0;     // degrees clockwise the stored pictures are turned to be upright
    bool mirrored = false;    // and mirrored left to right (width and height are the upright size)
    bool useMediaDetector = false;
    bool succeeded = false;
};

// True when built with FFmpeg, unless TESSARON_MEDIA_DETECTOR=0 is set in the environment.
bool IsMediaDetectorAvailable();

// The default memory for stepping back (SetStepBackMemory): 1 GB or an eighth of the machine's memory,
// whichever is less.
int64_t DefaultStepBackMemory();

// Line interpolation in place on one frame block: odd rows become the mean of their even neighbours.
void InterpolateLines(uint8_t* block, int32_t width, int32_t height);

class VideoFrameReader {
public:
    VideoFrameReader();
    ~VideoFrameReader();
    VideoFrameReader(const VideoFrameReader&) = delete;
    VideoFrameReader& operator=(const VideoFrameReader&) = delete;

    void SetDeinterlace(int flag);
    // Told how far Open is while it builds a file's picture index (a long file not seen before);
    // returning false cancels the open (LastError then says "cancelled").
    void SetOpenProgress(IndexProgress progress);
    // Memory for pictures kept for stepping back through the media detector (0, the default, keeps
    // none); takes effect at once and for later opens.
    void SetStepBackMemory(int64_t bytes);
    // Always returns info; the caller tests info.succeeded. path is UTF-8.
    FrameInfo& Open(const char* path);
    // Open for a file held in memory, through the media detector only (for fuzzing the media path);
    // data stays the caller's until Close.
    FrameInfo& OpenMemory(const uint8_t* data, size_t size);
    // A fresh std::malloc'd frame block owned by the caller (free with std::free), or null.
    uint8_t* ReadFrame(FrameInfo& frameInfo, int32_t frameIndex);
    // The same frame block as ReadFrame, but it stays the reader's, valid until its next read or Close.
    // Through the media detector without line interpolation it is the converted picture itself, not
    // a copy: for callers that are done with the frame before they read the next.
    const uint8_t* PeekFrame(FrameInfo& frameInfo, int32_t frameIndex);
    // Only the box (left, top, width, height; inside the frame) of a frame, as a frame block of the
    // box's size, its size in *blockSize; null as ReadFrame. The block stays the reader's, valid until
    // its next read or Close. Through the media detector only the box is converted, and not copied.
    // frameInfo.frameBlockSize keeps the size of whole frames.
    const uint8_t* ReadFramePart(FrameInfo& frameInfo, int32_t frameIndex, int32_t left, int32_t top, int32_t width,
                                 int32_t height, int32_t* blockSize);
    // The luma of the box (left, top, width, height; inside the frame) of a frame, for scoring: through
    // the media detector the decoder's Y plane, line-interpolated first when deinterlacing is on, with
    // no colour conversion. NoPlane for the AVI back end and for pictures without a Y plane: the caller
    // reads the frame's pixels instead (ReadFrame or ReadFramePart then reuse the decoded picture).
    // The plane stays the reader's, valid until its next read or Close.
    LumaRead PeekLuma(FrameInfo& frameInfo, int32_t frameIndex, int32_t left, int32_t top, int32_t width,
                      int32_t height, LumaPlane* plane);
    uint32_t RefreshStreamInfo();  // AVI back end: stream type FOURCC

    // Seconds from the first frame to frameIndex's own presentation time (indices outside the video are
    // clamped); 0 when nothing is open.
    double FrameTime(int32_t frameIndex) const;
    // The frame shown at seconds from the first frame: the last one whose time is at most seconds,
    // frame 0 before it; -1 when the video has no frames.
    int32_t FrameAtTime(double seconds) const;
    // FrameTime of every frame, in frame order.
    std::vector<double> FrameTimes() const;
    // The metadata tags of the container and then of the video stream (camera, recording time,
    // location), as FFmpeg names them; empty for the AVI back end and when nothing is open.
    std::vector<std::pair<std::string, std::string>> ContainerTags() const;
    // True when decoding can start at this frame, so showing it costs one picture's decoding.
    bool IsKeyFrame(int32_t frameIndex) const;
    // The nearest frame at or before frameIndex that is cheap to show (a key frame), for quick
    // previews while a slider is dragged; -1 when the video has no frames.
    int32_t KeyFrameAtOrBefore(int32_t frameIndex) const;
    // Frees the back end (the media detector with its demuxer, decoder and read-ahead threads, or the
    // AVI file); the reader can be opened again afterwards. Open closes what is open first.
    void Close(FrameInfo& frameInfo);

    // Why the last Open through the media detector failed, in a few words naming no file, or the
    // detector's latest error while it is open; empty when nothing went wrong. Kept across Close.
    const std::string& LastError() const;
    // The media detector while one is open, else null: for tests and benchmarks (read-ahead, counters).
    MediaDetector* Detector() const;

private:
    // AVI back end
    std::unique_ptr<AviReader> aviFile;
    FrameInfo info;
    uint8_t* frameBlock = nullptr;   // last block handed out; never freed here
    std::vector<uint8_t> partBlock;  // ReadFramePart's block when it is cut out of a whole frame
    std::unique_ptr<uint8_t, void (*)(void*)> peekBlock{nullptr, std::free};  // PeekFrame's copy, when it needs one
    std::vector<uint8_t> lumaCopy;                                            // PeekLuma's line-interpolated plane
    std::unique_ptr<MediaDetector> detector;
    std::string lastError;
    int deinterlace = 0;
    IndexProgress openProgress;
    int64_t stepBackMemory = 0;

    void Release();
    FrameInfo& OpenMedia(const char* path, const uint8_t* data, size_t size);
};
