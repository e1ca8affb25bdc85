// Thin wrapper around one packed device-independent bitmap in memory (40-byte BITMAPINFOHEADER, colour
// table, pixel rows in one block): the header and pixel pointers for drawing and export, a colour table
// for bitmaps of 8 bits per pixel or fewer, and saving the block as a .bmp file.
//
// The wrapper never owns what it wraps (ownsBlock stays 0), so re-attaching or destroying it leaves the
// block alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/dib.h"

class FrameBitmap {
public:
    FrameBitmap() = default;
    ~FrameBitmap();
    FrameBitmap(const FrameBitmap&) = delete;
    FrameBitmap& operator=(const FrameBitmap&) = delete;

    // Points every field at the block (blockLength bytes, header included) and builds the colour table
    // for 1 to 8 bits per pixel. The previous block is not touched. Always true.
    bool Attach(void* block, int32_t blockLength);

    uint8_t* GetBits() const { return bits; }
    BITMAPINFOHEADER* GetHeader() const { return header; }

    // Writes a 14-byte "BM" file header and the block as it is to path (UTF-8). The file appears only
    // complete: it is written under a temporary name in the same folder and renamed over path at the end,
    // so a failed save leaves no partial file and keeps any file it was to replace. False when nothing is
    // attached or the file cannot be written; LastSaveError() then says why.
    bool SaveAsBmp(const char* path);
    const std::string& LastSaveError() const { return lastSaveError; }

    // What the wrapper points at; all null or 0 while nothing is attached.
    int32_t ownsBlock = 0;               // nonzero: destruction frees block with std::free
    std::vector<uint32_t> palette;       // colour table as 0xFFRRGGBB (what a QRgb holds); empty for more
                                         // than 8 bits per pixel
    uint8_t* block = nullptr;            // start of the wrapped block
    uint8_t* bits = nullptr;             // first pixel byte: block + 40 + 4 * colourCount
    int32_t blockLength = 0;             // header, colour table and pixels
    BITMAPINFOHEADER* header = nullptr;  // equal to block
    RGBQUAD* colourTable = nullptr;      // block + 40
    int32_t colourCount = 0;             // entries in the colour table

private:
    std::string lastSaveError;
};

// The program's one frame bitmap: the view attaches its frame copy to it; drawing, export, scoring and
// the single-frame save read through it.
extern FrameBitmap sharedFrameBitmap;
