// Choices where the file format allows several readings:
// - Length() counts the frames of the index actually used: the OpenDML indices first, else idx1 (plus a
//   scan of continuation RIFFs, which idx1 does not cover), else a scan of every movi list. strh
//   dwLength and the header totals are not trusted for what can be read.
// - An OpenDML index that names a missing or damaged standard index is set aside as a whole, since
//   skipping that part would shift every later frame; idx1 or a scan takes over.
// - idx1 offsets may count from the "movi" FOURCC or from the start of the file; the first entries'
//   chunk headers decide which.
// - A zero-size frame chunk is a dropped frame and repeats the frame before it, as players show it.
//   A dropped frame with nothing before it does not decode.
// - An indexed frame whose chunk does not lie wholly in the file stays counted and does not decode; a
//   scan stops at the first frame the file holds only in part, so that frame is not counted.
// - Palette changes (##pc chunks) found through idx1 or a scan apply from the next frame on.
// - Only biCompression BI_RGB decodes, whatever the stream's fccHandler says; a frame whose data is
//   shorter than the format needs does not decode, and longer data is read up to what it needs.
#include "video/AviReader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "image/dib.h"
#include "video/AviReaderParse.h"
#include "video/AviReaderPixels.h"
#include "video/ExceptionText.h"
#include "video/RiffSource.h"

namespace {

// Palettes are kept every this many changes, so a jump back replays few of them.
constexpr size_t kPaletteCheckpointEvery = 64;
// Source rows read per band when converting from a file.
constexpr uint64_t kScratchBytes = 256 * 1024;
// A palette change chunk holds 4 + 4 × 256 bytes in practice; more is not read.
constexpr uint32_t kMaxPaletteChunkRead = 8192;

using Palette = std::array<uint8_t, 256 * 4>;

class AviReaderImpl final : public AviReader {
public:
    AviReaderImpl(std::unique_ptr<ByteSource> src, AviLayout layout)
        : src_(std::move(src)), layout_(std::move(layout)) {
        pixels_ = MakeAviPixelLayout(layout_.width, layout_.height, layout_.bitCount);
        canDecode_ = AviFormatDecodable(layout_.compression, layout_.bitCount);
        std::memcpy(current_.data(), layout_.palette, current_.size());
    }

    uint32_t StreamType() const override { return layout_.fccType; }
    uint32_t Handler() const override { return layout_.fccHandler; }
    uint32_t Rate() const override { return layout_.rate; }
    uint32_t Scale() const override { return layout_.scale; }
    uint32_t Length() const override { return uint32_t(layout_.frames.size()); }
    int32_t Width() const override { return pixels_.width; }
    int32_t Height() const override { return pixels_.height; }
    uint16_t BitCount() const override { return layout_.bitCount; }
    uint32_t Compression() const override { return layout_.compression; }
    bool CanDecode() const override { return canDecode_; }

    uint8_t* DecodeFrame(int32_t n, int32_t* blockSize) override {
        try {
            return Decode(n, blockSize);
        } catch (...) {
            return nullptr;  // a failed allocation of the scratch buffer or a checkpoint
        }
    }

private:
    uint8_t* Decode(int32_t n, int32_t* blockSize);
    const uint8_t (*PaletteFor(uint32_t frame))[4];
    void ApplyPaletteChange(const AviPaletteChange& change);

    std::unique_ptr<ByteSource> src_;
    AviLayout layout_;
    AviPixelLayout pixels_;
    bool canDecode_ = false;
    std::vector<uint8_t> scratch_;  // a band of source rows when they cannot be read in place

    Palette current_{};  // palette after the first applied_ changes
    size_t applied_ = 0;
    std::vector<Palette> checkpoints_;  // [k]: palette after k × kPaletteCheckpointEvery changes
};

uint8_t* AviReaderImpl::Decode(int32_t n, int32_t* blockSize) {
    if (!canDecode_ || n < 0 || size_t(n) >= layout_.frames.size()) return nullptr;
    const AviFrameRef& ref = layout_.frames[size_t(n)];
    // The whole chunk must lie in the file, not only the part the picture needs.
    if (ref.size < pixels_.srcBytes || !src_->Contains(ref.offset, ref.size)) return nullptr;

    // The open refused frames over the block limit, so the size fits in 32 bits.
    const int64_t size = FrameBlockSize(pixels_.width, pixels_.height);
    FrameBlockPtr block(static_cast<uint8_t*>(std::malloc(size_t(size))));
    if (!block) return nullptr;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = pixels_.width;
    header.biHeight = pixels_.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = uint32_t(size - kDibHeaderSize);
    std::memcpy(block.get(), &header, sizeof header);
    uint8_t* rows = block.get() + kDibHeaderSize;

    if (pixels_.bitCount == 24 && !pixels_.topDown) {
        // Same layout as the block: the rows go straight from the file into place.
        if (!src_->ReadAt(ref.offset, rows, size_t(pixels_.srcBytes))) return nullptr;
        const int64_t stride = DibStride24(pixels_.width);
        const int64_t used = int64_t(pixels_.width) * 3;
        if (stride != used) {
            for (int32_t y = 0; y < pixels_.height; ++y)
                std::memset(rows + y * stride + used, 0, size_t(stride - used));
        }
    } else {
        const uint8_t(*palette)[4] = PaletteFor(uint32_t(n));
        if (const uint8_t* data = src_->View(ref.offset, size_t(pixels_.srcBytes))) {
            ConvertAviRows(data, 0, pixels_.height, pixels_, palette, rows);
        } else {
            // Read a band of rows at a time: the scratch buffer stays small and in cache.
            const int32_t band = int32_t(
                std::clamp<uint64_t>(kScratchBytes / pixels_.srcStride, 1, uint64_t(pixels_.height)));
            scratch_.resize(size_t(uint64_t(band) * pixels_.srcStride));
            for (int32_t row = 0; row < pixels_.height; row += band) {
                const int32_t count = std::min(band, pixels_.height - row);
                if (!src_->ReadAt(ref.offset + uint64_t(row) * pixels_.srcStride, scratch_.data(),
                                  size_t(uint64_t(count) * pixels_.srcStride)))
                    return nullptr;
                ConvertAviRows(scratch_.data(), row, count, pixels_, palette, rows);
            }
        }
    }
    if (blockSize) *blockSize = int32_t(size);
    return block.release();
}

const uint8_t (*AviReaderImpl::PaletteFor(uint32_t frame))[4] {
    const auto& changes = layout_.paletteChanges;
    if (pixels_.bitCount != 8 || changes.empty()) return layout_.palette;
    const size_t target = size_t(
        std::upper_bound(changes.begin(), changes.end(), frame,
                         [](uint32_t f, const AviPaletteChange& c) { return f < c.firstFrame; }) -
        changes.begin());
    if (checkpoints_.empty()) {
        std::memcpy(current_.data(), layout_.palette, current_.size());
        checkpoints_.push_back(current_);
        applied_ = 0;
    }
    if (target < applied_) {
        const size_t k = std::min(target / kPaletteCheckpointEvery, checkpoints_.size() - 1);
        current_ = checkpoints_[k];
        applied_ = k * kPaletteCheckpointEvery;
    }
    while (applied_ < target) {
        ApplyPaletteChange(changes[applied_]);
        ++applied_;
        if (applied_ % kPaletteCheckpointEvery == 0 && applied_ / kPaletteCheckpointEvery == checkpoints_.size())
            checkpoints_.push_back(current_);
    }
    return reinterpret_cast<const uint8_t(*)[4]>(current_.data());
}

// A palette change: first entry, entry count (0 = 256), flags, then the new entries as red, green,
// blue, flags. A chunk may hold several of them one after another.
void AviReaderImpl::ApplyPaletteChange(const AviPaletteChange& change) {
    const uint32_t len = std::min(change.size, kMaxPaletteChunkRead);
    uint8_t buf[kMaxPaletteChunkRead];
    if (!src_->ReadAt(change.offset, buf, len)) return;  // not in the file: the palette stays as it was
    uint32_t pos = 0;
    while (len - pos >= 4) {
        const uint32_t first = buf[pos];
        const uint32_t count = buf[pos + 1] == 0 ? 256 : buf[pos + 1];
        pos += 4;
        const uint32_t held = std::min(count, (len - pos) / 4);
        for (uint32_t i = 0; i < held && first + i < 256; ++i) {
            uint8_t* entry = current_.data() + (first + i) * 4;
            const uint8_t* e = buf + pos + i * 4;
            entry[0] = e[2];
            entry[1] = e[1];
            entry[2] = e[0];
            entry[3] = 0;
        }
        if (held < count) break;
        pos += count * 4;
    }
}

std::unique_ptr<AviReader> OpenSource(std::unique_ptr<ByteSource> src, std::string* error) {
    if (!src) {
        if (error && error->empty()) *error = "out of memory";
        return nullptr;
    }
    try {
        AviLayout layout;
        if (!ParseAvi(*src, &layout, error)) return nullptr;
        return std::make_unique<AviReaderImpl>(std::move(src), std::move(layout));
    } catch (...) {
        if (error) *error = CurrentExceptionText();
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<AviReader> AviReader::OpenFile(const char* path, std::string* error) {
    try {
        return OpenSource(OpenFileByteSource(path, error), error);
    } catch (...) {
        if (error && error->empty()) *error = CurrentExceptionText("");
        return nullptr;
    }
}

std::unique_ptr<AviReader> AviReader::OpenMemory(const uint8_t* data, size_t size, std::string* error) {
    try {
        return OpenSource(MakeMemoryByteSource(data, size), error);
    } catch (...) {
        if (error && error->empty()) *error = CurrentExceptionText("");
        return nullptr;
    }
}
