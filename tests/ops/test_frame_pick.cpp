// The pick rules against a brute-force reading of their definitions, on random scores with ties and
// unreadable frames. Periods and window lengths are binary fractions, so frame times are exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "selector/FramePick.h"

namespace {

// The test's picture change: frames carry a position along a random walk that often stands still.
double Change(const std::vector<int32_t>& walk, int32_t a, int32_t b) { return std::abs(walk[a] - walk[b]); }

// The best (smallest score, then earliest) eligible frame of a set that differs from last by at least
// minChange, or -1.
int32_t BestOf(const std::vector<PickScore>& scores, const std::vector<int32_t>& window, double minRelative,
               const std::vector<int32_t>& walk = {}, double minChange = 0, int32_t last = -1) {
    std::vector<int32_t> bytes;
    for (int32_t f : window)
        if (scores[f].readable) bytes.push_back(scores[f].score.jpegBytes);
    std::sort(bytes.begin(), bytes.end());
    double median = 0;
    if (!bytes.empty()) median = (double(bytes[(bytes.size() - 1) / 2]) + double(bytes[bytes.size() / 2])) / 2;
    int32_t best = -1;
    for (int32_t f : window) {
        if (!scores[f].readable || (minRelative > 0 && scores[f].score.jpegBytes < minRelative * median)) continue;
        if (last >= 0 && minChange > 0 && Change(walk, f, last) < minChange) continue;
        if (best < 0 || scores[f].score.score < scores[best].score.score) best = f;
    }
    return best;
}

std::vector<int32_t> Reference(const std::vector<PickScore>& scores, double period, const PickSettings& s,
                               const std::vector<int32_t>& walk) {
    const int32_t frames = int32_t(scores.size());
    std::vector<std::vector<int32_t>> windows;
    if (s.rule == PickRule::EverySeconds) {
        for (int32_t k = 0; k * s.seconds < frames * period; ++k) {
            windows.emplace_back();
            for (int32_t f = 0; f < frames; ++f)
                if (f * period >= k * s.seconds && f * period < (k + 1) * s.seconds) windows.back().push_back(f);
        }
    } else if (s.rule == PickRule::EveryFrames) {
        for (int32_t k = 0; k * s.count < frames; ++k) {
            windows.emplace_back();
            for (int32_t f = k * s.count; f <= k * s.count + s.count - 1 && f < frames; ++f)
                windows.back().push_back(f);
        }
    } else if (s.rule == PickRule::Count) {
        for (int32_t k = 0; k < s.count; ++k) {
            windows.emplace_back();
            for (int32_t f = k * frames / s.count; f < (k + 1) * frames / s.count; ++f) windows.back().push_back(f);
        }
    }
    std::vector<int32_t> picked;
    for (const auto& window : windows)
        if (const int32_t best = BestOf(scores, window, s.minRelative, walk, s.minChange,
                                        picked.empty() ? -1 : picked.back());
            best >= 0)
            picked.push_back(best);
    if (s.rule == PickRule::Best) {
        // Eligibility is judged against the whole video's median.
        std::vector<int32_t> all(static_cast<size_t>(frames)), eligible;
        for (int32_t f = 0; f < frames; ++f) all[f] = f;
        std::vector<int32_t> bytes;
        for (int32_t f : all)
            if (scores[f].readable) bytes.push_back(scores[f].score.jpegBytes);
        std::sort(bytes.begin(), bytes.end());
        const double median = bytes.empty()
                                  ? 0
                                  : (double(bytes[(bytes.size() - 1) / 2]) + double(bytes[bytes.size() / 2])) / 2;
        for (int32_t f : all)
            if (scores[f].readable && !(s.minRelative > 0 && scores[f].score.jpegBytes < s.minRelative * median))
                eligible.push_back(f);
        // Repeatedly take the best eligible frame that is not taken and not too close to one taken.
        while (int32_t(picked.size()) < s.count) {
            int32_t best = -1;
            for (int32_t f : eligible) {
                bool blocked = false;
                int32_t before = -1, after = frames;
                for (int32_t t : picked) {
                    blocked = blocked || std::abs(f - t) < std::max(s.minGap, 1);
                    if (t < f) before = std::max(before, t);
                    if (t > f) after = std::min(after, t);
                }
                for (int32_t t : {before, after})
                    blocked = blocked || (t >= 0 && t < frames && s.minChange > 0 && Change(walk, f, t) < s.minChange);
                if (!blocked && (best < 0 || scores[f].score.score < scores[best].score.score)) best = f;
            }
            if (best < 0) break;
            picked.push_back(best);
        }
        std::sort(picked.begin(), picked.end());
    }
    if (s.maxPicks > 0 && picked.size() > size_t(s.maxPicks)) {
        std::vector<int32_t> thinned;
        for (int32_t k = 0; k < s.maxPicks; ++k) {
            std::vector<int32_t> span;
            for (int32_t f : picked)
                if (f >= k * frames / s.maxPicks && f < (k + 1) * frames / s.maxPicks) span.push_back(f);
            if (const int32_t best = BestOf(scores, span, 0); best >= 0) thinned.push_back(best);
        }
        picked = thinned;
    }
    return picked;
}

// The reference on a range: the frames [first, end) as a video of their own.
std::vector<int32_t> RangeReference(const std::vector<PickScore>& scores, double period, PickSettings s,
                                    const std::vector<int32_t>& walk) {
    const int32_t first = std::min<int32_t>(s.first, int32_t(scores.size()));
    const int32_t end = std::clamp<int32_t>(s.end, first, int32_t(scores.size()));
    s.first = 0;
    s.end = INT32_MAX;
    std::vector<int32_t> picked = Reference({scores.begin() + first, scores.begin() + end}, period, s,
                                            {walk.begin() + first, walk.begin() + end});
    for (int32_t& f : picked) f += first;
    return picked;
}

struct Row {
    const char* name;
    int32_t frames;
    double period;
    PickSettings settings;
};

}  // namespace

TEST(FramePick, MatchesTheBruteForceReferenceOnRandomScores) {
    const Row rows[] = {
        {"half seconds at 8 fps", 100, 0.125, {PickRule::EverySeconds, 0.5}},
        {"1.5 s at 4 fps, short last window", 23, 0.25, {PickRule::EverySeconds, 1.5}},
        {"window shorter than a frame", 9, 0.5, {PickRule::EverySeconds, 0.25}},
        {"every 3 frames, short last window", 31, 0.04, {PickRule::EveryFrames, 1, 3}},
        {"every frame", 12, 0.04, {PickRule::EveryFrames, 1, 1}},
        {"window longer than the video", 7, 0.04, {PickRule::EveryFrames, 1, 50}},
        {"count 7 of 100", 100, 0.04, {PickRule::Count, 1, 7}},
        {"count larger than the frame count", 10, 0.04, {PickRule::Count, 1, 15}},
        {"best 10, no gap", 60, 0.04, {PickRule::Best, 1, 10}},
        {"best 5, gap 4", 60, 0.04, {PickRule::Best, 1, 5, 4}},
        {"gap so large that fewer fit", 20, 0.04, {PickRule::Best, 1, 5, 8}},
        {"best more than there are frames", 6, 0.04, {PickRule::Best, 1, 10, 1}},
        {"min-relative per second", 80, 0.125, {PickRule::EverySeconds, 1, 1, 0, 0.9}},
        {"min-relative per count window", 50, 0.04, {PickRule::Count, 1, 5, 0, 1.0}},
        {"min-relative for best", 50, 0.04, {PickRule::Best, 1, 8, 3, 0.95}},
        {"no frames", 0, 0.04, {PickRule::Count, 1, 3}},
        // Near-duplicates (the walk stands still about half of the time), ranges and the cap.
        {"min-change per second", 100, 0.125, {PickRule::EverySeconds, 0.5, 1, 0, 0, ScoreKind::Jpeg, 2}},
        {"min-change every frame", 40, 0.04, {PickRule::EveryFrames, 1, 1, 0, 0, ScoreKind::Jpeg, 1}},
        {"min-change per count window", 60, 0.04, {PickRule::Count, 1, 9, 0, 0, ScoreKind::Jpeg, 3}},
        {"min-change for best with a gap", 60, 0.04, {PickRule::Best, 1, 12, 2, 0, ScoreKind::Jpeg, 2}},
        {"min-change with min-relative", 80, 0.04, {PickRule::EveryFrames, 1, 4, 0, 0.95, ScoreKind::Jpeg, 1}},
        {"range of frames", 90, 0.125, {PickRule::EverySeconds, 1, 1, 0, 0, ScoreKind::Jpeg, 0, 0, 13, 71}},
        {"range past the end", 30, 0.04, {PickRule::Count, 1, 4, 0, 0, ScoreKind::Jpeg, 0, 0, 20, 500}},
        {"range starting after the end", 30, 0.04, {PickRule::EveryFrames, 1, 2, 0, 0, ScoreKind::Jpeg, 0, 0, 40, 50}},
        {"range for best", 60, 0.04, {PickRule::Best, 1, 6, 3, 0, ScoreKind::Jpeg, 1, 0, 11, 47}},
        {"max thins every frame", 100, 0.04, {PickRule::EveryFrames, 1, 1, 0, 0, ScoreKind::Jpeg, 0, 7}},
        {"max above the picks", 50, 0.04, {PickRule::EveryFrames, 1, 10, 0, 0, ScoreKind::Jpeg, 0, 9}},
        {"max on best", 60, 0.04, {PickRule::Best, 1, 20, 0, 0, ScoreKind::Jpeg, 0, 6}},
        {"max, range and min-change",
         120,
         0.125,
         {PickRule::EverySeconds, 0.25, 1, 0, 0, ScoreKind::Jpeg, 1, 5, 17, 103}},
    };
    std::mt19937 random(17);
    for (const Row& row : rows) {
        for (int trial = 0; trial < 40; ++trial) {
            std::vector<PickScore> scores(size_t(row.frames));
            std::vector<int32_t> walk(size_t(row.frames));
            int32_t position = 0;
            for (size_t f = 0; f < scores.size(); ++f) {
                PickScore& s = scores[f];
                // Few distinct scores, so ties are common; about one frame in eight unreadable.
                s.score.score = int32_t(random() % 6);
                s.score.jpegBytes = 1000 - s.score.score * 20;
                s.readable = random() % 8 != 0;
                position += random() % 2 ? 0 : int32_t(random() % 3);
                walk[f] = position;
            }
            const ChangeMeasure change = [&walk](int32_t a, int32_t b) { return Change(walk, a, b); };
            EXPECT_EQ(PickFrames(scores, row.period, row.settings, change),
                      RangeReference(scores, row.period, row.settings, walk))
                << row.name << ", trial " << trial;
        }
    }
}

TEST(FramePick, ParsesEveryAndDescribesRules) {
    PickSettings s;
    ASSERT_TRUE(ParseEveryValue("0.5s", &s));
    EXPECT_EQ(s.rule, PickRule::EverySeconds);
    EXPECT_EQ(s.seconds, 0.5);
    ASSERT_TRUE(ParseEveryValue("300ms", &s));
    EXPECT_DOUBLE_EQ(s.seconds, 0.3);
    ASSERT_TRUE(ParseEveryValue("12", &s));
    EXPECT_EQ(s.rule, PickRule::EveryFrames);
    EXPECT_EQ(s.count, 12);
    for (const char* bad : {"", "0", "-3", "0s", "1.5", "2x", "s", "-1s"})
        EXPECT_FALSE(ParseEveryValue(bad, &s)) << bad;
    EXPECT_EQ(DescribePickRule({PickRule::Best, 1, 30, 10, 0.8}), "best 30 min-gap 10 min-relative 0.8");
    EXPECT_EQ(DescribePickRule({PickRule::Count, 1, 30, 0, 0, ScoreKind::Jpeg, 2.5, 12}),
              "count 30 min-change 2.5 max 12");
    // A whole multiple of T starts a new window despite rounding (frame 30 of 30 fps at T = 1 s).
    std::vector<PickScore> scores(60, PickScore{{5, 100, true}, true});
    scores[30].score.score = 1;
    EXPECT_EQ(PickFrames(scores, 1.0 / 30, {PickRule::EverySeconds, 1.0}), (std::vector<int32_t>{0, 30}));
}

TEST(FramePick, MaxThinsOverTimeNotFrames) {
    // Ten frames in the first 0.1 s, then one a second: the periods of frames 0-13 end in the first half
    // of the time.
    std::vector<double> times;
    for (int f = 0; f < 10; ++f) times.push_back(f * 0.01);
    for (int f = 1; f <= 10; ++f) times.push_back(f);
    const std::vector<PickScore> scores(times.size(), PickScore{{5, 100, true}, true});
    PickSettings max2{PickRule::EveryFrames, 1, 1};
    max2.maxPicks = 2;
    EXPECT_EQ(PickFrames(scores, times, max2), (std::vector<int32_t>{0, 14}));
    // Without times the spans are of frames.
    EXPECT_EQ(PickFrames(scores, std::vector<double>{}, max2), (std::vector<int32_t>{0, 10}));
}
