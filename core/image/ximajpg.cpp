#include "image/ximajpg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "image/xfile.h"

// Rows go to and come from the library in blue-green-red order without a conversion pass.
#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's extended colour spaces (JCS_EXT_BGR) are required"
#endif

// The library reports errors by longjmp out of its own frames and ours. Every function that can be
// on the stack when that happens (the callbacks below, the scanline loops, the two setjmp sites)
// holds only trivially destructible locals.
namespace {

constexpr size_t kStreamBufferSize = 4096;
constexpr int kRowsPerCall = 16;

struct ErrorManager {
    jpeg_error_mgr pub;  // first: the library sees only this part
    jmp_buf jump;
    char* lastError;  // 256 bytes
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::snprintf(err->lastError, 256, "%s", text);
    std::longjmp(err->jump, 1);
}

void InstallErrorManager(ErrorManager& err, char* lastError) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.lastError = lastError;
}

struct Destination {
    jpeg_destination_mgr pub;  // first
    CxStream* stream;
    JOCTET* buffer;
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    dest->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kStreamBufferSize));
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kStreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    if (dest->stream->Write(dest->buffer, 1, kStreamBufferSize) != kStreamBufferSize) ERREXIT(cinfo, JERR_FILE_WRITE);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kStreamBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
    const size_t count = kStreamBufferSize - dest->pub.free_in_buffer;
    if (count > 0 && dest->stream->Write(dest->buffer, 1, count) != count) ERREXIT(cinfo, JERR_FILE_WRITE);
    if (!dest->stream->Flush() || dest->stream->HasError() != 0) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct Source {
    jpeg_source_mgr pub;  // first
    CxStream* stream;
    JOCTET* buffer;
    bool startOfFile;
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<Source*>(cinfo->src)->startOfFile = true; }

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    size_t count = src->stream->Read(src->buffer, 1, kStreamBufferSize);
    if (count == 0) {
        if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // An end-of-image marker in place of the missing data ends the image cleanly.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        count = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = count;
    src->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long numBytes) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    if (numBytes <= 0) return;
    size_t remaining = static_cast<size_t>(numBytes);
    while (remaining > src->pub.bytes_in_buffer) {
        remaining -= src->pub.bytes_in_buffer;
        FillInputBuffer(cinfo);  // never suspends
    }
    src->pub.next_input_byte += remaining;
    src->pub.bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

struct CompressJob {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    Destination dest;
};

struct DecompressJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Source src;
};

// Top row of the picture first: image rows are stored bottom-up.
void CompressScanlines(j_compress_ptr cinfo, uint8_t* pixels, uint32_t rowWidth) {
    const JDIMENSION height = cinfo->image_height;
    JSAMPROW rows[kRowsPerCall];
    while (cinfo->next_scanline < height) {
        JDIMENSION count = 0;
        for (JDIMENSION line = cinfo->next_scanline; line < height && count < kRowsPerCall; ++line, ++count)
            rows[count] = pixels + size_t(height - 1 - line) * rowWidth;
        jpeg_write_scanlines(cinfo, rows, count);
    }
}

}  // namespace

CxImageJPEG::CxImageJPEG() : CxImage(CXIMAGE_FORMAT_JPG) {}

CxImageJPEG::CxImageJPEG(CxImage& owner) : CxImage(CXIMAGE_FORMAT_JPG) { Borrow(owner); }

bool CxImageJPEG::Encode(CxStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (!m_dib) {
        SetLastError("null image!!!");
        return false;
    }
    const bool grey = m_head.biClrUsed != 0;
    if ((grey && !IsIdentityGrey()) || (!grey && m_head.biBitCount != 24)) {
        SetLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    int quality = jpegQuality;
    if (quality < 1) quality = 1;
    if (quality > 100) quality = 100;

    CompressJob job{};
    InstallErrorManager(job.err, lastError);
    job.cinfo.err = &job.err.pub;
    if (setjmp(job.err.jump)) {
        jpeg_destroy_compress(&job.cinfo);
        return false;
    }
    jpeg_create_compress(&job.cinfo);

    job.dest.pub.init_destination = InitDestination;
    job.dest.pub.empty_output_buffer = EmptyOutputBuffer;
    job.dest.pub.term_destination = TermDestination;
    job.dest.stream = stream;
    job.cinfo.dest = &job.dest.pub;

    job.cinfo.image_width = static_cast<JDIMENSION>(m_head.biWidth);
    job.cinfo.image_height = static_cast<JDIMENSION>(m_head.biHeight);
    if (grey) {
        job.cinfo.input_components = 1;
        job.cinfo.in_color_space = JCS_GRAYSCALE;
    } else {
        // Same samples and arithmetic as RGB input with blue and red exchanged, read in place.
        job.cinfo.input_components = 3;
        job.cinfo.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&job.cinfo);
    jpeg_set_quality(&job.cinfo, quality, TRUE);
    job.cinfo.density_unit = 1;
    job.cinfo.X_density = static_cast<UINT16>(m_xResolution);
    job.cinfo.Y_density = static_cast<UINT16>(m_yResolution);

    jpeg_start_compress(&job.cinfo, TRUE);
    CompressScanlines(&job.cinfo, m_pixels, m_rowWidth);
    jpeg_finish_compress(&job.cinfo);
    jpeg_destroy_compress(&job.cinfo);
    return true;
}

bool CxImageJPEG::Decode(CxStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    DecompressJob job{};
    InstallErrorManager(job.err, lastError);
    job.cinfo.err = &job.err.pub;
    if (setjmp(job.err.jump)) {
        jpeg_destroy_decompress(&job.cinfo);
        return false;
    }
    jpeg_create_decompress(&job.cinfo);

    job.src.pub.init_source = InitSource;
    job.src.pub.fill_input_buffer = FillInputBuffer;
    job.src.pub.skip_input_data = SkipInputData;
    job.src.pub.resync_to_restart = jpeg_resync_to_restart;
    job.src.pub.term_source = TermSource;
    job.src.stream = stream;
    job.src.buffer = static_cast<JOCTET*>(
        (*job.cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&job.cinfo), JPOOL_PERMANENT, kStreamBufferSize));
    job.cinfo.src = &job.src.pub;

    const bool decoded = DecodeScanlines(&job.cinfo);
    jpeg_destroy_decompress(&job.cinfo);
    return decoded;
}

bool CxImageJPEG::DecodeScanlines(jpeg_decompress_struct* cinfo) {
    jpeg_read_header(cinfo, TRUE);
    // Colour output lands in the rows as blue-green-red directly; the values equal RGB output.
    const bool colour = cinfo->out_color_space == JCS_RGB;
    if (colour) cinfo->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(cinfo);

    const JDIMENSION width = cinfo->output_width;
    const JDIMENSION height = cinfo->output_height;
    const int components = cinfo->output_components;
    if (!Create(width, height, 8 * static_cast<uint32_t>(components), CXIMAGE_FORMAT_JPG))
        return false;  // Create's text is in lastError
    if (components == 1) SetGreyPalette();
    // The library fills only the samples; clear the row padding so no stale heap bytes remain.
    const size_t usedBytes = size_t(width) * (components == 1 ? 1 : 3);
    if (usedBytes < m_rowWidth) {
        for (JDIMENSION y = 0; y < height; ++y)
            std::memset(m_pixels + size_t(y) * m_rowWidth + usedBytes, 0, m_rowWidth - usedBytes);
    }

    if (components == 1 || (colour && components == 3)) {
        JSAMPROW rows[kRowsPerCall];
        while (cinfo->output_scanline < height) {
            JDIMENSION count = 0;
            for (JDIMENSION line = cinfo->output_scanline; line < height && count < kRowsPerCall; ++line, ++count)
                rows[count] = m_pixels + size_t(height - 1 - line) * m_rowWidth;
            jpeg_read_scanlines(cinfo, rows, count);
        }
    } else {
        const size_t scanlineBytes = size_t(width) * components;
        JSAMPROW scanline = static_cast<JSAMPROW>(
            (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, scanlineBytes));
        while (cinfo->output_scanline < height) {
            uint8_t* row = m_pixels + size_t(height - 1 - cinfo->output_scanline) * m_rowWidth;
            jpeg_read_scanlines(cinfo, &scanline, 1);
            if (components == 4) {
                // c, m, y, k to blue, green, red
                const uint8_t* cmyk = scanline;
                for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, row += 3) {
                    const unsigned k = cmyk[3];
                    row[0] = static_cast<uint8_t>(cmyk[2] * k / 255);
                    row[1] = static_cast<uint8_t>(cmyk[1] * k / 255);
                    row[2] = static_cast<uint8_t>(cmyk[0] * k / 255);
                }
            } else {
                const size_t copy = scanlineBytes < m_rowWidth ? scanlineBytes : m_rowWidth;
                std::memcpy(row, scanline, copy);
                std::memset(row + copy, 0, m_rowWidth - copy);
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}
