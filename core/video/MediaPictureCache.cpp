#include "video/MediaPictureCache.h"

#include <algorithm>

#include <unistd.h>

extern "C" {
#include <libavutil/buffer.h>
}

int64_t PictureCache::SizeOf(const AVFrame* frame) {
    int64_t bytes = 0;
    for (const AVBufferRef* buf : frame->buf)
        if (buf) bytes += int64_t(buf->size);
    for (int i = 0; i < frame->nb_extended_buf; ++i)
        if (frame->extended_buf[i]) bytes += int64_t(frame->extended_buf[i]->size);
    return bytes;
}

void PictureCache::SetLimit(int64_t bytes) {
    limit_ = std::max<int64_t>(0, bytes);
    Trim(limit_);
}

const AVFrame* PictureCache::Find(int32_t picture) const {
    auto it = pictures_.find(picture);
    if (it == pictures_.end()) return nullptr;
    ++hits_;
    return it->second.get();
}

void PictureCache::Add(int32_t picture, const AVFrame* frame) {
    if (!Enabled() || !frame || pictures_.count(picture)) return;
    const int64_t size = SizeOf(frame);
    if (size <= 0 || size > limit_) return;
    Trim(limit_ - size);
    try {
        AVFramePtr kept(av_frame_clone(frame));
        if (!kept) return;
        order_.push_back(picture);
        pictures_.emplace(picture, std::move(kept));
        bytes_ += size;
    } catch (...) {
        if (!order_.empty() && order_.back() == picture && !pictures_.count(picture)) order_.pop_back();
    }
}

void PictureCache::Trim(int64_t limit) {
    while (bytes_ > limit && !order_.empty()) {
        auto it = pictures_.find(order_.front());
        order_.pop_front();
        if (it == pictures_.end()) continue;
        bytes_ -= SizeOf(it->second.get());
        pictures_.erase(it);
    }
}

void PictureCache::Clear() { Trim(-1); }

int64_t DefaultPictureCacheBytes() {
    constexpr int64_t kGigabyte = 1024ll * 1024 * 1024;
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kGigabyte / 4;
    return std::min(kGigabyte, int64_t(pages) * pageSize / 8);
}
