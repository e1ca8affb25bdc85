// Sorting the frames of a video by their JPEG-size score: every frame read, scored and keyed, the keys
// sorted as byte strings, the frame with the smallest score remembered. The view and tessaron-cli run
// the same loop; the view hangs its cancel check, status texts, frame copy and drawing on the callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "selector/FrameChange.h"
#include "selector/FrameScore.h"

struct FrameInfo;
class VideoFrameReader;

// The best score a sort starts from (0x7FFFFFF): a score at or above it never becomes the best.
constexpr int32_t kInitialBestScore = 134217727;

enum class SortStop {
    Done,         // every frame scored
    Cancelled,    // keepGoing said no
    Unreadable,   // the reader delivered no block for unreadableFrame nor for any frame after it
    OutOfMemory,  // the order could not grow
    Failed,       // something else was thrown (reason)
};

struct SortOutcome {
    SortStop stop = SortStop::Done;
    int32_t framesScored = 0;
    int32_t bestFrame = -1;  // -1: no frame scored below kInitialBestScore
    int32_t bestScore = kInitialBestScore;
    int32_t unreadableFrame = -1;
    std::vector<int32_t> skipped;  // frames that could not be read while a later one could, ascending
    std::string reason;            // Failed: what was thrown
    double bestSharpness = -1;     // a sharpness sort's best variance (bestScore is then 0)
};

// Every callback may be empty.
struct SortCallbacks {
    // First thing of every round, before the frame is read; false ends the sort (the view's
    // CheckForCancel, which may rebuild the order itself before saying no).
    std::function<bool()> keepGoing;
    // The frame's block (header + rows, length bytes) right after it was read: status text, frame copy.
    std::function<void(int32_t frame, const uint8_t* block, int32_t length)> frameRead;
    // Scores the frame's rows (the box's, when the sort has one) in a JPEG sort; empty: the library's
    // JpegScorer at the sort's quality. The view draws here (JpegScoreAndDraw). Not called in a
    // sharpness sort.
    std::function<JpegScore(int32_t frame, const uint8_t* pixels, int32_t width, int32_t height, int32_t stride)> score;
    // When set, the luma thumbnail of what was scored (the box's or the frame's), before scored; only
    // then is one made.
    std::function<void(int32_t frame, const Thumbnail& thumbnail)> thumbnail;
    // After scoring, before the key is added (the view titles the document with the frame).
    std::function<void(int32_t frame, const JpegScore& score)> scored;
    // The reader delivered nothing for frame and for every frame after it (the end of the file); called
    // once, after the last round.
    std::function<void(int32_t frame)> unreadable;
};

// Empties order, then for i = 0 while i < info.frameCount (read anew every round): keepGoing, read frame
// i, frameRead, score, scored, key "%010d %d" (score, i) appended. A frame that cannot be read is
// skipped; when a later frame can be, it goes to skipped, else the sort ended at the end of the file
// (Unreadable, at the first of the frames that could not be read; after 25 such frames in a row the
// last frame is tried, and when it cannot be read either the sort ends there). Equal best scores keep
// the earlier frame. The order is sorted however the loop ended (also when keepGoing rebuilt it). Without frameRead and
// score callbacks the frame is scored from the reader's own block (PeekFrame), not from a copy.
SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, int quality, std::vector<std::string>& order,
                               const SortCallbacks& callbacks);

// The frames a sort scores: from begin up to, not including, end (both cut to the video).
struct FrameSpan {
    int32_t begin = 0;
    int32_t end = INT32_MAX;
};

// The same loop with the score and box of settings. A sharpness sort reads the luma through
// PeekLuma (no colour conversion; the frame's pixels for the AVI back end and pictures without a
// Y plane), reading whole frames as well only for a frameRead callback; its order is the highest
// variance first, ties to the earlier frame, as keys "%010d %d" of (position, frame). A sharpness
// sort that keepGoing ended after rebuilding the order keeps that order. A box not inside the frame
// fails the sort before any frame is read.
SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, const ScoreSettings& settings,
                               std::vector<std::string>& order, const SortCallbacks& callbacks);
// The same over the frames of span only: the loop starts at span.begin, and the end of the file is
// looked for at the span's last frame.
SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, const ScoreSettings& settings,
                               const FrameSpan& span, std::vector<std::string>& order, const SortCallbacks& callbacks);
