#include "video/MediaReadAhead.h"

#include <utility>

#include "image/dib.h"
#include "video/MediaSource.h"

bool PrepareConvertedFrame(ConvertedFrame* frame, const PictureShape& shape)
{
    const int32_t width = shape.box.width, height = shape.box.height;
    size_t size = size_t(DibStride24(width)) * size_t(height);
    try {
        if (frame->pixels.size() != size || frame->shape.box.width != width || frame->shape.box.height != height)
            frame->pixels.assign(size, 0);
    } catch (...) {
        return false;
    }
    frame->shape = shape;
    return true;
}

MediaReadAhead::MediaReadAhead(MediaSource& source, const PictureShape& shape, size_t depth)
    : source_(source), shape_(shape), depth_(depth < 1 ? 1 : depth)
{
}

MediaReadAhead::~MediaReadAhead() { Stop(); }

bool MediaReadAhead::Start()
{
    if (thread_.joinable()) return true;
    try {
        thread_ = std::thread(&MediaReadAhead::Run, this);
    } catch (...) {
        return false;
    }
    return true;
}

void MediaReadAhead::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

int64_t MediaReadAhead::Converted() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return converted_;
}

void MediaReadAhead::Run()
{
    for (;;) {
        ConvertedFrame out;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || queue_.size() < depth_; });
            if (stop_) return;
            if (!spare_.empty()) {
                out.pixels = std::move(spare_.back());
                spare_.pop_back();
                out.shape = shape_;
            }
        }
        SourceFrame picture;
        bool more = source_.Next(&picture);
        if (more) {
            out.start = picture.start;
            out.end = picture.end;
            out.valid = PrepareConvertedFrame(&out, shape_) &&
                        converter_.Convert(picture.frame.get(), shape_, out.pixels.data());
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (more) {
                try {
                    queue_.push_back(std::move(out));
                    ++converted_;
                } catch (...) {
                    more = false;
                }
            }
            ended_ = !more;
        }
        changed_.notify_all();
        if (!more) return;
    }
}

bool MediaReadAhead::Pop(ConvertedFrame* slot)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !queue_.empty() || ended_ || stop_; });
    if (queue_.empty()) return false;
    if (slot->shape.box.width == shape_.box.width && slot->shape.box.height == shape_.box.height &&
        !slot->pixels.empty() && spare_.size() <= depth_) {
        try {
            spare_.push_back(std::move(slot->pixels));
        } catch (...) {
        }
    }
    *slot = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return true;
}
