#include "image/ximage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/ximajpg.h"
#include "image/xmemfile.h"

CxImage::CxImage(uint32_t imageType) : m_type(imageType) {
    const int32_t pelsPerMeter = static_cast<int32_t>(std::floor(96 * 39.37007874015748 + 0.5));
    m_head.biXPelsPerMeter = pelsPerMeter;
    m_head.biYPelsPerMeter = pelsPerMeter;
}

CxImage::~CxImage() { Destroy(); }

void CxImage::Destroy() {
    if (m_borrowedFrom) return;
    std::free(m_dib);
    m_dib = nullptr;
    m_pixels = nullptr;
}

void CxImage::SetLastError(const char* text) { std::snprintf(lastError, sizeof lastError, "%s", text); }

void* CxImage::Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel, uint32_t imageType) {
    Destroy();
    // From here on this object owns whatever it allocates, even if it was borrowing before.
    m_borrowedFrom = nullptr;
    m_dib = nullptr;
    m_pixels = nullptr;

    uint32_t depth;
    if (bitsPerPixel <= 1)
        depth = 1;
    else if (bitsPerPixel <= 4)
        depth = 4;
    else if (bitsPerPixel <= 8)
        depth = 8;
    else
        depth = 24;
    const uint32_t paletteEntries = depth == 1 ? 2 : depth == 4 ? 16 : depth == 8 ? 256 : 0;
    const uint64_t paletteBytes = uint64_t(paletteEntries) * sizeof(RGBQUAD);

    // Sizes in 64 bits so that no product wraps; the header's fields must still hold the result.
    const uint64_t pixelCount = uint64_t(width) * height;  // < 2^64 for 32-bit factors
    const bool overCeiling = pixelCount > UINT64_MAX / depth || ((pixelCount * depth) >> 8) > CXIMAGE_MAX_MEMORY;
    const uint64_t rowWidth = ((uint64_t(width) * depth + 31) / 32) * 4;
    const uint64_t imageBytes = overCeiling ? 0 : rowWidth * height;
    if (overCeiling || width > INT32_MAX || height > INT32_MAX ||
        imageBytes + kDibHeaderSize + paletteBytes > UINT32_MAX) {
        SetLastError("CXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }

    m_type = imageType;
    m_rowWidth = static_cast<uint32_t>(rowWidth);
    m_head.biSize = sizeof(BITMAPINFOHEADER);
    m_head.biWidth = static_cast<int32_t>(width);
    m_head.biHeight = static_cast<int32_t>(height);
    m_head.biPlanes = 1;
    m_head.biBitCount = static_cast<uint16_t>(depth);
    m_head.biCompression = BI_RGB;
    m_head.biSizeImage = static_cast<uint32_t>(imageBytes);
    m_head.biClrUsed = paletteEntries;
    m_head.biClrImportant = 0;

    auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(paletteBytes + kDibHeaderSize + imageBytes)));
    if (!block) {
        SetLastError("CxImage::Create can't allocate memory");
        return nullptr;
    }
    std::memcpy(block, &m_head, sizeof m_head);
    std::memset(block + m_head.biSize, 0, static_cast<size_t>(paletteBytes));
    m_dib = block;
    m_pixels = block + m_head.biSize + paletteBytes;
    return m_dib;
}

RGBQUAD* CxImage::GetPalette() const {
    if (!m_dib || m_head.biClrUsed == 0) return nullptr;
    return reinterpret_cast<RGBQUAD*>(static_cast<uint8_t*>(m_dib) + m_head.biSize);
}

void CxImage::SetGreyPalette() {
    RGBQUAD* palette = GetPalette();
    const uint32_t entries = m_head.biClrUsed;
    if (!palette || entries < 2) return;
    const uint32_t step = 255 / (entries - 1);
    for (uint32_t i = 0; i < entries; ++i) {
        const auto level = static_cast<uint8_t>(i * step);
        palette[i] = RGBQUAD{level, level, level, 0};
    }
}

bool CxImage::IsIdentityGrey() const {
    const RGBQUAD* palette = GetPalette();
    // Only 8-bit rows hold one grey sample per byte, which is what the grey ramp means.
    if (!palette || m_head.biBitCount != 8 || m_head.biClrUsed != 256) return false;
    for (uint32_t i = 0; i < 256; ++i) {
        if (palette[i].rgbBlue != i || palette[i].rgbGreen != i || palette[i].rgbRed != i) return false;
    }
    return true;
}

bool CxImage::CreateFromPixels(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                               uint32_t bytesPerLine, bool flip) {
    if (!pixels || (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24)) return false;
    if (!Create(width, height, bitsPerPixel, CXIMAGE_FORMAT_UNKNOWN)) return false;
    if (bitsPerPixel < 24) SetGreyPalette();

    const size_t copy = bytesPerLine < m_rowWidth ? bytesPerLine : m_rowWidth;
    const uint8_t* source = pixels;
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t row = flip ? height - 1 - y : y;
        uint8_t* destination = m_pixels + size_t(row) * m_rowWidth;
        std::memcpy(destination, source, copy);
        if (copy < m_rowWidth)  // short source rows: no uninitialised bytes in the image
            std::memset(destination + copy, 0, m_rowWidth - copy);
        source += bytesPerLine;
    }
    return true;
}

void CxImage::CopyState(const CxImage& other) {
    m_dib = other.m_dib;
    m_head = other.m_head;
    m_rowWidth = other.m_rowWidth;
    m_pixels = other.m_pixels;
    m_type = other.m_type;
    std::memcpy(lastError, other.lastError, sizeof lastError);
    jpegQuality = other.jpegQuality;
    m_xResolution = other.m_xResolution;
    m_yResolution = other.m_yResolution;
}

void CxImage::Borrow(CxImage& owner) {
    CopyState(owner);
    m_borrowedFrom = &owner;
}

void CxImage::TakeOver(CxImage& codec) {
    Destroy();
    CopyState(codec);
    m_borrowedFrom = codec.m_borrowedFrom;
    codec.m_dib = nullptr;
    codec.m_pixels = nullptr;
}

bool CxImage::Encode(CxStream* stream, uint32_t imageType) {
    if (imageType == CXIMAGE_FORMAT_JPG) {
        CxImageJPEG codec(*this);
        if (codec.Encode(stream)) return true;
        std::memcpy(lastError, codec.lastError, sizeof lastError);
        return false;
    }
    SetLastError("Encode: Unknown format");
    return false;
}

bool CxImage::Encode(uint8_t*& buffer, int32_t& size, uint32_t imageType) {
    if (buffer) return false;
    CxMemStream stream;                             // owns a fresh zero-byte block
    if (!Encode(&stream, imageType)) return false;  // the stream frees its block
    size = stream.Size();
    buffer = stream.GetBuffer(true);
    stream.Close();
    return true;
}

bool CxImage::Decode(CxStream* stream, uint32_t imageType) {
    if (imageType == CXIMAGE_FORMAT_JPG) {
        // Decode into the codec's own memory so that a failure keeps the current pixels.
        CxImageJPEG codec;
        if (codec.Decode(stream)) {
            TakeOver(codec);
            return true;
        }
        std::memcpy(lastError, codec.lastError, sizeof lastError);
        return false;
    }
    SetLastError("Decode: Unknown or wrong format");
    return false;
}

bool CxImage::Decode(uint8_t* buffer, uint32_t size, uint32_t imageType) {
    CxMemStream stream(buffer, size);
    const bool decoded = Decode(&stream, imageType);
    stream.Close();
    return decoded;
}

int64_t CxImage::GetDibSize() const {
    return int64_t(m_head.biSize) + 4 * int64_t(m_head.biClrUsed) + int64_t(m_head.biSizeImage);
}
