// Writing frames of an open video to a new uncompressed AVI file: chosen frames whole (export of
// checked frames) or the crop box of every frame (Crop and Save), plus the small pure helpers the view
// and tessaron-cli share (proposed file names, the omitted-frame report, the output's frame period).
//
// Both loops read frames in ascending order through the caller's reader. The view hangs its cancel
// check, status texts and drawing on the callbacks; frames the reader cannot deliver are left out and
// listed in the outcome. Nothing here throws or shows anything.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

struct FrameInfo;
class VideoFrameReader;

enum class ExportStop {
    Done,          // every frame offered to the writer
    Cancelled,     // keepGoing said no; the frames written so far form a complete file (a file that was
                   // to be replaced stays as it was instead)
    WriteFailed,   // a write or the closing of the file failed (reason); the frames before it stay readable
                   // (a file that was to be replaced stays as it was instead)
    CreateFailed,  // the output could not be created (reason); nothing was read or written
    Refused,       // bad arguments (reason): empty box, no frames, output is the source video
};

struct ExportOutcome {
    ExportStop stop = ExportStop::Done;
    int32_t framesWritten = 0;
    // The output file was made (with framesWritten frames). An export that wrote no frame does not make
    // it, and a file already at its path stays as it was.
    bool written = false;
    std::vector<int32_t> omitted;   // frame numbers the reader did not deliver, in the order met
    std::string reason;             // why it stopped early or did not start
    std::string stampError;         // set when the source's modification time could not be given
    int32_t lastWrittenFrame = -1;  // the frame in the output's last place; -1 when none was written
    // Image sets: the positions in the item list whose files were written, ascending.
    std::vector<int32_t> writtenItems;
};

// Every callback may be empty. A callback that throws ends the loop as a failed write, with the
// exception's text as the reason; what was written before stays as after any failed write.
struct ExportCallbacks {
    // First thing of every round, before the frame is read; false ends the loop (CheckForCancel).
    std::function<bool()> keepGoing;
    // A frame was delivered: for an export the positions of the list done before it (one call for each
    // position the frame takes), for a crop the frame number itself; and the frame.
    std::function<void(int32_t done, int32_t frame)> progress;
    // Whether frameRead is to see this frame (asked before it is read; empty: every frame).
    std::function<bool(int32_t frame)> wantFrame;
    // Right after progress: the block as read (header + rows, length bytes), for the view to draw: the
    // whole frame for an export, the box alone for a crop whose box lies inside the frame.
    std::function<void(int32_t frame, const uint8_t* block, int32_t length)> frameRead;
    // A frame the reader did not deliver (nothing is written for it), with its position in the list, in
    // list order.
    std::function<void(int32_t position, int32_t frame)> omitted;
};

struct ExportTarget {
    const char* path = nullptr;                // output file (UTF-8)
    const char* sourcePath = nullptr;          // the video being read: never written over; null skips the check
    const timespec* sourceModified = nullptr;  // becomes the output's modification time; null: left alone
};

// The box with sorted corners; right and bottom are exclusive, rows counted from the top.
struct CropRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool operator==(const CropRect&) const = default;
};
CropRect NormalizeCropBox(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// The part of the box inside a width x height frame (empty when they do not meet).
CropRect ClampCropBox(const CropRect& box, int32_t width, int32_t height);

// The output's frame period in milliseconds: round(1000 / framesPerSecond), at least 1, so the output
// plays at the source's speed. An unknown rate (zero, negative, not a number) gives 40 (25 fps).
int32_t OutputFramePeriodMs(double framesPerSecond);

// Writes frames[0..count) in that order, whole. The output has the frames that were delivered, densely.
// Each frame is decoded once, in ascending frame order whatever the list's order, and written straight
// into its place. A stop (keepGoing, a failed write) leaves the list's frames up to the first position
// not yet written.
ExportOutcome ExportCheckedFrames(VideoFrameReader& reader, FrameInfo& info, const int32_t* frames, int32_t count,
                                  const ExportTarget& target, const ExportCallbacks& callbacks);

// Writes the box (corners in any order, right and bottom exclusive, clamped to the frame) of every frame.
// An empty box is refused before anything is created.
ExportOutcome CropAndSave(VideoFrameReader& reader, FrameInfo& info, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                          const ExportTarget& target, const ExportCallbacks& callbacks);

// What the user is told about an outcome other than a plain success, naming the file and the reason,
// e.g. "Cannot create /x/out.avi: Permission denied". Empty for Done with the file written (the
// omitted-frame report and a failed time stamp are told separately).
std::string ExportOutcomeText(const ExportOutcome& outcome, const std::string& path);

// "Frames that could not be read:\n" followed by the numbers, a line break after each; past 20
// numbers the rest is summed up as "... and N more". Empty when nothing was omitted.
std::string OmittedFramesReport(const std::vector<int32_t>& omitted);

// Crop and Save's proposed name: "Untitled.avi" without a path; "dir/runx.avi" for "dir/run.avi" (the
// ending compared after lower-casing, the rest kept as it is); empty for any other ending.
std::string CropProposedName(const std::string& documentPath);

// The single-frame export's proposed name: the path minus its last four characters, "-frame", ".bmp".
// Characters are UTF-8 sequences, never split.
std::string BmpProposedName(const std::string& documentPath, int32_t frame);

// Gives the file at path the modification time mtime and keeps its access time. False with the
// system's reason in *error.
bool SetModificationTime(const char* path, const timespec& mtime, std::string* error);
