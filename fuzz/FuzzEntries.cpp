#include "fuzz/FuzzEntries.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <jpeglib.h>

#include "fileio/IniFile.h"
#include "image/dib.h"
#include "image/ximage.h"
#include "selector/FrameOrder.h"
#include "selector/FrameScore.h"
#include "selector/FrameSharpness.h"
#include "video/AviReader.h"
#include "video/VideoFrameReader.h"

namespace {

// The bytes as an anonymous in-memory file, reachable by a path, so the readers' file paths run on
// them without touching the disk. Closed when the object goes.
class MemFile {
public:
    MemFile(const uint8_t* data, size_t size) {
        fd_ = ::memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd_ < 0) return;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            done += size_t(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    bool Ok() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// ---- AVI reader ----

// Frames and bytes decoded per input: a small file may list the same frame many thousand times.
constexpr uint32_t kAviMaxFramesRead = 2048;
constexpr uint64_t kAviMaxBytesRead = 64ull << 20;

const char* CheckBlock(const AviReader& r, const uint8_t* block, int32_t blockSize) {
    if (blockSize != FrameBlockSize(r.Width(), r.Height())) return "frame block size does not match the frame size";
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    if (h.biSize != 40 || h.biWidth != r.Width() || h.biHeight != r.Height() || h.biBitCount != 24 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || int64_t(h.biSizeImage) != blockSize - 40)
        return "frame block header is wrong";
    // Row filler bytes are zero.
    const int64_t stride = DibStride24(r.Width());
    const int64_t used = int64_t(r.Width()) * 3;
    for (int32_t y = 0; y < r.Height(); ++y) {
        for (int64_t x = used; x < stride; ++x) {
            if (block[40 + y * stride + x] != 0) return "row filler is not zero";
        }
    }
    return nullptr;
}

// Decodes frame n and checks what came back. *digest: 0 when the frame did not decode, else a hash of
// the block, so frames read in different orders can be compared without keeping them.
const char* DecodeChecked(AviReader& r, int32_t n, uint64_t* digest, uint64_t* bytes) {
    int32_t blockSize = -1;
    FrameBlockPtr block(r.DecodeFrame(n, &blockSize));
    *digest = 0;
    if (!block) return nullptr;
    if (!r.CanDecode()) return "a frame decoded from a format the reader cannot decode";
    if (n < 0 || uint32_t(n) >= r.Length()) return "a frame outside the stream decoded";
    if (const char* why = CheckBlock(r, block.get(), blockSize)) return why;
    *bytes += uint64_t(blockSize);
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    for (int32_t i = 0; i < blockSize; ++i) h = (h ^ block.get()[i]) * 0x100000001b3ull;
    *digest = h | 1;
    return nullptr;
}

}  // namespace

const char* FuzzAviReader(const uint8_t* data, size_t size, FuzzOutcome* outcome) {
    FuzzOutcome unused;
    FuzzOutcome& out = outcome ? *outcome : unused;
    std::string memError, fileError;
    std::unique_ptr<AviReader> mem = AviReader::OpenMemory(data, size, &memError);
    out.accepted = mem != nullptr;
    out.message = memError;
    MemFile memFile(data, size);
    std::unique_ptr<AviReader> file;
    if (memFile.Ok()) file = AviReader::OpenFile(memFile.Path().c_str(), &fileError);

    if (!mem) {
        if (memError.empty()) return "open failed without a reason";
        if (file) return "the file reader opened what the memory reader refused";
        return nullptr;
    }
    if (memFile.Ok() && !file) return "the file reader refused what the memory reader opened";

    if (mem->Width() <= 0 || mem->Height() <= 0 || mem->Width() > 16384 || mem->Height() > 16384)
        return "open accepted a frame size out of range";
    if (uint64_t(mem->Length()) > size / 8 + 1) return "more frames than the file can hold";
    if (file && (file->Length() != mem->Length() || file->Width() != mem->Width() || file->Height() != mem->Height() ||
                 file->BitCount() != mem->BitCount() || file->CanDecode() != mem->CanDecode() ||
                 file->Rate() != mem->Rate() || file->Scale() != mem->Scale()))
        return "memory and file readers disagree on the stream";

    uint64_t bytes = 0, digest = 0;
    const int32_t length = int32_t(std::min<uint32_t>(mem->Length(), INT32_MAX));
    for (int32_t n : {-1, length, INT32_MAX}) {
        if (const char* why = DecodeChecked(*mem, n, &digest, &bytes)) return why;
        if (digest != 0) return "a frame outside the stream decoded";
    }
    // The memory reader reads forward, the file reader backward: a frame must not depend on the order
    // of reading (palette changes replay from checkpoints when reading goes back).
    std::vector<uint64_t> forward;
    for (int32_t n = 0; n < length && uint32_t(n) < kAviMaxFramesRead && bytes <= kAviMaxBytesRead; ++n) {
        if (const char* why = DecodeChecked(*mem, n, &digest, &bytes)) return why;
        forward.push_back(digest);
        out.count += digest != 0;
    }
    if (!file) return nullptr;
    for (size_t n = forward.size(); n-- > 0;) {
        if (const char* why = DecodeChecked(*file, int32_t(n), &digest, &bytes)) return why;
        if (digest != forward[n])
            return (digest == 0) != (forward[n] == 0) ? "frame decodes in one order of reading but not in another"
                                                      : "frame differs with the order of reading or the source";
    }
    return nullptr;
}

// ---- INI reader and writer ----

namespace {

bool IniBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool Trimmed(const std::string& s) { return s.empty() || (!IniBlank(s.front()) && !IniBlank(s.back())); }

// Names and a value that a reader can find again exactly as written.
bool CleanSetting(const std::string& section, const std::string& key, const std::string& value) {
    if (section.empty() || key.empty() || !Trimmed(section) || !Trimmed(key) || !Trimmed(value)) return false;
    if (section.find_first_of("]\n") != std::string::npos || key.find_first_of("=\n") != std::string::npos ||
        value.find('\n') != std::string::npos)
        return false;
    if (key.front() == '[' || key.front() == ';' || key.front() == '#') return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return false;
    return true;
}

std::string IniTrim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IniBlank(s[b])) ++b;
    while (e > b && IniBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// (section, key) of the assignments in a text (the first 64), as settings to look up.
std::vector<std::pair<std::string, std::string>> IniSettingsIn(const std::string& content) {
    std::vector<std::pair<std::string, std::string>> found;
    std::string section;
    bool inSection = false;
    for (size_t pos = 0; pos < content.size() && found.size() < 64;) {
        const size_t nl = std::min(content.find('\n', pos), content.size());
        const std::string line = IniTrim(content.substr(pos, nl - pos));
        pos = nl + 1;
        const size_t close = line.find(']');
        if (!line.empty() && line.front() == '[' && close != std::string::npos) {
            section = IniTrim(line.substr(1, close - 1));
            inSection = true;
        } else if (inSection && !line.empty() && line.front() != ';' && line.front() != '#') {
            const size_t eq = line.find('=');
            if (eq != std::string::npos && eq > 0) found.emplace_back(section, IniTrim(line.substr(0, eq)));
        }
    }
    return found;
}

}  // namespace

const char* FuzzIniFile(const uint8_t* data, size_t size, FuzzOutcome* outcome) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    for (size_t pos = 0;;) {
        const size_t nul = input.find('\0', pos);
        if (nul == std::string::npos || parts.size() == 3) {
            parts.push_back(input.substr(pos));
            break;
        }
        parts.push_back(input.substr(pos, nul - pos));
        pos = nul + 1;
    }
    const std::string& content = parts[0];
    const std::string section = parts.size() > 1 ? parts[1] : kIniSection;
    const std::string key = parts.size() > 2 ? parts[2] : kIniDeinterlaceKey;
    const std::string value = parts.size() > 3 ? parts[3] : "1";

    const std::string got = IniGetValue(content, section, key, kIniDefault);
    if (outcome) {
        outcome->accepted = got != kIniDefault;
        outcome->message = got;
        outcome->count = DeinterlaceFlagFromText(got);
    }
    if (got.size() > 254) return "value longer than asked for";
    if (IniGetValue(content, section, key, kIniDefault, 3).size() > 3) return "value longer than asked for";

    // The flag against the C library's reading of the same text.
    const int expectedFlag = got == kIniDefault ? 0 : (std::strtol(got.c_str(), nullptr, 10) != 0);
    if (DeinterlaceFlagFromText(got) != expectedFlag) return "deinterlace flag differs from strtol";

    // The file reader sees the same value.
    MemFile file(data, parts[0].size());
    if (file.Ok() && IniReadString(file.Path(), section, key, kIniDefault) != got)
        return "file reader and text reader disagree";

    const std::string updated = IniSetValue(content, section, key, value);
    if (CleanSetting(section, key, value)) {
        if (IniGetValue(updated, section, key, std::string("\x01"), std::string::npos) != value)
            return "a value written is not read back";
        if (IniSetValue(updated, section, key, value) != updated)
            return "writing the same value twice changes the file";
        // Every other setting of the file reads as before.
        for (const auto& [otherSection, otherKey] : IniSettingsIn(content)) {
            if (SameName(otherSection, section) && SameName(otherKey, key)) continue;
            if (IniGetValue(content, otherSection, otherKey, "\x01", std::string::npos) !=
                IniGetValue(updated, otherSection, otherKey, "\x01", std::string::npos))
                return "writing one value changed another";
        }
    }
    return nullptr;
}

// ---- JPEG decoding ----

namespace {

// Pictures beyond this are not decoded: a header of a few bytes can declare gigapixels, and the image
// object then allocates and fills them, which measures memory, not the code.
constexpr uint64_t kJpegMaxPixels = 1u << 16;

struct QuietError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void QuietErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<QuietError*>(cinfo->err)->jump, 1); }
void QuietMessage(j_common_ptr) {}

// Picture size the header declares, as libjpeg reads it; 0 when it reads no header.
uint64_t JpegDeclaredPixels(const uint8_t* data, size_t size) {
    jpeg_decompress_struct cinfo;
    QuietError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = QuietErrorExit;
    err.pub.output_message = QuietMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const uint64_t pixels = uint64_t(cinfo.image_width) * cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

// A picture as libjpeg gives it through its own memory source: rows top first, colour as BGR.
struct ReferencePicture {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;
    std::vector<uint8_t> rows;
};

// Decodes with the library alone, as the reference for the image object's stream and row handling.
// pic is the caller's, so nothing with a destructor lives in this frame across a longjmp.
bool DecodeReference(const uint8_t* data, size_t size, ReferencePicture* pic) {
    jpeg_decompress_struct cinfo;
    QuietError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = QuietErrorExit;
    err.pub.output_message = QuietMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    pic->width = cinfo.output_width;
    pic->height = cinfo.output_height;
    pic->components = cinfo.output_components;
    const size_t rowBytes = size_t(pic->width) * size_t(pic->components);
    pic->rows.assign(rowBytes * pic->height, 0);
    while (cinfo.output_scanline < pic->height) {
        JSAMPROW row = pic->rows.data() + size_t(cinfo.output_scanline) * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// The image's rows (bottom-up, BGR or grey, CMYK turned to BGR) against the reference's.
const char* ComparePictures(const CxImage& image, const ReferencePicture& pic) {
    if (image.GetWidth() != pic.width || image.GetHeight() != pic.height) return "picture size differs from libjpeg's";
    const uint32_t w = pic.width;
    const size_t rowBytes = size_t(w) * size_t(pic.components);
    // Bytes of each row that hold samples: the rest is padding, which must be zero.
    const size_t used = pic.components == 1                          ? w
                        : pic.components == 3 || pic.components == 4 ? size_t(w) * 3
                                                                     : std::min<size_t>(rowBytes, image.GetRowWidth());
    for (uint32_t y = 0; y < pic.height; ++y) {
        const uint8_t* ours = image.GetBits() + size_t(pic.height - 1 - y) * image.GetRowWidth();
        const uint8_t* ref = pic.rows.data() + size_t(y) * rowBytes;
        if (pic.components == 4) {
            for (uint32_t x = 0; x < w; ++x) {
                const unsigned k = ref[4 * x + 3];
                if (ours[3 * x] != ref[4 * x + 2] * k / 255 || ours[3 * x + 1] != ref[4 * x + 1] * k / 255 ||
                    ours[3 * x + 2] != ref[4 * x] * k / 255)
                    return "CMYK pixels differ from libjpeg's";
            }
        } else if (pic.components == 1 || pic.components == 3) {
            if (std::memcmp(ours, ref, used) != 0) return "pixels differ from libjpeg's";
        } else {
            const size_t n = std::min<size_t>(rowBytes, image.GetRowWidth());
            if (std::memcmp(ours, ref, n) != 0) return "pixels differ from libjpeg's";
        }
        for (size_t x = used; x < image.GetRowWidth(); ++x) {
            if (ours[x] != 0) return "row padding is not zero";
        }
    }
    return nullptr;
}

const char* CheckImage(const CxImage& image) {
    if (!image.IsValid() || image.GetWidth() == 0 || image.GetHeight() == 0)
        return "decode succeeded without a picture";
    if (image.GetBpp() != 8 && image.GetBpp() != 24) return "decoded picture has an unexpected depth";
    const uint64_t row = ((uint64_t(image.GetWidth()) * image.GetBpp() + 31) / 32) * 4;
    if (image.GetRowWidth() != row) return "decoded row width is wrong";
    const int64_t palette = image.GetBpp() == 8 ? 256 * 4 : 0;
    if (image.GetDibSize() != int64_t(40 + palette + row * image.GetHeight())) return "decoded DIB size is wrong";
    return nullptr;
}

}  // namespace

const char* FuzzJpegDecode(const uint8_t* data, size_t size, FuzzOutcome* outcome) {
    FuzzOutcome unused;
    FuzzOutcome& out = outcome ? *outcome : unused;
    if (size > UINT32_MAX || JpegDeclaredPixels(data, size) > kJpegMaxPixels) {
        out.message = "too large to decode here";
        return nullptr;
    }
    // The decoder reads the caller's buffer through a stream that takes a writable pointer; give it a
    // copy so that any write would show as a difference.
    std::vector<uint8_t> buffer(data, data + size);

    CxImage image;
    if (!image.Create(2, 3, 24)) return "cannot create a small image";
    ReferencePicture reference;
    const bool referenceDecoded = DecodeReference(data, size, &reference);
    out.accepted = image.Decode(buffer.data(), uint32_t(size), CXIMAGE_FORMAT_JPG);
    out.message = image.lastError;
    out.count = out.accepted ? int64_t(image.GetWidth()) * image.GetHeight() : 0;
    if (!out.accepted) {
        if (image.lastError[0] == '\0') return "decode failed without a reason";
        if (!image.IsValid() || image.GetWidth() != 2 || image.GetHeight() != 3)
            return "a failed decode changed the picture";
        if (referenceDecoded) return "libjpeg decodes what the image object refuses";
    } else {
        if (!referenceDecoded) return "the image object decodes what libjpeg refuses";
        if (const char* why = CheckImage(image)) return why;
        if (const char* why = ComparePictures(image, reference)) return why;
    }
    if (size > 0 && std::memcmp(buffer.data(), data, size) != 0) return "decode wrote into its input";
    if (image.GetWidth() == 2 && image.GetHeight() == 3) return nullptr;

    // Encode what was decoded, and decode that again: same size and depth.
    image.jpegQuality = uint8_t(size > 0 ? data[size - 1] % 100 + 1 : 75);
    uint8_t* encoded = nullptr;
    int32_t encodedSize = 0;
    if (!image.Encode(encoded, encodedSize, CXIMAGE_FORMAT_JPG)) return "a decoded picture does not encode";
    FrameBlockPtr owned(encoded);
    CxImage again;
    if (encodedSize <= 0 || !again.Decode(encoded, uint32_t(encodedSize), CXIMAGE_FORMAT_JPG))
        return "an encoded picture does not decode";
    if (again.GetWidth() != image.GetWidth() || again.GetHeight() != image.GetHeight() ||
        again.GetBpp() != image.GetBpp())
        return "round trip changed the picture's size or depth";
    return nullptr;
}

// ---- Frame order keys ----

namespace {

int32_t Clamp32(long long v) { return int32_t(std::clamp<long long>(v, INT32_MIN, INT32_MAX)); }

int32_t Le32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

}  // namespace

const char* FuzzFrameOrder(const uint8_t* data, size_t size, FuzzOutcome* outcome) {
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));

    // sscanf reads into long long (glibc saturates those); the parser saturates at 32 bits.
    constexpr int32_t kUntouched = 0x5a5a5a5a;
    int32_t score = kUntouched, frame = kUntouched;
    const int got = ParseFrameOrderKey(text.c_str(), &score, &frame);
    if (outcome) {
        outcome->accepted = got == 2;
        outcome->message = got == 2 ? MakeFrameOrderKey(score, frame) : "not a key";
        outcome->count = got;
    }
    long long refScore = 0, refFrame = 0;
    const int ref = std::sscanf(text.c_str(), "%lld %lld", &refScore, &refFrame);
    if (got != ref) return "count of numbers differs from sscanf";
    if (got >= 1 && score != Clamp32(refScore)) return "score differs from sscanf";
    if (got == 2 && frame != Clamp32(refFrame)) return "frame differs from sscanf";
    if ((got < 1 && score != kUntouched) || (got < 2 && frame != kUntouched)) return "a number not read was written";
    if (ParseFrameOrderKey(text.c_str(), nullptr, nullptr) != got) return "the count depends on where the numbers go";

    // Keys made from numbers read back as those numbers, in the printf form.
    if (size >= 8) {
        const int32_t s = Le32(data), f = Le32(data + 4);
        const std::string key = MakeFrameOrderKey(s, f);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%010d %d", int(s), int(f));
        if (key != expected) return "key differs from printf";
        int32_t s2 = 0, f2 = 0;
        if (ParseFrameOrderKey(key.c_str(), &s2, &f2) != 2 || s2 != s || f2 != f) return "a key does not read back";
    }

    // The lines of the text as an order: sorted by strcmp, nothing lost.
    std::vector<std::string> order;
    for (size_t pos = 0; pos <= text.size() && order.size() < 4096;) {
        const size_t nl = std::min(text.find('\n', pos), text.size());
        order.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    std::vector<std::string> sorted = order;
    SortFrameOrder(sorted);
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (std::strcmp(sorted[i - 1].c_str(), sorted[i].c_str()) > 0) return "sorted order is not in strcmp order";
    }
    std::sort(order.begin(), order.end());
    std::vector<std::string> check = sorted;
    std::sort(check.begin(), check.end());
    if (check != order) return "sorting lost or changed keys";

    // A short original order, from a bound that may be negative.
    const int32_t frameEnd = size > 0 ? int32_t(int8_t(data[0])) : -1;
    std::vector<std::string> original{"stale"};
    if (!FillOriginalOrder(original, frameEnd)) return "original order ran out of memory";
    // Keys 0 to frameEnd; none for a negative bound (a video without frames).
    const size_t expectedCount = frameEnd >= 0 ? size_t(frameEnd) + 1 : 0;
    if (original.size() != expectedCount) return "original order has the wrong length";
    for (size_t i = 0; i < original.size(); ++i) {
        if (original[i] != MakeFrameOrderKey(int32_t(i), int32_t(i))) return "original order holds a wrong key";
    }
    return nullptr;
}

// ---- The media path ----

namespace {

// Pictures beyond this are opened but not read: the decoder and converter then measure memory.
constexpr int64_t kMediaMaxPixels = int64_t(1) << 22;
constexpr int kMediaReads = 6;

// A frame block as every caller expects it: the header of a width x height 24-bit frame, zero row filler.
const char* CheckMediaBlock(const uint8_t* block, int32_t blockSize, int32_t width, int32_t height) {
    if (blockSize != FrameBlockSize(width, height)) return "block size does not match the frame size";
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    if (h.biSize != 40 || h.biWidth != width || h.biHeight != height || h.biBitCount != 24 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || int64_t(h.biSizeImage) != blockSize - 40)
        return "block header is wrong";
    const int64_t stride = DibStride24(width);
    for (int32_t y = 0; y < height; ++y)
        for (int64_t x = int64_t(width) * 3; x < stride; ++x)
            if (block[40 + y * stride + x] != 0) return "row filler is not zero";
    return nullptr;
}

}  // namespace

const char* FuzzMedia(const uint8_t* data, size_t size, FuzzOutcome* outcome) {
    FuzzOutcome unused;
    FuzzOutcome& out = outcome ? *outcome : unused;
    VideoFrameReader reader;
    FrameInfo& info = reader.OpenMemory(data, size);
    out.accepted = info.succeeded;
    out.message = reader.LastError();
    if (!info.succeeded) {
        reader.Close(info);
        return out.message.empty() ? "open failed without a reason" : nullptr;
    }
    if (!info.useMediaDetector) return "a file in memory opened without the media detector";
    if (!FrameSizeAllowed(info.width, info.height) || info.width <= 0 || info.height <= 0)
        return "open accepted a frame size out of range";
    if (info.frameCount <= 0) return "opened without a frame";
    if (!(info.framesPerSecond > 0) || !std::isfinite(info.framesPerSecond)) return "opened without a frame rate";
    if (int64_t(info.width) * info.height > kMediaMaxPixels) {
        reader.Close(info);
        return nullptr;
    }
    // (A negative frame number reads frame 0, as the reader's callers expect.)
    if (reader.PeekFrame(info, info.frameCount)) return "a frame past the end was read";
    double last = -1;
    for (const double t : reader.FrameTimes()) {
        if (!std::isfinite(t) || t < last) return "frame times go back or are not numbers";
        last = t;
    }

    // A few frames in an order the bytes choose: steps forward (the read-ahead starts on the second),
    // jumps back and ahead (seeks), the same frame again.
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
    const int32_t count = info.frameCount;
    int32_t frame = int32_t(h % uint64_t(count));
    for (int read = 0; read < kMediaReads; ++read) {
        h = h * 6364136223846793005ull + 1442695040888963407ull;
        const int way = int(h >> 60) & 3;
        int32_t blockSize = 0;
        if (way == 0) {
            FrameBlockPtr block(reader.ReadFrame(info, frame));
            if (block) {
                if (const char* why = CheckMediaBlock(block.get(), info.frameBlockSize, info.width, info.height))
                    return why;
                ++out.count;
            }
        } else if (way == 1) {
            // A box of the frame, as a crop reads it.
            const int32_t left = int32_t((h >> 8) % uint64_t(info.width));
            const int32_t top = int32_t((h >> 24) % uint64_t(info.height));
            const int32_t width = 1 + int32_t((h >> 40) % uint64_t(info.width - left));
            const int32_t height = 1 + int32_t((h >> 48) % uint64_t(info.height - top));
            if (const uint8_t* part = reader.ReadFramePart(info, frame, left, top, width, height, &blockSize)) {
                if (const char* why = CheckMediaBlock(part, blockSize, width, height)) return why;
                ++out.count;
            }
        } else if (way == 2) {
            // The luma a sharpness sort reads, scored; the frame's own pixels where there is no plane.
            LumaPlane plane;
            const LumaRead luma = reader.PeekLuma(info, frame, 0, 0, info.width, info.height, &plane);
            if (luma == LumaRead::Plane) {
                if (!plane.data || plane.width != info.width || plane.height != info.height ||
                    plane.stride < plane.width * (plane.depth > 8 ? 2 : 1))
                    return "luma plane does not match the frame";
                if (!(LaplacianVariance(plane) >= 0)) return "sharpness of a plane is not a number";
                ++out.count;
            } else if (luma == LumaRead::NoPlane) {
                const uint8_t* block = reader.PeekFrame(info, frame);
                if (!block) return "a frame with no luma plane cannot be read";
                if (!(LaplacianVarianceBgr(block + 40, info.width, info.height, DibStride24(info.width)) >= 0))
                    return "sharpness of a frame is not a number";
                ++out.count;
            }
        } else if (const uint8_t* block = reader.PeekFrame(info, frame)) {
            if (const char* why = CheckMediaBlock(block, info.frameBlockSize, info.width, info.height)) return why;
            // The JPEG-size score of the frame, as a sort takes it.
            JpegScorer scorer;
            const JpegScore score = scorer.Score(block + 40, info.width, info.height, int32_t(DibStride24(info.width)),
                                                 75);
            if (!score.encoded || score.jpegBytes <= 0) return "a frame read does not score";
            ++out.count;
        }
        // Next: often the one after (in order), sometimes back or far ahead.
        const int32_t step = (h >> 56) & 1 ? 1 : int32_t((h >> 16) % uint64_t(count)) - frame;
        frame = std::clamp(frame + step, 0, count - 1);
    }
    reader.Close(info);
    return nullptr;
}
