// Decoded pictures kept for stepping back: the pictures decoded on the way to one are kept, in the
// decoder's own format (a 4:2:0 picture is half the size of its BGR rows), so that the pictures before
// it are at hand without decoding again from the key frame. Bounded by bytes; the picture put in
// first goes first.
#pragma once

#include <cstdint>
#include <deque>
#include <map>

#include "video/MediaSource.h"

class PictureCache {
public:
    // 0 turns the cache off; a smaller limit drops pictures at once.
    void SetLimit(int64_t bytes);
    int64_t Limit() const { return limit_; }
    bool Enabled() const { return limit_ > 0; }

    // The kept picture, or null; valid until the next Add, SetLimit or Clear.
    const AVFrame* Find(int32_t picture) const;
    // Keeps a reference to frame's buffers (no copy) as picture, dropping the oldest beyond the limit.
    // A picture larger than the whole limit is not kept.
    void Add(int32_t picture, const AVFrame* frame);
    void Clear();

    int64_t Bytes() const { return bytes_; }
    size_t Count() const { return pictures_.size(); }
    int64_t Hits() const { return hits_; }

    // Bytes a decoded picture holds.
    static int64_t SizeOf(const AVFrame* frame);

private:
    void Trim(int64_t limit);

    std::map<int32_t, AVFramePtr> pictures_;
    std::deque<int32_t> order_;  // oldest first
    int64_t bytes_ = 0;
    int64_t limit_ = 0;
    mutable int64_t hits_ = 0;
};

// The default memory for stepping back: 1 GB or an eighth of the machine's memory, whichever is less.
int64_t DefaultPictureCacheBytes();
