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

// Only bookkeeping outside a loop's rounds can throw (the loops close their files themselves).
ExportOutcome Unexpected() {
    ExportOutcome outcome;
    outcome.stop = ExportStop::Refused;
    outcome.reason = CurrentExceptionText();
    return outcome;
}

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

// What every loop needs around its rounds: the output's frame geometry, a buffer for one output frame
// and the open file.
struct Output {
    CropRect box;
    int64_t stride = 0;
    int64_t size = 0;
    bool boxOutside = false;  // the box reaches outside the frame: whole frames are read
    std::unique_ptr<uint8_t, FreeDeleter> pixels;
    AviOutput* file = nullptr;
};

// Refusals and the opening of the file; false with outcome filled in when the loop cannot start.
bool StartOutput(FrameInfo& info, const CropRect& box, const ExportTarget& target, Output* output,
                 ExportOutcome* outcome) {
    auto refuse = [outcome](ExportStop stop, std::string reason) {
        outcome->stop = stop;
        outcome->reason = std::move(reason);
        return false;
    };
    if (!target.path || !*target.path) return refuse(ExportStop::Refused, "no output file name");
    if (SameFile(target.path, target.sourcePath))
        return refuse(ExportStop::Refused, "the output file is the video being read");
    output->box = box;
    output->stride = DibStride24(box.Width());
    output->size = output->stride * box.Height();
    if (output->size > std::numeric_limits<int32_t>::max())
        return refuse(ExportStop::Refused, "the frames are too large");
    output->boxOutside = !(ClampCropBox(box, info.width, info.height) == box);
    output->pixels.reset(static_cast<uint8_t*>(std::calloc(size_t(output->size), 1)));
    if (!output->pixels) return refuse(ExportStop::Refused, "not enough memory for one output frame");
    std::string openError;
    output->file = AviOutputOpen(target.path, OutputFramePeriodMs(info.framesPerSecond), nullptr, &openError);
    if (!output->file)
        return refuse(ExportStop::CreateFailed, openError.empty() ? "cannot create the file" : openError);
    return true;
}

// One frame's rows for the output, or null when the reader does not deliver it. Only the box is read
// (the whole frame for an export), unless the box reaches outside the frame. A frame the caller wants to
// see goes to frameRead as it was read, after progress(done, frame): reading it another way would cost
// the reader its place in the stream.
const uint8_t* ReadOutputFrame(VideoFrameReader& reader, FrameInfo& info, int32_t frame, int32_t done, Output& output,
                               const ExportCallbacks& callbacks, BITMAPINFOHEADER* header) {
    const auto progress = [&] {
        if (callbacks.progress) callbacks.progress(done, frame);
    };
    const CropRect& box = output.box;
    const bool show = callbacks.frameRead && (!callbacks.wantFrame || callbacks.wantFrame(frame));
    if (!output.boxOutside) {
        int32_t length = 0;
        const uint8_t* part = reader.ReadFramePart(info, frame, box.left, box.top, box.Width(), box.Height(), &length);
        if (!part || !BlockHeader(part, length, header) || header->biWidth != box.Width() ||
            header->biHeight != box.Height())
            return nullptr;
        progress();
        if (show) callbacks.frameRead(frame, part, length);
        return part + kDibHeaderSize;
    }
    FrameBlockPtr block(reader.ReadFrame(info, frame));
    if (!block || !BlockHeader(block.get(), info.frameBlockSize, header)) return nullptr;
    progress();
    if (show) callbacks.frameRead(frame, block.get(), info.frameBlockSize);
    CopyBox(block.get(), *header, box, output.pixels.get(), output.stride);
    // The output header is the frame's own with the box's size.
    header->biWidth = box.Width();
    header->biHeight = box.Height();
    header->biSizeImage = static_cast<uint32_t>(output.size);
    return output.pixels.get();
}

void WriteFailed(ExportOutcome& outcome, const AviOutput* file) {
    outcome.stop = ExportStop::WriteFailed;
    outcome.reason = AviOutputLastError(file);
    if (outcome.reason.empty()) outcome.reason = "the frame could not be written";
}

// Closes the file with outcome.framesWritten frames (none: the file is not made) and stamps it.
ExportOutcome FinishOutput(Output& output, const ExportTarget& target, ExportOutcome outcome) {
    AviOutput* out = output.file;
    output.file = nullptr;
    // No frame, no video: the file is not made. A stopped or failed export does not replace a file with
    // a part of itself either.
    const bool keepOld = (outcome.stop == ExportStop::Cancelled || outcome.stop == ExportStop::WriteFailed) &&
                         AviOutputReplaces(out);
    if (outcome.framesWritten == 0 || keepOld) {
        AviOutputDiscard(out);
        if (outcome.stop == ExportStop::Done) outcome.reason = "no frame could be read";
        outcome.lastWrittenFrame = -1;
        return outcome;
    }
    std::string closeError;
    const int32_t closed = AviOutputClose(out, &closeError, &outcome.written);
    if (!outcome.written) outcome.lastWrittenFrame = -1;
    if (closed != AVIERR_OK) {
        if (outcome.stop != ExportStop::WriteFailed) {
            outcome.stop = ExportStop::WriteFailed;
            outcome.reason = closeError.empty() ? "the file could not be finished" : closeError;
        } else if (!closeError.empty() && closeError != outcome.reason) {
            outcome.reason += "; " + closeError;
        }
    }
    if (outcome.written && target.sourceModified)
        SetModificationTime(target.path, *target.sourceModified, &outcome.stampError);
    return outcome;
}

// The crop: every frame in order, appended.
ExportOutcome RunCropLoop(VideoFrameReader& reader, FrameInfo& info, const CropRect& box, const ExportTarget& target,
                          const ExportCallbacks& callbacks) {
    ExportOutcome outcome;
    Output output;
    if (!StartOutput(info, box, target, &output, &outcome)) return outcome;
    try {
        // The frame count is read anew every round: reading may change it.
        for (int32_t frame = 0; frame < info.frameCount; ++frame) {
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = ExportStop::Cancelled;
                break;
            }
            BITMAPINFOHEADER header;
            const uint8_t* pixels = ReadOutputFrame(reader, info, frame, frame, output, callbacks, &header);
            if (!pixels) {
                outcome.omitted.push_back(frame);
                if (callbacks.omitted) callbacks.omitted(frame, frame);
                continue;
            }
            if (AviOutputAddFrame(output.file, pixels, static_cast<int32_t>(output.size), &header) != AVIERR_OK) {
                WriteFailed(outcome, output.file);
                break;
            }
            outcome.lastWrittenFrame = frame;
        }
    } catch (...) {
        // Memory ran out (or a callback threw): the file is still closed properly below.
        outcome.stop = ExportStop::WriteFailed;
        outcome.reason = CurrentExceptionText();
    }
    outcome.framesWritten = AviOutputFrameCount(output.file);
    return FinishOutput(output, target, std::move(outcome));
}

// The list: frames decoded once each in ascending order, each written straight into its place in list
// order. A place is settled once every position before it is: its frame was written, or left out,
// which closes up the places after it. Frames written while an earlier position is still open go to
// the place of their position and move down when they settle (only after a frame was left out).
ExportOutcome RunListLoop(VideoFrameReader& reader, FrameInfo& info, const int32_t* frames, int32_t count,
                          const ExportTarget& target, const ExportCallbacks& callbacks) {
    ExportOutcome outcome;
    Output output;
    CropRect whole;
    whole.right = info.width;
    whole.bottom = info.height;
    if (!StartOutput(info, whole, target, &output, &outcome)) return outcome;

    enum : uint8_t { kOpen, kFinal, kProvisional, kLeftOut };
    int32_t settled = 0;  // positions [0, settled) are settled
    int32_t leftOut = 0;  // frames left out among them
    try {
        std::vector<int32_t> order(size_t(count), 0);
        for (int32_t p = 0; p < count; ++p) order[size_t(p)] = p;
        std::stable_sort(order.begin(), order.end(), [frames](int32_t a, int32_t b) { return frames[a] < frames[b]; });
        std::vector<uint8_t> state(size_t(count), kOpen);

        // Settles what can be settled; false when moving a frame down failed.
        auto settle = [&]() {
            for (; settled < count && state[size_t(settled)] != kOpen; ++settled) {
                const int32_t p = settled;
                if (state[size_t(p)] == kLeftOut) {
                    ++leftOut;
                    outcome.omitted.push_back(frames[p]);
                    if (callbacks.omitted) callbacks.omitted(p, frames[p]);
                    continue;
                }
                if (state[size_t(p)] == kProvisional && leftOut > 0 &&
                    AviOutputMoveFrame(output.file, p, p - leftOut) != AVIERR_OK)
                    return false;
                outcome.lastWrittenFrame = frames[p];
            }
            return true;
        };

        int32_t done = 0;
        for (size_t i = 0; i < order.size();) {
            const int32_t frame = frames[order[i]];
            size_t end = i + 1;
            while (end < order.size() && frames[order[end]] == frame) ++end;
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = ExportStop::Cancelled;
                break;
            }
            BITMAPINFOHEADER header;
            const uint8_t* pixels = ReadOutputFrame(reader, info, frame, done, output, callbacks, &header);
            bool failed = false;
            for (size_t k = i; k < end && !failed; ++k) {
                const int32_t p = order[k];
                if (!pixels) {
                    state[size_t(p)] = kLeftOut;
                } else {
                    if (k > i && callbacks.progress) callbacks.progress(done, frame);
                    const bool final = p == settled;
                    const int32_t place = final ? p - leftOut : p;
                    if (AviOutputPutFrame(output.file, place, pixels, static_cast<int32_t>(output.size), &header) !=
                        AVIERR_OK) {
                        WriteFailed(outcome, output.file);
                        failed = true;
                        break;
                    }
                    state[size_t(p)] = final ? kFinal : kProvisional;
                }
                ++done;
                if (!settle()) {
                    WriteFailed(outcome, output.file);
                    failed = true;
                }
            }
            if (failed) break;
            i = end;
        }
    } catch (...) {
        // Memory ran out (or a callback threw): the file is still closed properly below.
        outcome.stop = ExportStop::WriteFailed;
        outcome.reason = CurrentExceptionText();
    }
    // The file holds the list up to the first position not settled.
    outcome.framesWritten = settled - leftOut;
    if (outcome.framesWritten > 0 && AviOutputKeepFrames(output.file, outcome.framesWritten) != AVIERR_OK &&
        outcome.stop != ExportStop::WriteFailed)
        WriteFailed(outcome, output.file);
    return FinishOutput(output, target, std::move(outcome));
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
    try {
        return RunListLoop(reader, info, frames, count, target, callbacks);
    } catch (...) {
        return Unexpected();
    }
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
    try {
        return RunCropLoop(reader, info, box, target, callbacks);
    } catch (...) {
        return Unexpected();
    }
}

std::string ExportOutcomeText(const ExportOutcome& outcome, const std::string& path) {
    const std::string frames = std::to_string(outcome.framesWritten) +
                               (outcome.framesWritten == 1 ? " frame" : " frames");
    switch (outcome.stop) {
    case ExportStop::Done:
        if (!outcome.written) return "Nothing was written to " + path + ": " + outcome.reason + ".";
        return std::string();
    case ExportStop::Cancelled:
        if (!outcome.written && outcome.framesWritten > 0)
            return "Terminated: nothing was written; the file already at " + path + " is as it was.";
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
    std::string text = "Frames that could not be read:\n";
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
