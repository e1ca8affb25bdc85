// AVI writer: one uncompressed video stream ("DIB " handler), every frame a key frame.
//
// A small procedural interface around one handle: open, add frames, close. The file is a plain
// RIFF AVI with an idx1 index while it stays under the RIFF size limit (1 GiB); past that it goes on
// in OpenDML form (AVIX RIFF lists, an indx super index and ix00 standard indices, dmlh total frame
// count), so a long output is never cut at a size limit. The first RIFF keeps its idx1 for readers that
// know only AVI 1.0.
//
// Results are AVI error codes (0 on success). No function throws.
#pragma once

#include <cstdint>
#include <string>

#include "image/dib.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Published AVI error codes, as 32-bit results.
constexpr int32_t AVIERR_OK = 0;
constexpr int32_t AVIERR_BADFORMAT = int32_t(0x80044066u);  // first frame's header unusable
constexpr int32_t AVIERR_MEMORY = int32_t(0x80044067u);
constexpr int32_t AVIERR_BADPARAM = int32_t(0x8004406Au);  // null pixels, negative size
constexpr int32_t AVIERR_BADSIZE = int32_t(0x8004406Bu);   // frame size differs from the first frame's
constexpr int32_t AVIERR_BADHANDLE = int32_t(0x8004406Cu);
constexpr int32_t AVIERR_FILEWRITE = int32_t(0x8004406Eu);  // the file system refused a write
constexpr int32_t AVIERR_FILEOPEN = int32_t(0x8004406Fu);
constexpr int32_t AVIERR_ERROR = int32_t(0x800440C7u);  // the handle failed earlier

struct AviOutput;

// Starts a new AVI file for path (UTF-8). The frames go to a temporary file in the same folder, which
// replaces whatever is at path when the handle is closed: a file at path (even the video being read)
// stays whole until then. msPerFrame is the frame period in milliseconds and must be positive.
// audioFormat may be null; it is only kept, no audio is written. Null when the file cannot be created
// (or an existing file at path could not be overwritten) or the period is not positive; the reason
// (the system's text, e.g. "Permission denied") goes to *error when error is not null.
AviOutput* AviOutputOpen(const char* path, int32_t msPerFrame, const WAVEFORMATEX* audioFormat);
AviOutput* AviOutputOpen(const char* path, int32_t msPerFrame, const WAVEFORMATEX* audioFormat, std::string* error);

// Appends one frame: bitsSize bytes of pixel rows at bits. The header of the first frame fixes the
// stream's format (with biClrUsed palette entries following it when biClrUsed is nonzero); later
// headers are not read, but every later frame must have the first frame's bitsSize.
// Returns 0, AVIERR_BADHANDLE for a null handle, AVIERR_ERROR once an earlier call has failed, or the
// code of the failure that marks the handle failed (the frame is then not part of the file).
int32_t AviOutputAddFrame(AviOutput* out, const void* bits, int32_t bitsSize, const BITMAPINFOHEADER* header);

// Frames in any order: writes frame `index` (0-based) straight into its place, which is known before the
// frames before it are written since every frame has the first frame's size (fixed, with the format, by
// the first call). A file takes either this or AviOutputAddFrame. Before close, AviOutputKeepFrames
// says how many places the file holds; each of them must have been put (or moved into).
int32_t AviOutputPutFrame(AviOutput* out, int32_t index, const void* bits, int32_t bitsSize,
                          const BITMAPINFOHEADER* header);
// Copies the frame put into place `from` into place `to` (closing up after a frame left out).
int32_t AviOutputMoveFrame(AviOutput* out, int32_t from, int32_t to);
// The file is to hold places 0..count-1, the rest is dropped: the file is then byte for byte what
// AviOutputAddFrame gives for the same frames in that order. Returns 0 or AVIERR_FILEWRITE.
int32_t AviOutputKeepFrames(AviOutput* out, int32_t count);

// Finishes headers and indices (also after a failed add-frame, so the frames written before it stay
// readable), closes the file and frees the handle. Returns 0, AVIERR_BADHANDLE for a null handle, or
// AVIERR_FILEWRITE when the file could not be finished (reason in *error when error is not null).
int32_t AviOutputClose(AviOutput* out);
int32_t AviOutputClose(AviOutput* out, std::string* error);
// The same, with *made telling whether the file at path is the new one. Before the rename the file is
// given the permission bits of a file it replaces and flushed to disk, and the folder after it. When
// the file replaces one and cannot be finished, the old file stays and nothing is made.
int32_t AviOutputClose(AviOutput* out, std::string* error, bool* made);

// True when a file was at path when the handle was opened: closing replaces it.
bool AviOutputReplaces(const AviOutput* out);

// Abandons the file: the temporary file is removed, whatever is at path stays as it was, and the
// handle is freed. For a file that got no frame, which would hold no video.
void AviOutputDiscard(AviOutput* out);

// Why the handle failed (the system's text for the failed write, e.g. "No space left on device");
// empty while nothing has failed, and for a null handle.
const char* AviOutputLastError(const AviOutput* out);

// Frames stored so far (successful add-frame calls, or the count kept); 0 for a null handle.
int32_t AviOutputFrameCount(const AviOutput* out);

// Size at which a RIFF list is closed and the next begins (default 1 GiB; values below 64 KiB are
// raised to 64 KiB, values above 1 GiB lowered to 1 GiB). Tests lower it to exercise the OpenDML form.
// Frames put into places need it set before the first frame.
constexpr uint64_t kAviDefaultRiffLimit = uint64_t(1) << 30;
void AviOutputSetRiffLimit(AviOutput* out, uint64_t bytes);

// Number of RIFF lists the super index can describe (default 1024, so 1 TiB at the default RIFF size).
// Takes effect only before the first frame; a frame that would need more fails with AVIERR_FILEWRITE.
constexpr uint32_t kAviDefaultIndexCapacity = 1024;
void AviOutputSetIndexCapacity(AviOutput* out, uint32_t riffCount);
