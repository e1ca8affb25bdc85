#include "video/VideoFrameReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <sys/stat.h>

#include "fileio/OutputCheck.h"
#include "image/dib.h"
#include "video/AviReader.h"
#include "video/MediaDetector.h"
#include "video/MediaPictureCache.h"

namespace {

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kStreamTypeVideo = MakeFourCC('v', 'i', 'd', 's');

// A negative frame number asks for the first frame.
int32_t MediaFrame(int32_t frameIndex) { return frameIndex < 0 ? 0 : frameIndex; }

}  // namespace

bool IsMediaDetectorAvailable() {
    const char* env = std::getenv("TESSARON_MEDIA_DETECTOR");
    return !(env && std::strcmp(env, "0") == 0);
}

int64_t DefaultStepBackMemory() { return DefaultPictureCacheBytes(); }

void InterpolateLines(uint8_t* block, int32_t width, int32_t height) {
    if (!block || width <= 0 || height < 4) return;
    const int64_t stride = DibStride24(width);
    uint8_t* pixels = block + kDibHeaderSize;
    for (int32_t k = 0; k <= (height - 4) / 2; ++k) {
        uint8_t* row = pixels + int64_t(2 * k + 1) * stride;
        const uint8_t* below = row - stride;
        const uint8_t* above = row + stride;
        for (int64_t b = 0; b < stride; ++b) row[b] = uint8_t((below[b] >> 1) + (above[b] >> 1));
    }
}

VideoFrameReader::VideoFrameReader() = default;

VideoFrameReader::~VideoFrameReader() = default;

void VideoFrameReader::SetDeinterlace(int flag) { deinterlace = flag; }

void VideoFrameReader::SetOpenProgress(IndexProgress progress) { openProgress = std::move(progress); }

void VideoFrameReader::SetStepBackMemory(int64_t bytes) {
    stepBackMemory = bytes;
    if (detector) detector->SetStepBackMemory(bytes);
}

FrameInfo& VideoFrameReader::Open(const char* path) {
    Release();
    info = FrameInfo();
    lastError.clear();
    info.useMediaDetector = IsMediaDetectorAvailable();
    if (!path) return info;
    // Only regular files: opening a FIFO would wait for a writer forever.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        lastError = "is " + FileKindText(st.st_mode) + ", not a regular file";
        return info;
    }

    if (info.useMediaDetector) return OpenMedia(path, nullptr, 0);

    // Our own AVI reader: uncompressed frames by number.
    aviFile = AviReader::OpenFile(path);
    if (!aviFile) return info;
    if (RefreshStreamInfo() != kStreamTypeVideo || !aviFile->CanDecode()) return info;
    for (int32_t i = 0; i < info.frameCount; ++i) {
        int32_t blockSize = 0;
        FrameBlockPtr frame(aviFile->DecodeFrame(i, &blockSize));
        if (!frame) continue;
        if (blockSize < kDibHeaderSize) break;
        BITMAPINFOHEADER header;
        std::memcpy(&header, frame.get(), sizeof header);
        int32_t height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        if (!FrameSizeAllowed(header.biWidth, height) || blockSize != FrameBlockSize(header.biWidth, height)) break;
        info.firstFrame = i;
        info.width = header.biWidth;
        info.height = height;
        info.succeeded = true;
        break;
    }
    return info;
}

FrameInfo& VideoFrameReader::OpenMemory(const uint8_t* data, size_t size) {
    Release();
    info = FrameInfo();
    lastError.clear();
    info.useMediaDetector = true;
    if (!data) return info;
    return OpenMedia(nullptr, data, size);
}

// Opens through the media detector: path, or the file held in data.
FrameInfo& VideoFrameReader::OpenMedia(const char* path, const uint8_t* data, size_t size) {
    try {
        detector = std::make_unique<MediaDetector>();
    } catch (...) {
        detector.reset();
    }
    if (!detector) return info;
    // A failed open leaves the detector in place (the caller closes), its error copied for after Close.
    const auto fail = [this](const char* otherwise) -> FrameInfo& {
        lastError = detector->LastError().empty() ? otherwise : detector->LastError();
        return info;
    };
    detector->SetOpenProgress(openProgress);
    detector->SetStepBackMemory(stepBackMemory);
    if (data) {
        detector->SetMemoryFile(data, size);
    } else {
        detector->SetFilename(path);
    }
    info.framesPerSecond = detector->FrameRate();
    if (info.framesPerSecond < 1e-30) return fail("the video stream has no frame rate");
    info.framePeriod = info.framesPerSecond > 0 ? 1.0 / info.framesPerSecond : 1.0 / 30.0;
    info.streamLength = detector->StreamLength();
    int32_t width = 0, height = 0;
    if (!detector->GetVideoFormat(&width, &height) || !FrameSizeAllowed(width, height)) return fail("");
    info.width = width;
    info.height = height;
    info.frameCount = detector->FrameCount();
    const Orientation orientation = detector->GetOrientation();
    info.rotation = orientation.Rotation();
    info.mirrored = orientation.Mirrored();
    std::free(ReadFrame(info, 0));  // warm-up
    info.succeeded = true;
    return info;
}

uint32_t VideoFrameReader::RefreshStreamInfo() {
    if (!aviFile) return 0;
    // Every frame of the stream is offered, the last one included.
    uint32_t length = aviFile->Length();
    info.frameCount = length > uint32_t(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                                             : int32_t(length);
    info.framesPerSecond = aviFile->Scale() != 0 ? double(aviFile->Rate()) / double(aviFile->Scale()) : 0.0;
    return aviFile->StreamType();
}

uint8_t* VideoFrameReader::ReadFrame(FrameInfo& frameInfo, int32_t frameIndex) {
    frameBlock = nullptr;
    if (info.useMediaDetector) {
        if (!detector) return nullptr;
        if (frameIndex >= info.frameCount) return nullptr;
        const uint8_t* picture = detector->PeekBitmapPart(MediaFrame(frameIndex), info.width, info.height, 0, 0,
                                                          info.width, info.height);
        if (!picture) {
            frameInfo.succeeded = true;
            return nullptr;
        }
        const int32_t size = int32_t(FrameBlockSize(info.width, info.height));
        frameInfo.frameBlockSize = size;
        frameBlock = static_cast<uint8_t*>(std::malloc(size_t(size)));
        if (!frameBlock) {
            frameInfo.succeeded = false;
            return nullptr;
        }
        std::memcpy(frameBlock, picture, size_t(size));
        if (deinterlace) InterpolateLines(frameBlock, info.width, info.height);
        frameInfo.succeeded = true;
        return frameBlock;
    }

    if (!aviFile) return nullptr;
    if (RefreshStreamInfo() == kStreamTypeVideo) {
        int32_t blockSize = 0;
        FrameBlockPtr decoded(aviFile->DecodeFrame(frameIndex, &blockSize));
        if (decoded && blockSize == FrameBlockSize(info.width, info.height)) {
            frameInfo.frameBlockSize = blockSize;
            frameBlock = decoded.release();
        }
    }
    // Frames of this back end are handed out as decoded, never line-interpolated.
    frameInfo.succeeded = true;
    return frameBlock;
}

const uint8_t* VideoFrameReader::PeekFrame(FrameInfo& frameInfo, int32_t frameIndex) {
    peekBlock.reset();
    if (info.useMediaDetector && !deinterlace) {
        frameBlock = nullptr;
        if (!detector) return nullptr;
        if (frameIndex >= info.frameCount) return nullptr;
        const uint8_t* picture = detector->PeekBitmapPart(MediaFrame(frameIndex), info.width, info.height, 0, 0,
                                                          info.width, info.height);
        frameInfo.succeeded = true;
        if (picture) frameInfo.frameBlockSize = int32_t(FrameBlockSize(info.width, info.height));
        return picture;
    }
    peekBlock.reset(ReadFrame(frameInfo, frameIndex));
    return peekBlock.get();
}

const uint8_t* VideoFrameReader::ReadFramePart(FrameInfo& frameInfo, int32_t frameIndex, int32_t left, int32_t top,
                                               int32_t width, int32_t height, int32_t* blockSize) {
    if (blockSize) *blockSize = 0;
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || width > info.width - left || height > info.height - top)
        return nullptr;
    const int32_t partSize = int32_t(FrameBlockSize(width, height));
    if (info.useMediaDetector && !deinterlace) {
        if (!detector) return nullptr;
        if (frameIndex >= info.frameCount) return nullptr;
        const uint8_t* part = detector->PeekBitmapPart(MediaFrame(frameIndex), info.width, info.height, left, top,
                                                       width, height);
        frameInfo.succeeded = true;
        if (part && blockSize) *blockSize = partSize;
        return part;
    }

    // Whole frames otherwise (line interpolation needs the rows around the box); the box is cut out.
    FrameBlockPtr whole(ReadFrame(frameInfo, frameIndex));
    if (!whole || frameInfo.frameBlockSize != FrameBlockSize(info.width, info.height)) return nullptr;
    BITMAPINFOHEADER header;
    std::memcpy(&header, whole.get(), sizeof header);
    if (header.biBitCount != 24 || header.biWidth != info.width || header.biHeight != info.height) return nullptr;
    header.biWidth = width;
    header.biHeight = height;
    header.biSizeImage = uint32_t(partSize - kDibHeaderSize);
    try {
        partBlock.assign(size_t(partSize), 0);
    } catch (...) {
        frameInfo.succeeded = false;
        return nullptr;
    }
    std::memcpy(partBlock.data(), &header, sizeof header);
    const int64_t wholeStride = DibStride24(info.width), partStride = DibStride24(width);
    const uint8_t* from = whole.get() + kDibHeaderSize;
    uint8_t* to = partBlock.data() + kDibHeaderSize;
    for (int32_t k = 0; k < height; ++k) {
        // Rows are bottom-up: picture row top + k is block row info.height - 1 - (top + k).
        const uint8_t* row = from + int64_t(info.height - 1 - top - k) * wholeStride + 3 * int64_t(left);
        std::memcpy(to + int64_t(height - 1 - k) * partStride, row, 3 * size_t(width));
    }
    if (blockSize) *blockSize = partSize;
    return partBlock.data();
}

double VideoFrameReader::FrameTime(int32_t frameIndex) const {
    if (info.frameCount <= 0) return 0;
    frameIndex = std::clamp(frameIndex, 0, info.frameCount - 1);
    if (detector) return detector->FrameTime(frameIndex);
    return info.framesPerSecond > 0 ? frameIndex / info.framesPerSecond : 0;
}

std::vector<std::pair<std::string, std::string>> VideoFrameReader::ContainerTags() const {
    return detector ? detector->Tags() : std::vector<std::pair<std::string, std::string>>();
}

std::vector<double> VideoFrameReader::FrameTimes() const {
    std::vector<double> times;
    try {
        times.resize(size_t(std::max(info.frameCount, 0)));
    } catch (...) {
        return {};
    }
    for (size_t i = 0; i < times.size(); ++i) times[i] = FrameTime(int32_t(i));
    return times;
}

int32_t VideoFrameReader::FrameAtTime(double seconds) const {
    if (info.frameCount <= 0) return -1;
    if (detector) return detector->FrameAtTime(seconds);
    if (!(info.framesPerSecond > 0) || !(seconds > 0)) return 0;
    // A time typed or computed in seconds lands on the frame it names despite rounding.
    const double n = std::floor(seconds * info.framesPerSecond + 1e-6);
    return n >= double(info.frameCount - 1) ? info.frameCount - 1 : int32_t(n);
}

bool VideoFrameReader::IsKeyFrame(int32_t frameIndex) const {
    if (frameIndex < 0 || frameIndex >= info.frameCount) return false;
    return detector ? detector->IsKeyFrame(frameIndex) : true;
}

int32_t VideoFrameReader::KeyFrameAtOrBefore(int32_t frameIndex) const {
    if (info.frameCount <= 0) return -1;
    frameIndex = std::clamp(frameIndex, 0, info.frameCount - 1);
    return detector ? detector->KeyFrameAtOrBefore(frameIndex) : frameIndex;
}

void VideoFrameReader::Release() {
    if (detector && !detector->LastError().empty()) lastError = detector->LastError();
    // The detector's destructor stops its read-ahead thread and frees the demuxer and decoder.
    detector.reset();
    aviFile.reset();
    frameBlock = nullptr;
    std::vector<uint8_t>().swap(partBlock);
    peekBlock.reset();
    std::vector<uint8_t>().swap(lumaCopy);
}

void VideoFrameReader::Close(FrameInfo& /*frameInfo*/) { Release(); }

const std::string& VideoFrameReader::LastError() const {
    return detector && !detector->LastError().empty() ? detector->LastError() : lastError;
}

MediaDetector* VideoFrameReader::Detector() const { return detector.get(); }
