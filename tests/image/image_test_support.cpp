#include "image_test_support.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/ximage.h"

namespace imagetest {

uint8_t* Frame::Pixel(int x, int pictureRow) {
    return rows.data() + size_t(height - 1 - pictureRow) * stride + size_t(x) * 3;
}

const uint8_t* Frame::Pixel(int x, int pictureRow) const {
    return rows.data() + size_t(height - 1 - pictureRow) * stride + size_t(x) * 3;
}

Frame MakeFrame(int width, int height) {
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.stride = (width * 3 + 3) & ~3;
    // Padding gets a marker value: it must never leak into encoded pictures.
    frame.rows.assign(size_t(frame.stride) * height, 0xA5);
    return frame;
}

Frame FlatFrame(int width, int height, uint8_t blue, uint8_t green, uint8_t red) {
    Frame frame = MakeFrame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.Pixel(x, y);
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
    }
    return frame;
}

namespace {

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

}  // namespace

Frame PhotoLikeFrame(int width, int height) {
    Frame frame = MakeFrame(width, height);
    const double cx = width * 0.62, cy = height * 0.4, radius = std::min(width, height) * 0.22;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            double r = 40 + 150 * u + 30 * std::sin(v * 7.0);
            double g = 70 + 120 * v + 25 * std::cos(u * 5.0 + v * 3.0);
            double b = 190 - 140 * u * v;
            if (std::hypot(x - cx, y - cy) < radius) {  // a bright disc
                r = 235 - 40 * v;
                g = 210;
                b = 60 + 30 * u;
            }
            if (x > width / 8 && x < width / 3 && y > height / 2 && y < height * 7 / 8) {  // a dark block
                r *= 0.25;
                g *= 0.3;
                b *= 0.35;
            }
            if ((x / 6 + y / 6) % 2 == 0 && y < height / 5) {  // a fine checked band
                r += 35;
                g += 35;
                b += 35;
            }
            uint8_t* p = frame.Pixel(x, y);
            p[0] = Clamp(b);
            p[1] = Clamp(g);
            p[2] = Clamp(r);
        }
    }
    return frame;
}

Frame NoiseFrame(int width, int height, uint32_t seed) {
    Frame frame = MakeFrame(width, height);
    uint32_t state = seed;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            state = state * 1664525u + 1013904223u;
            frame.Pixel(0, y)[x] = static_cast<uint8_t>(state >> 24);
        }
    }
    return frame;
}

GreyFrame PhotoLikeGrey(int width, int height) {
    const Frame colour = PhotoLikeFrame(width, height);
    GreyFrame grey;
    grey.width = width;
    grey.height = height;
    grey.stride = (width + 3) & ~3;
    grey.rows.assign(size_t(grey.stride) * height, 0x5A);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = colour.Pixel(x, y);
            grey.rows[size_t(height - 1 - y) * grey.stride + x] = static_cast<uint8_t>((p[0] + 2 * p[1] + p[2]) / 4);
        }
    }
    return grey;
}

bool WritePpm(const std::string& path, const Frame& frame) {
    std::string header = "P6\n" + std::to_string(frame.width) + " " + std::to_string(frame.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* p = frame.Pixel(x, y);
            bytes.push_back(p[2]);
            bytes.push_back(p[1]);
            bytes.push_back(p[0]);
        }
    }
    return WriteFileBytes(path, bytes);
}

bool WritePgm(const std::string& path, const GreyFrame& frame) {
    std::string header = "P5\n" + std::to_string(frame.width) + " " + std::to_string(frame.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t* row = frame.rows.data() + size_t(frame.height - 1 - y) * frame.stride;
        bytes.insert(bytes.end(), row, row + frame.width);
    }
    return WriteFileBytes(path, bytes);
}

bool ReadPnm(const std::string& path, int& width, int& height, int& channels, std::vector<uint8_t>& samples) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    size_t at = 0;
    auto token = [&]() -> std::string {
        while (at < bytes.size() && std::isspace(bytes[at])) ++at;
        std::string text;
        while (at < bytes.size() && !std::isspace(bytes[at])) text += static_cast<char>(bytes[at++]);
        return text;
    };
    const std::string magic = token();
    if (magic != "P6" && magic != "P5") return false;
    channels = magic == "P6" ? 3 : 1;
    width = std::atoi(token().c_str());
    height = std::atoi(token().c_str());
    if (token() != "255" || width <= 0 || height <= 0) return false;
    ++at;  // the single whitespace before the samples
    const size_t count = size_t(width) * height * channels;
    if (bytes.size() < at + count) return false;
    samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                   bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
    return true;
}

std::vector<uint8_t> EncodeJpeg(CxImage& image, int quality) {
    image.jpegQuality = static_cast<uint8_t>(quality);
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.Encode(buffer, size, CXIMAGE_FORMAT_JPG)) return {};
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

std::vector<uint8_t> PixelRows(const CxImage& image) {
    if (!image.IsValid()) return {};
    const uint8_t* bits = image.GetBits();
    return std::vector<uint8_t>(bits, bits + size_t(image.GetRowWidth()) * image.GetHeight());
}

}  // namespace imagetest
