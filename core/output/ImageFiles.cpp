#include "output/ImageFiles.h"

#include <fcntl.h>
#include <png.h>
#include <stdio.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "fileio/OutputCheck.h"
#include "fileio/TempFile.h"
#include "fileio/WriteAll.h"
#include "image/dib.h"
#include "output/ImageOrigin.h"
#include "video/ExceptionText.h"
#include "video/VideoFrameReader.h"

namespace {

// PNG settings chosen by measuring 100 1080p video frames (a test pattern, and the same with grain)
// against ffmpeg's PNG encoder: the "up" filter with zlib's run-length strategy was the fastest of
// the sub, up and Paeth filters at levels 1 to 6 with and without it, and its files were 1 % and 17 %
// smaller than ffmpeg's. Paeth compressed a little better but took 35 % longer.
constexpr int kPngFilter = PNG_FILTER_UP;
constexpr int kPngLevel = 2;
constexpr int kPngStrategy = Z_RLE;

// Top-down RGB rows of bottom-up BGR rows, one row at a time.
void RgbRow(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, int32_t y, uint8_t* out) {
    const uint8_t* in = rows + int64_t(height - 1 - y) * stride;
    for (int32_t x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
    }
}

// ---- PNG

struct PngSink {
    std::vector<uint8_t>* bytes;
    std::string error;
};

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    sink->bytes->insert(sink->bytes->end(), data, data + length);
}
void PngFlush(png_structp) {}
void PngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    sink->error = message ? message : "PNG encoder error";
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// No C++ object with a destructor lives in this function's frame across setjmp.
bool EncodePngRows(png_structp png, png_infop info, const uint8_t* rows, int32_t width, int32_t height, int64_t stride,
                   uint8_t* rgb) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kPngFilter);
    png_set_compression_level(png, kPngLevel);
    png_set_compression_strategy(png, kPngStrategy);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y) {
        RgbRow(rows, width, height, stride, y, rgb);
        png_write_row(png, rgb);
    }
    png_write_end(png, info);
    return true;
}

bool EncodePng(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, std::vector<uint8_t>* bytes,
               std::string* error) {
    PngSink sink{bytes, {}};
    std::vector<uint8_t> rgb(size_t(width) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, PngError, PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    png_set_write_fn(png, &sink, PngWrite, PngFlush);
    const bool ok = EncodePngRows(png, info, rows, width, height, stride, rgb.data());
    png_destroy_write_struct(&png, &info);
    if (!ok) *error = sink.error;
    return ok;
}

// ---- JPEG

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegExit(j_common_ptr cinfo) {
    auto* error = reinterpret_cast<JpegError*>(cinfo->err);
    cinfo->err->format_message(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

bool EncodeJpegRows(jpeg_compress_struct* cinfo, JpegError* error, const uint8_t* rows, int32_t width, int32_t height,
                    int64_t stride, int quality, unsigned char** out, unsigned long* outSize) {
    if (setjmp(error->jump)) return false;
    jpeg_create_compress(cinfo);
    jpeg_mem_dest(cinfo, out, outSize);
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    // As cjpeg -quality: tables scaled without forcing baseline; full-resolution chroma from 90 up.
    jpeg_set_quality(cinfo, quality, FALSE);
    if (quality >= 90) {
        for (int c = 0; c < 3; ++c) cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + int64_t(height - 1 - int32_t(cinfo->next_scanline)) * stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool EncodeJpeg(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, int quality,
                std::vector<uint8_t>* bytes, std::string* error) {
    jpeg_compress_struct cinfo{};
    JpegError jerr{};
    cinfo.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = JpegExit;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const bool ok = EncodeJpegRows(&cinfo, &jerr, rows, width, height, stride, std::clamp(quality, 1, 100), &out,
                                   &outSize);
    jpeg_destroy_compress(&cinfo);
    if (ok)
        bytes->assign(out, out + outSize);
    else
        *error = jerr.message;
    std::free(out);
    return ok;
}

// ---- TIFF, written into memory through libtiff's client procedures

struct TiffMemory {
    std::vector<uint8_t>* bytes;
    uint64_t position = 0;
};

tmsize_t TiffRead(thandle_t handle, void* data, tmsize_t size) {
    auto* m = static_cast<TiffMemory*>(handle);
    if (m->position >= m->bytes->size()) return 0;
    const size_t n = std::min<size_t>(size_t(size), m->bytes->size() - m->position);
    std::memcpy(data, m->bytes->data() + m->position, n);
    m->position += n;
    return tmsize_t(n);
}
tmsize_t TiffWrite(thandle_t handle, void* data, tmsize_t size) {
    auto* m = static_cast<TiffMemory*>(handle);
    try {
        if (m->position + uint64_t(size) > m->bytes->size()) m->bytes->resize(size_t(m->position + uint64_t(size)));
    } catch (...) {
        return -1;
    }
    std::memcpy(m->bytes->data() + m->position, data, size_t(size));
    m->position += uint64_t(size);
    return size;
}
toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    auto* m = static_cast<TiffMemory*>(handle);
    const uint64_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->bytes->size() : 0;
    m->position = base + offset;
    return m->position;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t handle) { return static_cast<TiffMemory*>(handle)->bytes->size(); }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

bool EncodeTiff(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, bool deflate,
                std::vector<uint8_t>* bytes, std::string* error) {
    TiffMemory memory{bytes};
    // libtiff reports through global handlers; they are silenced once, the result says what failed.
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
    TIFF* tiff = TIFFClientOpen("frame", "w", &memory, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                                TiffUnmap);
    if (!tiff) {
        *error = "cannot start the TIFF encoder";
        return false;
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    if (deflate) TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> rgb(size_t(width) * 3);
    bool ok = true;
    for (int32_t y = 0; y < height && ok; ++y) {
        RgbRow(rows, width, height, stride, y, rgb.data());
        ok = TIFFWriteScanline(tiff, rgb.data(), uint32_t(y), 0) == 1;
    }
    ok = TIFFWriteDirectory(tiff) == 1 && ok;
    TIFFClose(tiff);
    if (!ok) *error = "the TIFF encoder failed";
    return ok;
}

// ---- BMP: file header, info header, the bottom-up rows as they are

bool EncodeBmp(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, std::vector<uint8_t>* bytes) {
    const int64_t outStride = DibStride24(width);
    const int64_t imageSize = outStride * height;
    const int64_t fileSize = 14 + kDibHeaderSize + imageSize;
    if (fileSize > INT32_MAX) return false;
    bytes->assign(size_t(fileSize), 0);
    uint8_t* p = bytes->data();
    const auto put16 = [](uint8_t* at, uint32_t v) { at[0] = uint8_t(v), at[1] = uint8_t(v >> 8); };
    const auto put32 = [](uint8_t* at, uint32_t v) {
        for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
    };
    p[0] = 'B', p[1] = 'M';
    put32(p + 2, uint32_t(fileSize));
    put32(p + 10, uint32_t(14 + kDibHeaderSize));
    uint8_t* h = p + 14;
    put32(h, uint32_t(kDibHeaderSize));
    put32(h + 4, uint32_t(width));
    put32(h + 8, uint32_t(height));
    put16(h + 12, 1);
    put16(h + 14, 24);
    put32(h + 20, uint32_t(imageSize));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(h + kDibHeaderSize + y * outStride, rows + y * stride, size_t(3 * width));
    return true;
}

std::string Padded(int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (value >= 0 && int(digits.size()) < width) digits.insert(0, size_t(width - int(digits.size())), '0');
    return digits;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

bool ParseImageFormat(const std::string& text, ImageFormat* format) {
    std::string lower = text;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "png")
        *format = ImageFormat::Png;
    else if (lower == "jpg" || lower == "jpeg")
        *format = ImageFormat::Jpeg;
    else if (lower == "tif" || lower == "tiff")
        *format = ImageFormat::Tiff;
    else if (lower == "bmp")
        *format = ImageFormat::Bmp;
    else
        return false;
    return true;
}

const char* ImageFormatExtension(ImageFormat format) {
    switch (format) {
    case ImageFormat::Png: return "png";
    case ImageFormat::Jpeg: return "jpg";
    case ImageFormat::Tiff: return "tif";
    case ImageFormat::Bmp: return "bmp";
    }
    return "png";
}

bool EncodeImage(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, const ImageEncoding& encoding,
                 std::vector<uint8_t>* bytes, std::string* error) {
    bytes->clear();
    if (!FrameSizeAllowed(width, height) || stride < 3 * int64_t(width)) {
        *error = "bad image size";
        return false;
    }
    try {
        switch (encoding.format) {
        case ImageFormat::Png: return EncodePng(rows, width, height, stride, bytes, error);
        case ImageFormat::Jpeg: return EncodeJpeg(rows, width, height, stride, encoding.jpegQuality, bytes, error);
        case ImageFormat::Tiff: return EncodeTiff(rows, width, height, stride, encoding.tiffDeflate, bytes, error);
        case ImageFormat::Bmp:
            if (EncodeBmp(rows, width, height, stride, bytes)) return true;
            *error = "too big for a BMP file";
            return false;
        }
    } catch (...) {
        *error = "out of memory";
    }
    return false;
}

namespace {

// A file written whole under a temporary name beside its target, not yet in place.
struct StagedFile {
    std::string path;    // as asked for (for messages)
    std::string target;  // where it goes (a link's target resolved)
    std::string temp;
};

// First half of WriteFileWhole: the bytes in a temporary file beside path. False with *error set and
// no temporary left.
bool StageFile(const std::string& path, const void* data, size_t size, bool replace, StagedFile* staged,
               std::string* error) {
    staged->path = path;
    staged->target = ResolveWriteTarget(path);
    const int fd = CreateTempBeside(staged->target, &staged->temp);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // A replaced file keeps its permission bits.
    bool ok = WriteAll(fd, data, size) && (!replace || KeepPermissions(fd, staged->target));
    int saved = errno;
    if (::close(fd) != 0 && ok) ok = false, saved = errno;
    if (!ok) {
        ::unlink(staged->temp.c_str());
        *error = path + ": " + std::strerror(saved);
    }
    return ok;
}

// Second half: the temporary file takes the target's name (or, with keep false, is dropped).
bool PlaceFile(const StagedFile& staged, bool replace, bool keep, std::string* error) {
    bool ok = keep;
    int saved = 0;
    if (keep) {
        if (replace) {
            if (::rename(staged.temp.c_str(), staged.target.c_str()) != 0) ok = false, saved = errno;
        } else {
            // A hard link fails when the target exists, so a file made meanwhile is never replaced.
            if (::link(staged.temp.c_str(), staged.target.c_str()) != 0) ok = false, saved = errno;
        }
    }
    ::unlink(staged.temp.c_str());
    if (keep && !ok) *error = staged.path + ": " + std::strerror(saved);
    return ok;
}

}  // namespace

bool WriteFileWhole(const std::string& path, const void* data, size_t size, bool replace, std::string* error) {
    StagedFile staged;
    return StageFile(path, data, size, replace, &staged, error) && PlaceFile(staged, replace, true, error);
}

std::string FormatFrameTime(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
    const int64_t ms = int64_t(std::llround(seconds * 1000));
    char text[40];
    std::snprintf(text, sizeof text, "%02lld-%02lld-%02lld.%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string ExpandImageName(const std::string& pattern, const ImageNameFields& f) {
    const int frameWidth = int(std::to_string(std::max(f.frameCount - 1, 0)).size());
    std::string name;
    for (size_t i = 0; i < pattern.size();) {
        const size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string::npos;
        if (close != std::string::npos) {
            const std::string field = pattern.substr(i + 1, close - i - 1);
            bool known = true;
            if (field == "stem")
                name += f.stem;
            else if (field == "frame")
                name += Padded(f.frame, frameWidth);
            else if (field == "time")
                name += FormatFrameTime(f.seconds);
            else if (field == "rank")
                name += std::to_string(f.rank);
            else if (field == "score")
                name += std::to_string(f.score);
            else
                known = false;
            if (known) {
                i = close + 1;
                continue;
            }
        }
        name += pattern[i++];
    }
    return name;
}

std::string DefaultImagePattern(ImageFormat format) {
    return std::string("{stem}_{frame}.") + ImageFormatExtension(format);
}

std::string FileStem(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::vector<std::string> PlannedImagePaths(const VideoFrameReader& reader, const FrameInfo& info,
                                           const std::vector<ImageItem>& items, const ImageExportSettings& settings,
                                           std::string* error) {
    const std::string pattern = settings.pattern.empty() ? DefaultImagePattern(settings.encoding.format)
                                                         : settings.pattern;
    std::vector<std::string> paths;
    std::set<std::string> seen{"frames.csv"};
    for (const ImageItem& item : items) {
        ImageNameFields fields{settings.stem, item.frame, info.frameCount, reader.FrameTime(item.frame),
                               item.rank,     item.score};
        const std::string name = ExpandImageName(pattern, fields);
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            *error = "the name pattern '" + pattern + "' gives no usable file name for frame " +
                     std::to_string(item.frame);
            return {};
        }
        if (!seen.insert(name).second) {
            *error = "two frames would both be written to " + name + "; put {frame} or {rank} in the name pattern";
            return {};
        }
        paths.push_back(JoinPath(settings.folder, name));
    }
    paths.push_back(JoinPath(settings.folder, "frames.csv"));
    return paths;
}

namespace {

constexpr int kEncoders = 2;

// One decoded frame on its way to the encoder.
struct Job {
    size_t item = 0;
    size_t seq = 0;  // place among the frames queued, in decode order
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rows;  // bottom-up BGR, stride DibStride24(width)
};

// The encoders' side: a bounded queue filled by the reading thread, drained by the encoders. Files
// take their names in decode order: an encoder that finished a file waits until every file queued
// before it is in place, so after a failure the files written are those before it, and no later one.
class EncodeQueue {
public:
    static constexpr size_t kDepth = 4;

    // False when the export failed; job is then left alone.
    bool Push(Job&& job) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < kDepth || failed_; });
        if (failed_) return false;
        queue_.push_back(std::move(job));
        changed_.notify_all();
        return true;
    }
    bool Pop(Job* job) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty() || closed_; });
        if (queue_.empty()) return false;
        *job = std::move(queue_.front());
        queue_.pop_front();
        changed_.notify_all();
        return true;
    }
    // Waits until every file queued before seq is in place; false when one of them failed (this file
    // is then not to be placed).
    bool WaitTurn(size_t seq) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return placed_ == seq || (failed_ && failedSeq_ < seq); });
        return placed_ == seq && !(failed_ && failedSeq_ < seq);
    }
    // The file of seq is in place: the next one's turn.
    void Placed(size_t seq) {
        std::lock_guard lock(mutex_);
        placed_ = seq + 1;
        changed_.notify_all();
    }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // The file of seq (or, from the reading thread, the next one to be queued) failed. Both encoders
    // may fail (a full disk fails every file); the earliest file's reason is the one told, so the report
    // does not depend on which thread lost the race. Frames still queued are dropped.
    void Fail(const std::string& reason, size_t seq) {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) seq = std::min(seq, queue_.front().seq);
        if (!failed_ || seq < failedSeq_) {
            reason_ = reason;
            failedSeq_ = seq;
        }
        failed_ = true;
        queue_.clear();
        changed_.notify_all();
    }
    bool Failed(std::string* reason) {
        std::lock_guard lock(mutex_);
        if (failed_ && reason) *reason = reason_;
        return failed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    bool closed_ = false, failed_ = false;
    size_t failedSeq_ = 0;
    size_t placed_ = 0;  // files [0, placed_) are in place
    std::string reason_;
};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The encoder threads of one export. However the export ends, an exception included, the destructor
// closes the queue and joins them: the encoders write what was queued, and no thread outlives the loop.
class EncoderThreads {
public:
    explicit EncoderThreads(EncodeQueue& queue) : queue_(queue) {}
    EncoderThreads(const EncoderThreads&) = delete;
    EncoderThreads& operator=(const EncoderThreads&) = delete;
    ~EncoderThreads() {
        queue_.Close();
        for (std::thread& thread : threads_)
            if (thread.joinable()) thread.join();
    }
    // A thread that cannot be started fails the export (the reading loop then stops at once).
    void Start(const std::function<void()>& body) {
        try {
            for (std::thread& thread : threads_) thread = std::thread(body);
        } catch (...) {
            queue_.Fail("cannot start an encoder: " + CurrentExceptionText(), 0);
        }
    }

private:
    EncodeQueue& queue_;
    std::thread threads_[kEncoders];
};

// frames.csv for the items written (positions in the list, ascending). False with *error set.
bool WriteFramesCsv(const std::vector<ImageItem>& items, const std::vector<int32_t>& writtenItems,
                    const std::vector<std::string>& paths, const std::vector<double>& times, const VideoOrigin& origin,
                    const CropRect& box, bool replace, std::string* error) {
    try {
        std::string csv = std::string("file,frame,time,score,width,height") + OriginCsvHeader() + "\n";
        for (const int32_t at : writtenItems) {
            const size_t i = size_t(at);
            const std::string& path = paths[i];
            char line[160];
            std::snprintf(line, sizeof line, ",%d,%.6f,%d,%d,%d", items[i].frame, times[i], items[i].score, box.Width(),
                          box.Height());
            const size_t slash = path.find_last_of('/');
            csv += CsvField(path.substr(slash == std::string::npos ? 0 : slash + 1)) + line +
                   OriginCsvFields(origin, times[i]) + "\n";
        }
        return WriteFileWhole(paths.back(), csv.data(), csv.size(), replace, error);
    } catch (...) {
        *error = paths.back() + ": " + CurrentExceptionText();
        return false;
    }
}

}  // namespace

ExportOutcome ExportImageFiles(VideoFrameReader& reader, FrameInfo& info, const std::vector<ImageItem>& items,
                               const ImageExportSettings& settings, const ExportCallbacks& callbacks) {
    ExportOutcome outcome;
    const auto refuse = [&](ExportStop stop, const std::string& reason) {
        outcome.stop = stop;
        outcome.reason = reason;
        return outcome;
    };
    if (items.empty()) return refuse(ExportStop::Refused, "no frames to write");
    std::string error;
    const std::vector<std::string> paths = PlannedImagePaths(reader, info, items, settings, &error);
    if (paths.empty()) return refuse(ExportStop::Refused, error);
    struct stat st {};
    if (::stat(settings.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return refuse(ExportStop::CreateFailed, settings.folder + " is not a folder");
    if (!settings.replace) {
        for (const std::string& path : paths)
            if (::lstat(path.c_str(), &st) == 0) return refuse(ExportStop::Refused, path + " exists");
    }
    CropRect box{0, 0, info.width, info.height};
    if (settings.useBox) box = ClampCropBox(settings.box, info.width, info.height);
    if (box.Empty()) return refuse(ExportStop::Refused, "the crop box is empty");

    // Each frame's origin; the times are read here, not on the encoders' threads.
    const VideoOrigin origin = ReadVideoOrigin(reader.ContainerTags(), settings.source);
    std::vector<double> times(items.size());
    for (size_t i = 0; i < items.size(); ++i) times[i] = reader.FrameTime(items[i].frame);

    // Decoding goes in ascending frame order; each file keeps the name of its item.
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return items[a].frame < items[b].frame; });

    // Two encoders: while the reading thread decodes, both cores encode whatever it has queued (an
    // H.264 frame decodes faster than it encodes to PNG or a fine JPEG).
    EncodeQueue queue;
    std::vector<char> written(items.size(), 0);
    std::atomic<int32_t> framesWritten{0};
    const auto encode = [&] {
        Job job;
        try {
            std::vector<uint8_t> bytes;
            std::string why;
            StagedFile staged;
            while (queue.Pop(&job)) {
                const std::string& path = paths[job.item];
                if (!EncodeImage(job.rows.data(), job.width, job.height, DibStride24(job.width), settings.encoding,
                                 &bytes, &why)) {
                    queue.Fail("cannot encode " + path + ": " + why, job.seq);
                    break;
                }
                if (settings.origin && !AddImageOrigin(&bytes, settings.encoding.format, origin, items[job.item].frame,
                                                       times[job.item], &why)) {
                    queue.Fail("cannot encode " + path + ": " + why, job.seq);
                    break;
                }
                if (!StageFile(path, bytes.data(), bytes.size(), settings.replace, &staged, &why)) {
                    queue.Fail("cannot write " + why, job.seq);
                    break;
                }
                const bool turn = queue.WaitTurn(job.seq);
                if (!PlaceFile(staged, settings.replace, turn, &why)) {
                    if (turn) queue.Fail("cannot write " + why, job.seq);
                    break;
                }
                written[job.item] = 1;
                framesWritten.fetch_add(1, std::memory_order_relaxed);
                queue.Placed(job.seq);
            }
        } catch (...) {
            queue.Fail(CurrentExceptionText(), job.seq);
        }
    };
    {
        EncoderThreads encoders(queue);
        encoders.Start(encode);
        size_t round = 0, queued = 0;
        try {
            for (; round < order.size(); ++round) {
                if (queue.Failed(nullptr)) break;
                if (callbacks.keepGoing && !callbacks.keepGoing()) {
                    outcome.stop = ExportStop::Cancelled;
                    break;
                }
                const size_t index = order[round];
                const int32_t frame = items[index].frame;
                int32_t length = 0;
                const uint8_t* part = frame >= 0 && frame < info.frameCount
                                          ? reader.ReadFramePart(info, frame, box.left, box.top, box.Width(),
                                                                 box.Height(), &length)
                                          : nullptr;
                if (!part || length != FrameBlockSize(box.Width(), box.Height())) {
                    outcome.omitted.push_back(frame);
                    if (callbacks.omitted) callbacks.omitted(int32_t(index), frame);
                    continue;
                }
                if (callbacks.progress) callbacks.progress(int32_t(round), frame);
                if (callbacks.frameRead && (!callbacks.wantFrame || callbacks.wantFrame(frame)))
                    callbacks.frameRead(frame, part, length);
                Job job;
                job.item = index;
                job.seq = queued;
                job.width = box.Width();
                job.height = box.Height();
                job.rows.assign(part + kDibHeaderSize, part + length);
                if (!queue.Push(std::move(job))) break;
                ++queued;
            }
        } catch (...) {
            // Memory ran out, or a callback threw: the export ends as a failed write, with that reason;
            // the frames being encoded are written, those still queued are not.
            queue.Fail(CurrentExceptionText(), queued);
        }
    }  // the encoders have written what was queued and ended
    outcome.framesWritten = framesWritten.load();
    outcome.written = framesWritten > 0;
    for (size_t i = 0; i < items.size(); ++i)
        if (written[i]) outcome.writtenItems.push_back(int32_t(i));
    const bool failed = queue.Failed(&error);
    if (failed) {
        outcome.stop = ExportStop::WriteFailed;
        outcome.reason = error;
    }

    // frames.csv lists the files written, after a failure too.
    if (outcome.written) {
        std::string csvError;
        if (!WriteFramesCsv(items, outcome.writtenItems, paths, times, origin, box, settings.replace, &csvError)) {
            if (!failed) {
                outcome.stop = ExportStop::WriteFailed;
                outcome.reason = "cannot write " + csvError;
            } else {
                outcome.reason += "; frames.csv could not be written either";
            }
        }
    }
    return outcome;
}
