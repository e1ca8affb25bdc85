// The decoding half of the media detector: one video stream of a file, demuxed and decoded with
// FFmpeg, handed out picture by picture in presentation order. Every decoded frame is matched to its
// picture in the picture index (by the position of the packet it came from), so picture N is the
// same whichever order pictures are asked for in: decoding always starts at the key frame the index
// names for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include "video/MediaIndex.h"
#include "video/MediaIndexBuild.h"
#include "video/MediaOrientation.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVPacket;

struct AVFrameDeleter {
    void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

// A decoded picture and its number in presentation order.
struct SourceFrame {
    AVFramePtr frame;
    int32_t index = -1;
    bool damaged = false;    // the decoder reported errors in it
    bool repeatable = true;  // decoding it again gives the same pixels (not damaged, or on one thread)
};

class MediaSource {
public:
    MediaSource();
    ~MediaSource();
    MediaSource(const MediaSource&) = delete;
    MediaSource& operator=(const MediaSource&) = delete;

    // Opens the file's best video stream, finds or builds its picture index and decodes its first
    // picture. progress (may be empty) hears how far the index is and can cancel. False with a reason.
    bool Open(const char* path, const IndexProgress& progress, std::string* error);
    // The same for a file held in memory (data stays the caller's until Close); its index is not kept.
    bool OpenMemory(const uint8_t* data, size_t size, const IndexProgress& progress, std::string* error);

    struct MemoryFile {
        const uint8_t* data = nullptr;
        size_t size = 0;
        int64_t pos = 0;
    };

    // Size of the pictures as stored (before turning them upright).
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    const Orientation& GetOrientation() const { return orientation_; }
    double FrameRate() const { return frameRate_; }  // frames per second
    const MediaIndex& Index() const { return *index_; }
    int32_t PictureCount() const { return index_ ? index_->PictureCount() : 0; }
    double PictureSeconds(int32_t picture) const;  // presentation time from picture 0
    double StreamLength() const;                   // seconds from picture 0 to the end of the last
    int32_t PictureAtSeconds(double seconds) const;

    // The next picture in presentation order; pictures the decoder never hands out are passed over.
    // False at the end of the stream.
    bool Next(SourceFrame* out);
    // Number of the picture Next would hand out (decoding it if needed); INT32_MAX at the end.
    int32_t PeekIndex();
    // Whether reaching picture is cheaper by seeking than by decoding forward from here.
    bool ShouldSeekFor(int32_t picture);
    // Positions decoding at the key frame of picture: Next then hands out the pictures from that key
    // frame's own on (picture among them unless the decoder drops it).
    bool SeekTo(int32_t picture);

    // Work done so far (readable from any thread)
    int64_t DecodedCount() const { return decoded_.load(); }
    int64_t SeekCount() const { return seeks_.load(); }
    bool IndexFromCache() const { return indexFromCache_; }
    // The container's metadata and then the video stream's, as key and value (empty when closed).
    std::vector<std::pair<std::string, std::string>> Tags() const;

private:
    bool OpenInput(const char* path, const IndexProgress& progress, std::string* error);
    bool OpenDemuxer(const char* path, std::string* error);
    void CloseDemuxer();
    AVCodecContext* OpenDecoder(bool frameThreads, std::string* error);
    bool BuildIndex(const IndexProgress& progress, std::string* error);
    bool CheckDecodedOrder(MediaIndex* index);
    bool DecodeWholeIndex(const IndexProgress& progress, MediaIndex* index, std::string* error);
    void Close();

    bool DecodeOne(SourceFrame* out);
    bool FeedPacket();
    int32_t PacketNumber(const AVPacket* packet);
    bool PositionAtPacket(int32_t packet, int32_t lastShown);
    bool LandAt(int32_t anchor, int32_t packet);
    bool Reopen();
    void ResetDecoding();
    bool UseFrameThreads(bool on);

    std::string path_;
    MemoryFile memory_;          // the file when it is held in memory
    AVIOContext* io_ = nullptr;  // our reading of it
    AVFormatContext* format_ = nullptr;
    AVCodecContext* threaded_ = nullptr;  // frame threads: clean streams
    AVCodecContext* single_ = nullptr;    // one thread: groups with damaged pictures, made when needed
    AVCodecContext* codec_ = nullptr;     // the one in use
    AVPacket* packet_ = nullptr;
    int streamIndex_ = -1;
    AVRational timeBase_{1, 1};
    double headerRate_ = 0;

    std::shared_ptr<const MediaIndex> index_;
    MediaIndex* building_ = nullptr;  // the index being checked while it is built
    bool indexFromCache_ = false;
    std::set<int32_t> damagedStarts_;  // key packets whose groups decode on one thread

    int32_t width_ = 0;
    int32_t height_ = 0;
    Orientation orientation_;
    double frameRate_ = 0;

    // Decoding position
    SourceFrame pending_;  // decoded, not yet handed out
    bool havePending_ = false;
    bool haveHeldPacket_ = false;  // packet_ holds the next packet to send
    int32_t nextPacket_ = 0;       // number of the next packet to send
    int32_t lastShown_ = -1;       // pictures up to this one are not handed out again
    int32_t heldNumber_ = -1;      // number of the held packet (-1: not in the index)
    int32_t floor_ = -1;           // lastShown_ where decoding started
    bool outOfOrder_ = false;      // a picture came out after a later one
    bool atStart_ = false;         // indexing left picture 0 decoded and pending
    bool demuxEnded_ = false;
    bool decoderEnded_ = false;

    std::atomic<int64_t> decoded_{0};
    std::atomic<int64_t> seeks_{0};
};
