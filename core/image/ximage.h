// The in-memory image: one device-independent bitmap (header, optional palette, bottom-up pixel
// rows) with JPEG encoding to and decoding from byte streams and memory buffers, and painting.
// Nothing here throws: failures return false (null for Create) with a text in lastError.
#pragma once

#include <cstdint>

#include "image/dib.h"

class CxStream;
class QPainter;
class QPaintDevice;
class QRect;

// Format codes.
constexpr uint32_t CXIMAGE_FORMAT_UNKNOWN = 0;
constexpr uint32_t CXIMAGE_FORMAT_JPG = 3;

// Ceiling on (width * height * bits per pixel) >> 8, checked by Create.
constexpr uint64_t CXIMAGE_MAX_MEMORY = 256000000;

class CxImage {
public:
    explicit CxImage(uint32_t imageType = CXIMAGE_FORMAT_UNKNOWN);
    virtual ~CxImage();
    CxImage(const CxImage&) = delete;
    CxImage& operator=(const CxImage&) = delete;

    // Replaces the image by an uninitialised one; bitsPerPixel is rounded up to 1, 4, 8 or 24.
    // Returns the dib block, or null (lastError set, image left empty).
    void* Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel, uint32_t imageType = 0);
    // Copies rows of bytesPerLine bytes; flip turns the row order over.
    bool CreateFromPixels(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                          uint32_t bytesPerLine, bool flip);

    bool Encode(CxStream* stream, uint32_t imageType);
    // buffer must be null on entry; on success it holds size bytes that the caller frees with std::free.
    bool Encode(uint8_t*& buffer, int32_t& size, uint32_t imageType);
    bool Decode(CxStream* stream, uint32_t imageType);
    // The buffer stays the caller's.
    bool Decode(uint8_t* buffer, uint32_t size, uint32_t imageType);

    // Header + palette + pixel bytes of the uncompressed bitmap.
    int64_t GetDibSize() const;

    // Paints the image with its top-left corner at (x, y). cx or cy below 0 stands for the image's
    // own width or height. Returns 1 when it painted, 0 otherwise. Defined in the GUI library
    // (gui/view/CxImageDraw.cpp): the core and tessaron-cli link no Qt, so only the GUI can call it.
    int Draw(QPainter* painter, int x, int y, int cx = -1, int cy = -1, const QRect* clipRect = nullptr);
    int Draw(QPaintDevice* device, int x, int y, int cx = -1, int cy = -1, const QRect* clipRect = nullptr);

    bool IsValid() const { return m_dib != nullptr; }
    uint32_t GetWidth() const { return static_cast<uint32_t>(m_head.biWidth); }
    uint32_t GetHeight() const { return static_cast<uint32_t>(m_head.biHeight); }
    uint32_t GetBpp() const { return m_head.biBitCount; }
    uint32_t GetType() const { return m_type; }
    uint32_t GetRowWidth() const { return m_rowWidth; }
    const BITMAPINFOHEADER& GetHeader() const { return m_head; }
    void* GetDib() const { return m_dib; }
    // First byte of the bottom row.
    uint8_t* GetBits() const { return m_pixels; }
    // Palette entries (biClrUsed of them), null without a palette.
    RGBQUAD* GetPalette() const;
    int32_t GetXResolution() const { return m_xResolution; }
    int32_t GetYResolution() const { return m_yResolution; }

protected:
    void Destroy();
    // Share another image's memory for the length of one codec call; frees nothing later.
    void Borrow(CxImage& owner);
    // Take over a codec's header, settings and memory after a successful decode.
    void TakeOver(CxImage& codec);
    // Header, settings, error text and memory pointers of other, nothing freed or taken.
    void CopyState(const CxImage& other);
    void SetGreyPalette();
    // True for an 8-bit image whose palette is the identity grey ramp.
    bool IsIdentityGrey() const;
    void SetLastError(const char* text);

    void* m_dib = nullptr;
    BITMAPINFOHEADER m_head{};
    // Row width in bytes (a multiple of 4), the pixels, where they are borrowed from, the format.
    uint32_t m_rowWidth = 0;
    uint8_t* m_pixels = nullptr;
    CxImage* m_borrowedFrom = nullptr;
    uint32_t m_type = 0;

public:
    char lastError[256] = {};
    uint8_t jpegQuality = 75;

protected:
    int32_t m_xResolution = 96;
    int32_t m_yResolution = 96;
};
