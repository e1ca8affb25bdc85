#include "output/FrameExport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include "image/dib.h"
#include "output/AviOutput.h"
#include "video/ExceptionText.h"
#include "video/VideoFrameReader.h"

namespace {

constexpr size_t kReportedNumbers = 20;

// Which frame the loop reads in round i, or false when the loop is over.
using FrameAt = std::function<bool(int32_t round, int32_t* frame)>;

bool SameFile(const char* a, const char* b) {
    if (!a || !b) return false;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
    return !ec && same;
}

// The block's header when it describes a 24-bit bottom-up frame that fills length bytes.
bool BlockHeader(const uint8_t* block, int32_t length, BITMAPINFOHEADER* header) {
    if (!IsWholeFrameBlock(block, length)) return false;
    std::memcpy(header, block, sizeof *header);
    return true;
}

// The box's rows out of a W x H block into bottom-up output rows of outStride bytes. Whatever of the
// box lies outside this block is black; row padding stays zero.
void CopyBox(const uint8_t* block, const BITMAPINFOHEADER& source, const CropRect& box, uint8_t* out,
             int64_t outStride) {
    const int32_t width = source.biWidth, height = source.biHeight;
    const int64_t sourceStride = DibStride24(width);
    const uint8_t* rows = block + kDibHeaderSize;
    const CropRect inside = ClampCropBox(box, width, height);
    const bool whole = inside.left == box.left && inside.top == box.top && inside.right == box.right &&
                       inside.bottom == box.bottom;
    if (!whole) std::memset(out, 0, size_t(outStride * box.Height()));
    if (inside.Empty()) return;
    const size_t bytes = size_t(3) * size_t(inside.Width());
    for (int32_t y = inside.top; y < inside.bottom; ++y) {
        const uint8_t* from = rows + int64_t(height - 1 - y) * sourceStride + int64_t(3) * inside.left;
        const int32_t k = y - box.top;  // picture row within the box
        uint8_t* to = out + int64_t(box.Height() - 1 - k) * outStride + int64_t(3) * (inside.left - box.left);
        std::memcpy(to, from, bytes);
    }
}

ExportOutcome RunExportLoop(VideoFrameReader& reader, FrameInfo& info, const CropRect& box, const FrameAt& frameAt,
                            const ExportTarget& target, const ExportCallbacks& callbacks) {
    ExportOutcome outcome;
    auto refuse = [&outcome](ExportStop stop, std::string reason) {
        outcome.stop = stop;
        outcome.reason = std::move(reason);
        return outcome;
    };
    if (!target.path || !*target.path) return refuse(ExportStop::Refused, "no output file name");
    if (SameFile(target.path, target.sourcePath))
        return refuse(ExportStop::Refused, "the output file is the video being read");

    const int64_t outStride = DibStride24(box.Width());
    const int64_t outSize = outStride * box.Height();
    if (outSize > std::numeric_limits<int32_t>::max()) return refuse(ExportStop::Refused, "the frames are too large");
    // Whole frames are read when the caller wants each one (the view keeps it as its frame copy) or the
    // box reaches outside the frame; otherwise only the box is read.
    const bool wholeFrames = bool(callbacks.frameRead) || !(ClampCropBox(box, info.width, info.height) == box);
    std::unique_ptr<uint8_t, FreeDeleter> outPixels(static_cast<uint8_t*>(std::calloc(size_t(outSize), 1)));
    if (!outPixels) return refuse(ExportStop::Refused, "not enough memory for one output frame");

    std::string openError;
    AviOutput* out = AviOutputOpen(target.path, OutputFramePeriodMs(info.framesPerSecond), nullptr, &openError);
    if (!out) return refuse(ExportStop::CreateFailed, openError.empty() ? "cannot create the file" : openError);

    try {
        int32_t frame = 0;
        for (int32_t round = 0; frameAt(round, &frame); ++round) {
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = ExportStop::Cancelled;
                break;
            }
            // The frame's rows for the output: the box's block as the reader delivers it, or the box
            // cut out of the whole frame.
            FrameBlockPtr block;
            const uint8_t* pixels = nullptr;
            BITMAPINFOHEADER header;
            if (!wholeFrames) {
                int32_t length = 0;
                const uint8_t* part = reader.ReadFramePart(info, frame, box.left, box.top, box.Width(), box.Height(),
                                                           &length);
                if (part && BlockHeader(part, length, &header) && header.biWidth == box.Width() &&
                    header.biHeight == box.Height())
                    pixels = part + kDibHeaderSize;
            } else {
                block.reset(reader.ReadFrame(info, frame));
                if (block && BlockHeader(block.get(), info.frameBlockSize, &header)) pixels = outPixels.get();
            }
            if (!pixels) {
                outcome.omitted.push_back(frame);
                if (callbacks.omitted) callbacks.omitted(round, frame);
                continue;
            }
            if (callbacks.progress) callbacks.progress(round, frame);
            if (wholeFrames) {
                if (callbacks.frameRead) callbacks.frameRead(frame, block.get(), info.frameBlockSize);
                CopyBox(block.get(), header, box, outPixels.get(), outStride);
                // The output header is the frame's own with the box's size; the caller's frame copy
                // keeps the frame's header.
                header.biWidth = box.Width();
                header.biHeight = box.Height();
                header.biSizeImage = static_cast<uint32_t>(outSize);
                block.reset();
            }

            if (AviOutputAddFrame(out, pixels, static_cast<int32_t>(outSize), &header) != AVIERR_OK) {
                outcome.stop = ExportStop::WriteFailed;
                outcome.reason = AviOutputLastError(out);
                if (outcome.reason.empty()) outcome.reason = "the frame could not be written";
                break;
            }
        }
    } catch (...) {
        // Memory ran out (or a callback threw): the file is still closed properly below.
        outcome.stop = ExportStop::WriteFailed;
        outcome.reason = CurrentExceptionText();
    }

    outcome.framesWritten = AviOutputFrameCount(out);
    if (outcome.framesWritten == 0) {
        // No frame, no video: the file is not made.
        AviOutputDiscard(out);
        if (outcome.stop == ExportStop::Done) outcome.reason = "no frame could be read";
        return outcome;
    }
    outcome.written = true;
    std::string closeError;
    if (AviOutputClose(out, &closeError) != AVIERR_OK) {
        if (outcome.stop != ExportStop::WriteFailed) {
            outcome.stop = ExportStop::WriteFailed;
            outcome.reason = closeError.empty() ? "the file could not be finished" : closeError;
        } else if (!closeError.empty() && closeError != outcome.reason) {
            outcome.reason += "; " + closeError;
        }
    }
    if (target.sourceModified) SetModificationTime(target.path, *target.sourceModified, &outcome.stampError);
    return outcome;
}

ExportOutcome RunExport(VideoFrameReader& reader, FrameInfo& info, const CropRect& box, const FrameAt& frameAt,
                        const ExportTarget& target, const ExportCallbacks& callbacks) {
    try {
        return RunExportLoop(reader, info, box, frameAt, target, callbacks);
    } catch (...) {
        // Only bookkeeping outside the loop can get here (the loop closes its file itself).
        ExportOutcome outcome;
        outcome.stop = ExportStop::Refused;
        outcome.reason = CurrentExceptionText();
        return outcome;
    }
}

// Drops the last UTF-8 character of text (a lone continuation byte counts as one).
void DropLastCharacter(std::string& text) {
    if (text.empty()) return;
    size_t end = text.size() - 1;
    size_t continuation = 0;
    while (end > 0 && continuation < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
        ++continuation;
    }
    // Only a lead byte that announces this many continuation bytes takes them with it.
    const unsigned char lead = static_cast<unsigned char>(text[end]);
    const size_t announced = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 0;
    if (continuation > 0 && announced == continuation)
        text.resize(end);
    else
        text.resize(text.size() - 1);
}

}  // namespace

CropRect NormalizeCropBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    CropRect box;
    box.left = std::min(x1, x2);
    box.right = std::max(x1, x2);
    box.top = std::min(y1, y2);
    box.bottom = std::max(y1, y2);
    return box;
}

CropRect ClampCropBox(const CropRect& box, int32_t width, int32_t height) {
    CropRect inside;
    inside.left = std::clamp(box.left, 0, std::max(width, 0));
    inside.right = std::clamp(box.right, 0, std::max(width, 0));
    inside.top = std::clamp(box.top, 0, std::max(height, 0));
    inside.bottom = std::clamp(box.bottom, 0, std::max(height, 0));
    if (inside.right < inside.left) inside.right = inside.left;
    if (inside.bottom < inside.top) inside.bottom = inside.top;
    return inside;
}

int32_t OutputFramePeriodMs(double framesPerSecond) {
    if (!(framesPerSecond > 0) || !std::isfinite(framesPerSecond)) return 40;
    const double period = std::round(1000.0 / framesPerSecond);
    if (!(period < double(std::numeric_limits<int32_t>::max()))) return std::numeric_limits<int32_t>::max();
    return std::max<int32_t>(1, static_cast<int32_t>(period));
}

ExportOutcome ExportCheckedFrames(VideoFrameReader& reader, FrameInfo& info, const int32_t* frames, int32_t count,
                                  const ExportTarget& target, const ExportCallbacks& callbacks) {
    if (!frames || count <= 0) {
        ExportOutcome outcome;
        outcome.stop = ExportStop::Refused;
        outcome.reason = "no frames to export";
        return outcome;
    }
    CropRect whole;
    whole.right = info.width;
    whole.bottom = info.height;
    if (whole.Empty()) {
        ExportOutcome outcome;
        outcome.stop = ExportStop::Refused;
        outcome.reason = "the video has no frame size";
        return outcome;
    }
    const FrameAt frameAt = [frames, count](int32_t round, int32_t* frame) {
        if (round >= count) return false;
        *frame = frames[round];
        return true;
    };
    return RunExport(reader, info, whole, frameAt, target, callbacks);
}

ExportOutcome CropAndSave(VideoFrameReader& reader, FrameInfo& info, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                          const ExportTarget& target, const ExportCallbacks& callbacks) {
    const CropRect box = ClampCropBox(NormalizeCropBox(x1, y1, x2, y2), info.width, info.height);
    if (box.Empty()) {
        ExportOutcome outcome;
        outcome.stop = ExportStop::Refused;
        outcome.reason = "the crop box is empty or outside the frame";
        return outcome;
    }
    // The frame count is read anew every round: reading may change it.
    const FrameAt frameAt = [&info](int32_t round, int32_t* frame) {
        if (round >= info.frameCount) return false;
        *frame = round;
        return true;
    };
    return RunExport(reader, info, box, frameAt, target, callbacks);
}

std::string ExportOutcomeText(const ExportOutcome& outcome, const std::string& path) {
    const std::string frames = std::to_string(outcome.framesWritten) +
                               (outcome.framesWritten == 1 ? " frame" : " frames");
    switch (outcome.stop) {
    case ExportStop::Done:
        if (!outcome.written) return "Nothing was written to " + path + ": " + outcome.reason + ".";
        return std::string();
    case ExportStop::Cancelled:
        if (!outcome.written) return "Terminated before the first frame: nothing was written to " + path + ".";
        return "Terminated: " + path + " holds the " + frames + " written before.";
    case ExportStop::WriteFailed:
        if (!outcome.written)
            return "Writing " + path + " failed: " + outcome.reason +
                   ". Nothing was written; a file already there is as it was.";
        return "Writing " + path + " stopped after " + frames + ": " + outcome.reason + ". The " + frames +
               " written before stay readable.";
    case ExportStop::CreateFailed: return "Cannot create " + path + ": " + outcome.reason + ".";
    case ExportStop::Refused: return "Nothing written: " + outcome.reason + ".";
    }
    return std::string();
}

std::string OmittedFramesReport(const std::vector<int32_t>& omitted) {
    if (omitted.empty()) return std::string();
    std::string text = "Frames omitted due to file size limits:\n";
    const size_t shown = std::min(omitted.size(), kReportedNumbers);
    for (size_t i = 0; i < shown; ++i) text += std::to_string(omitted[i]) + "\n";
    if (omitted.size() > shown) text += "... and " + std::to_string(omitted.size() - shown) + " more";
    return text;
}

std::string CropProposedName(const std::string& documentPath) {
    if (documentPath.empty()) return "Untitled.avi";
    const size_t keep = documentPath.size() > 4 ? documentPath.size() - 4 : 0;
    std::string ending = documentPath.substr(keep);
    for (char& c : ending)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ending != ".avi") return std::string();
    return documentPath.substr(0, keep) + "x.avi";
}

std::string BmpProposedName(const std::string& documentPath, int32_t frame) {
    std::string name = documentPath;
    for (int i = 0; i < 4; ++i) DropLastCharacter(name);
    return name + "-" + std::to_string(frame) + ".bmp";
}

bool SetModificationTime(const char* path, const timespec& mtime, std::string* error) {
    if (!path || !*path) {
        if (error) *error = "no file name";
        return false;
    }
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // access time as it is
    times[1] = mtime;
    if (::utimensat(AT_FDCWD, path, times, 0) != 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    return true;
}
