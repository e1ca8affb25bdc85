// Decoding ahead while frames are read in order: a thread of the media detector's own decodes and
// converts the next few pictures into a small bounded queue, so the caller's work on one frame
// overlaps with the decoding of the next.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "video/MediaConverter.h"
#include "video/MediaOrientation.h"

class MediaSource;

// A picture (or the box of it its shape names) converted to a frame block: a BITMAPINFOHEADER, then
// bottom-up BGR rows of DibStride24(box width) bytes, just as it is handed out.
struct ConvertedFrame {
    int32_t index = -1;  // the picture's number
    PictureShape shape;
    bool valid = false;
    std::vector<uint8_t> block;
};

// Turns a decoded picture upright and converts shape's box of it (the shape in upright pixels) into
// out (its buffer kept when it already fits; row filler bytes stay zero). scratch holds the stored
// rows while they are turned.
bool ConvertPicture(MediaConverter& converter, const AVFrame* frame, int32_t index, const PictureShape& shape,
                    const Orientation& orientation, std::vector<uint8_t>* scratch, ConvertedFrame* out);

class MediaReadAhead {
public:
    // Takes over source from its current position until Stop returns; nobody else may touch it then.
    MediaReadAhead(MediaSource& source, const PictureShape& shape, const Orientation& orientation, size_t depth);
    ~MediaReadAhead();
    MediaReadAhead(const MediaReadAhead&) = delete;
    MediaReadAhead& operator=(const MediaReadAhead&) = delete;

    bool Start();
    void Stop();
    // The next picture in display order, waiting for it if need be; false once the stream has ended.
    // The buffer slot held before is kept for reuse.
    bool Pop(ConvertedFrame* slot);

    const PictureShape& Shape() const { return shape_; }
    int64_t Converted() const;

private:
    void Run();

    MediaSource& source_;
    MediaConverter converter_;
    const PictureShape shape_;
    const Orientation orientation_;
    std::vector<uint8_t> scratch_;
    const size_t depth_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ConvertedFrame> queue_;
    std::vector<std::vector<uint8_t>> spare_;
    bool stop_ = false;
    bool ended_ = false;
    int64_t converted_ = 0;
};
