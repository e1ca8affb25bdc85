// The decoding half of the media detector: one video stream of a file, demuxed and decoded with
// FFmpeg, handed out picture by picture in display order. Every picture carries its display
// interval in stream ticks counted from the stream's first picture, so callers can ask "which
// picture is shown at time t" without caring about container start times or frame reordering.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;

struct AVFrameDeleter {
    void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

// A decoded picture shown from start (inclusive) to end (exclusive), in ticks from the first picture.
struct SourceFrame {
    AVFramePtr frame;
    int64_t start = 0;
    int64_t end = 0;
    bool ownDuration = false;  // the stream told how long the picture lasts (end - start on decoding)
};

class MediaSource {
public:
    MediaSource();
    ~MediaSource();
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

    // Opens the file's best video stream and decodes its first picture. False with a reason on failure.
    bool Open(const char* path, std::string* error);

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    double FrameRate() const { return frameRate_; }        // frames per second
    double StreamLength() const { return streamLength_; }  // seconds, first picture to end of the last
    int64_t FramePeriodTicks() const { return periodTicks_; }

    // Stream time in seconds to ticks, to the nearest tick: containers round timestamps to their
    // time base, so truncating could land just before a picture's own (rounded) start.
    int64_t SecondsToTicks(double seconds) const;

    // The next picture in display order; false at the end of the stream or on a fatal error.
    bool Next(SourceFrame* out);
    // Start of the picture Next would hand out (decoding it if needed); INT64_MAX at the end.
    int64_t PeekStart();
    // End of the stream's last picture once it has been seen, else INT64_MAX.
    int64_t KnownEnd() const { return knownEnd_; }

    // Whether reaching target is cheaper by seeking than by decoding forward from here.
    bool ShouldSeekFor(int64_t target);
    // Positions the source so that Next gives the picture shown at target or one before it.
    bool Seek(int64_t target);

    // Work done so far (readable from any thread)
    int64_t DecodedCount() const { return decoded_.load(); }
    int64_t SeekCount() const { return seeks_.load(); }

private:
    bool OpenDemuxer(const char* path, std::string* error);
    bool OpenDecoder(std::string* error);
    bool CountFrames(const char* path, int64_t* count);
    void Close();
    // One more decoded picture with its start filled in; false at the end.
    bool DecodeOne(SourceFrame* out);
    bool SeekRaw(int64_t streamTs);
    bool Rewind();
    void ResetPosition();

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    int streamIndex_ = -1;
    AVRational timeBase_{1, 1};

    int32_t width_ = 0;
    int32_t height_ = 0;
    double frameRate_ = 0;
    double streamLength_ = 0;
    int64_t periodTicks_ = 1;
    int64_t origin_ = 0;  // raw timestamp of the first picture
    bool haveOrigin_ = false;

    // Decoding position
    SourceFrame pending_;  // decoded, not yet handed out
    bool havePending_ = false;
    bool demuxEnded_ = false;    // flush packet sent
    bool decoderEnded_ = false;  // decoder drained
    int64_t lastStart_ = 0;      // start of the last decoded picture
    int64_t lastDuration_ = 0;
    bool haveLast_ = false;
    int64_t knownEnd_ = INT64_MAX;

    std::atomic<int64_t> decoded_{0};
    std::atomic<int64_t> seeks_{0};
};
