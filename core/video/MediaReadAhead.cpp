#include "video/MediaReadAhead.h"

#include <cstring>
#include <utility>

#include "image/dib.h"
#include "video/MediaSource.h"

bool ConvertPicture(MediaConverter& converter, const AVFrame* frame, int32_t index, const PictureShape& shape,
                    const Orientation& orientation, std::vector<uint8_t>* scratch, ConvertedFrame* out) {
    out->valid = false;
    const int32_t width = shape.box.width, height = shape.box.height;
    const int64_t stride = DibStride24(width);
    const size_t size = size_t(FrameBlockSize(width, height));
    try {
        if (out->block.size() != size || out->shape.box.width != width || out->shape.box.height != height) {
            out->block.assign(size, 0);
            BITMAPINFOHEADER header{};
            header.biSize = sizeof(BITMAPINFOHEADER);
            header.biWidth = width;
            header.biHeight = height;  // positive: rows bottom-up
            header.biPlanes = 1;
            header.biBitCount = 24;
            header.biCompression = BI_RGB;
            header.biSizeImage = uint32_t(stride * height);
            std::memcpy(out->block.data(), &header, sizeof header);
        }
    } catch (...) {
        out->block.clear();
        return false;
    }
    out->shape = shape;
    out->index = index;
    // The picture's top row goes last.
    uint8_t* top = out->block.data() + kDibHeaderSize + (height - 1) * stride;
    if (orientation.Identity()) {
        out->valid = converter.Convert(frame, shape, top, -stride);
        return out->valid;
    }
    // The stored pixels of the box, then turned upright into the block.
    const PictureShape stored = StoredShape(orientation, shape);
    const int64_t storedStride = 3 * int64_t(stored.box.width);
    try {
        scratch->resize(size_t(storedStride * stored.box.height));
    } catch (...) {
        return false;
    }
    out->valid = converter.Convert(frame, stored, scratch->data(), storedStride);
    if (out->valid)
        OrientPixels(orientation, scratch->data(), storedStride, stored.box.width, stored.box.height, 3, top, -stride);
    return out->valid;
}

MediaReadAhead::MediaReadAhead(MediaSource& source, const PictureShape& shape, const Orientation& orientation,
                               size_t depth)
    : source_(source), shape_(shape), orientation_(orientation), depth_(depth < 1 ? 1 : depth) {}

MediaReadAhead::~MediaReadAhead() { Stop(); }

bool MediaReadAhead::Start() {
    if (thread_.joinable()) return true;
    try {
        thread_ = std::thread(&MediaReadAhead::Run, this);
    } catch (...) {
        return false;
    }
    return true;
}

void MediaReadAhead::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

int64_t MediaReadAhead::Converted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return converted_;
}

void MediaReadAhead::Run() {
    for (;;) {
        ConvertedFrame out;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || queue_.size() < depth_; });
            if (stop_) return;
            if (!spare_.empty()) {
                out.block = std::move(spare_.back());
                spare_.pop_back();
                out.shape = shape_;
            }
        }
        SourceFrame picture;
        bool more = source_.Next(&picture);
        if (more) ConvertPicture(converter_, picture.frame.get(), picture.index, shape_, orientation_, &scratch_, &out);
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

bool MediaReadAhead::Pop(ConvertedFrame* slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !queue_.empty() || ended_ || stop_; });
    if (queue_.empty()) return false;
    if (slot->shape.box.width == shape_.box.width && slot->shape.box.height == shape_.box.height &&
        !slot->block.empty() && spare_.size() <= depth_) {
        try {
            spare_.push_back(std::move(slot->block));
        } catch (...) {
        }
    }
    *slot = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return true;
}
