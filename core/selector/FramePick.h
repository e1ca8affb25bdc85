// Choosing frames from the scores of a sort: the best frame of every window of T seconds or K frames,
// the best of N equal windows, or the best N with a minimum gap, optionally without the frames whose
// detail falls below a fraction of their window's median. The GUI's "Check best..." and
// tessaron-cli pick use this one module; it works on scores already computed and reads no frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "selector/FrameScore.h"

enum class PickRule {
    EverySeconds,  // best of every window [kT, (k+1)T) of frame times (each picture's own time)
    EveryFrames,   // best of every window of K frames: kK ... kK+K-1
    Count,         // best of each of N equal windows [floor(kF/N), floor((k+1)F/N))
    Best,          // best N in sort order, skipping frames fewer than minGap frames from one taken
};

struct PickSettings {
    PickRule rule = PickRule::EverySeconds;
    double seconds = 1.0;    // EverySeconds: T (> 0)
    int32_t count = 1;       // EveryFrames: K; Count and Best: N (> 0)
    int32_t minGap = 0;      // Best: G
    double minRelative = 0;  // > 0: a frame is kept only when its JPEG size is at least this fraction
                             // of the median JPEG size of its window's readable frames (Best: the whole video)
    ScoreKind score = ScoreKind::Jpeg;  // what the scores hold; for sharpness, min-relative compares
                                        // the sharpness with its window's median
    double minChange = 0;               // > 0: a frame whose picture differs from the last one kept (Best: from the
                                        // kept frames next to it in time) by less than this is passed over
    int32_t maxPicks = 0;               // > 0: more picks are thinned to the best pick of each of this many equal
                                        // spans of the video's time
    // The frames the rule sees, [first, end) cut to the video: it works as if the video were cut to
    // them (windows and times start at first).
    int32_t first = 0;
    int32_t end = INT32_MAX;
};

// How much the picture of frame a differs from that of frame b (frames of the whole video), for
// minChange; an empty measure leaves minChange out.
using ChangeMeasure = std::function<double(int32_t a, int32_t b)>;

// The scores of a sort by frame number; frames that were not scored (unreadable, or after the sort
// stopped) have readable false and are never picked, nor counted in a median.
struct PickScore {
    JpegScore score;
    bool readable = false;
};

// The best frame is the one first in the sort: the smallest score (the biggest JPEG), or the highest
// sharpness; equal scores go to the earlier frame. A window whose best frame is too little changed
// takes its best frame that is not, or none. The result is in frame order. frameTimes holds each
// frame's time in seconds (for EverySeconds and maxPicks); an invalid setting (T, N or K not positive, no times)
// gives nothing.
std::vector<int32_t> PickFrames(const std::vector<PickScore>& scores, const std::vector<double>& frameTimes,
                                const PickSettings& settings, const ChangeMeasure& change = {});
// The same for frames framePeriod seconds apart.
std::vector<int32_t> PickFrames(const std::vector<PickScore>& scores, double framePeriod, const PickSettings& settings,
                                const ChangeMeasure& change = {});

// "every 0.5s", "every 12 frames", "count 30", "best 30 min-gap 10", with " min-relative 0.8",
// " min-change 3" and " max 50" when set.
std::string DescribePickRule(const PickSettings& settings);

// "0.5s", "300ms" (seconds) or "12" (frames) as --every takes them; false for anything else.
bool ParseEveryValue(const std::string& text, PickSettings* settings);
