// Pixels and reference-tool files shared by the image tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestProcess.h"
#include "tests/support/TestFiles.h"

class CxImage;

namespace imagetest {

// Temporary folders, files and commands come from the shared support.
using namespace testsupport;

// A 24-bit frame as the program carries it: bottom-up rows of blue, green, red, 4-byte aligned.
struct Frame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> rows;

    uint8_t* Pixel(int x, int pictureRow);  // pictureRow 0 is the top of the picture
    const uint8_t* Pixel(int x, int pictureRow) const;
};

Frame MakeFrame(int width, int height);
Frame FlatFrame(int width, int height, uint8_t blue, uint8_t green, uint8_t red);
// Smooth gradients with hard-edged shapes across them, like a photographed scene.
Frame PhotoLikeFrame(int width, int height);
Frame NoiseFrame(int width, int height, uint32_t seed);

// One grey byte per pixel, bottom-up rows, 4-byte aligned.
struct GreyFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> rows;
};
GreyFrame PhotoLikeGrey(int width, int height);

// Files for the reference tools: PPM/PGM are top-down RGB/grey.
bool WritePpm(const std::string& path, const Frame& frame);
bool WritePgm(const std::string& path, const GreyFrame& frame);
// Binary PPM (P6) or PGM (P5) as written by djpeg; false on a malformed file.
bool ReadPnm(const std::string& path, int& width, int& height, int& channels, std::vector<uint8_t>& samples);

// The encoded bytes of an image at a quality; empty on failure.
std::vector<uint8_t> EncodeJpeg(CxImage& image, int quality);

// Copy of an image's pixel rows, to prove that they did not change.
std::vector<uint8_t> PixelRows(const CxImage& image);

}  // namespace imagetest
