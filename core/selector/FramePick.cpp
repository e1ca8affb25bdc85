#include "selector/FramePick.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

namespace {

bool Better(const std::vector<PickScore>& scores, int32_t a, int32_t b, ScoreKind kind) {
    const JpegScore &sa = scores[size_t(a)].score, &sb = scores[size_t(b)].score;
    if (ScoreBetter(kind, sa, sb)) return true;
    return !ScoreBetter(kind, sb, sa) && a < b;
}

// What min-relative compares: the JPEG size, or the sharpness in a sharpness sort.
double Detail(const PickScore& s, ScoreKind kind) {
    return IsSharpnessKind(kind) ? s.score.sharpness : double(s.score.jpegBytes);
}

// Median detail of the readable frames in [begin, end); 0 when there are none.
double MedianDetail(const std::vector<PickScore>& scores, int32_t begin, int32_t end, ScoreKind kind) {
    std::vector<double> details;
    for (int32_t f = begin; f < end; ++f)
        if (scores[size_t(f)].readable) details.push_back(Detail(scores[size_t(f)], kind));
    if (details.empty()) return 0;
    std::sort(details.begin(), details.end());
    const size_t half = details.size() / 2;
    return details.size() % 2 ? details[half] : (details[half - 1] + details[half]) / 2;
}

// Frames of [begin, end) that may be picked: readable, and detailed enough when minRelative is set.
bool Eligible(const std::vector<PickScore>& scores, int32_t frame, double minRelative, double median, ScoreKind kind) {
    const PickScore& s = scores[size_t(frame)];
    return s.readable && (minRelative <= 0 || Detail(s, kind) >= minRelative * median);
}

// Whether frame differs enough from kept (-1: nothing kept yet).
bool Changed(const ChangeMeasure& change, double minChange, int32_t frame, int32_t kept) {
    return kept < 0 || minChange <= 0 || !change || change(frame, kept) >= minChange;
}

// The best eligible frame of the window [begin, end) that differs enough from the last frame picked,
// appended to picked.
void PickInWindow(const std::vector<PickScore>& scores, int32_t begin, int32_t end, const PickSettings& s,
                  const ChangeMeasure& change, std::vector<int32_t>& picked) {
    const double median = s.minRelative > 0 ? MedianDetail(scores, begin, end, s.score) : 0;
    const int32_t last = picked.empty() ? -1 : picked.back();
    int32_t best = -1;
    for (int32_t f = begin; f < end; ++f)
        if (Eligible(scores, f, s.minRelative, median, s.score) && (best < 0 || Better(scores, f, best, s.score)) &&
            Changed(change, s.minChange, f, last))
            best = f;
    if (best >= 0) picked.push_back(best);
}

// At most maxPicks of picked (in frame order): the best of those in each of maxPicks equal spans of
// the video's time (of its frames when there are no times). The video lasts from its first picture to
// one mean frame period past its last, so at a constant rate a span holds as many frames as a window
// of the Count rule.
std::vector<int32_t> Thinned(const std::vector<PickScore>& scores, const std::vector<int32_t>& picked,
                             const std::vector<double>& times, int32_t frames, const PickSettings& s) {
    if (s.maxPicks <= 0 || picked.size() <= size_t(s.maxPicks)) return picked;
    const bool timed = frames > 1 && times.size() >= size_t(frames) && times[size_t(frames - 1)] > times[0];
    const double length = timed ? (times[size_t(frames - 1)] - times[0]) * frames / (frames - 1) : 0;
    const auto spanOf = [&](int32_t f) -> int64_t {
        if (timed) {
            // A frame belongs to the span its period ends in, as frame floor(k F / N) starts window k of
            // the Count rule; the allowance keeps a period that ends on a boundary in the span before.
            const double end = times[size_t(f)] - times[0] + length / frames;
            const double k = std::ceil(end * s.maxPicks / length - 1e-9) - 1;
            return std::clamp<int64_t>(int64_t(k), 0, s.maxPicks - 1);
        }
        // f lies in span k when floor(k F / N) <= f < floor((k + 1) F / N).
        int64_t k = (int64_t(f) * s.maxPicks) / frames;
        while (k + 1 < s.maxPicks && (k + 1) * frames / s.maxPicks <= f) ++k;
        while (k > 0 && k * frames / s.maxPicks > f) --k;
        return k;
    };
    std::vector<int32_t> kept;
    int64_t span = -1;
    for (int32_t f : picked) {
        const int64_t k = spanOf(f);
        if (k != span)
            kept.push_back(f);
        else if (Better(scores, f, kept.back(), s.score))
            kept.back() = f;
        span = k;
    }
    return kept;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

std::vector<int32_t> PickFrames(const std::vector<PickScore>& scores, double framePeriod, const PickSettings& s,
                                const ChangeMeasure& change) {
    std::vector<double> times;
    if (framePeriod > 0 && std::isfinite(framePeriod)) {
        times.resize(scores.size());
        for (size_t f = 0; f < times.size(); ++f) times[f] = double(f) * framePeriod;
    }
    return PickFrames(scores, times, s, change);
}

std::vector<int32_t> PickFrames(const std::vector<PickScore>& scores, const std::vector<double>& frameTimes,
                                const PickSettings& s, const ChangeMeasure& change) {
    std::vector<int32_t> picked;
    const int32_t all = int32_t(std::min<size_t>(scores.size(), INT32_MAX));
    const int32_t first = std::clamp(s.first, 0, all), end = std::clamp(s.end, first, all);
    if (first > 0 || end < all) {
        // The range as a video of its own; its picks are then numbered in the whole video again.
        const std::vector<PickScore> part(scores.begin() + first, scores.begin() + end);
        std::vector<double> times;
        if (frameTimes.size() >= size_t(end))
            for (int32_t f = first; f < end; ++f) times.push_back(frameTimes[size_t(f)] - frameTimes[size_t(first)]);
        PickSettings whole = s;
        whole.first = 0;
        whole.end = INT32_MAX;
        const ChangeMeasure partChange = change ? ChangeMeasure([&](int32_t a, int32_t b) {
            return change(a + first, b + first);
        })
                                                : ChangeMeasure();
        picked = PickFrames(part, times, whole, partChange);
        for (int32_t& f : picked) f += first;
        return picked;
    }
    const int32_t frames = all;
    switch (s.rule) {
    case PickRule::EverySeconds: {
        if (!(s.seconds > 0) || frameTimes.size() < size_t(frames) || !std::isfinite(s.seconds)) return picked;
        // Window of a frame: floor(time / T); the tiny allowance keeps a frame whose time is a whole
        // multiple of T (30 x 1/30 s) in the window it starts, despite rounding.
        const auto window = [&](int32_t f) { return std::floor(frameTimes[size_t(f)] / s.seconds + 1e-9); };
        for (int32_t begin = 0; begin < frames;) {
            int32_t end = begin + 1;
            while (end < frames && window(end) == window(begin)) ++end;
            PickInWindow(scores, begin, end, s, change, picked);
            begin = end;
        }
        break;
    }
    case PickRule::EveryFrames:
        if (s.count <= 0) return picked;
        for (int64_t begin = 0; begin < frames; begin += s.count)
            PickInWindow(scores, int32_t(begin), int32_t(std::min<int64_t>(begin + s.count, frames)), s, change,
                         picked);
        break;
    case PickRule::Count:
        if (s.count <= 0) return picked;
        for (int64_t k = 0; k < s.count; ++k)
            PickInWindow(scores, int32_t(k * frames / s.count), int32_t((k + 1) * frames / s.count), s, change, picked);
        break;
    case PickRule::Best: {
        if (s.count <= 0) return picked;
        const double median = s.minRelative > 0 ? MedianDetail(scores, 0, frames, s.score) : 0;
        std::vector<int32_t> order;
        for (int32_t f = 0; f < frames; ++f)
            if (Eligible(scores, f, s.minRelative, median, s.score)) order.push_back(f);
        std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return Better(scores, a, b, s.score); });
        std::set<int32_t> taken;
        for (int32_t f : order) {
            if (taken.size() >= size_t(s.count)) break;
            const auto next = taken.lower_bound(f);
            if (next != taken.end() && int64_t(*next) - f < s.minGap) continue;
            if (next != taken.begin() && int64_t(f) - *std::prev(next) < s.minGap) continue;
            // Near-duplicates of the kept frames next to it in time are passed over.
            if (next != taken.end() && !Changed(change, s.minChange, f, *next)) continue;
            if (next != taken.begin() && !Changed(change, s.minChange, f, *std::prev(next))) continue;
            taken.insert(f);
        }
        picked.assign(taken.begin(), taken.end());
        break;
    }
    }
    return Thinned(scores, picked, frameTimes, frames, s);
}

std::string DescribePickRule(const PickSettings& s) {
    std::string text;
    switch (s.rule) {
    case PickRule::EverySeconds: text = "every " + Number(s.seconds) + "s"; break;
    case PickRule::EveryFrames: text = "every " + std::to_string(s.count) + " frames"; break;
    case PickRule::Count: text = "count " + std::to_string(s.count); break;
    case PickRule::Best:
        text = "best " + std::to_string(s.count);
        if (s.minGap > 0) text += " min-gap " + std::to_string(s.minGap);
        break;
    }
    if (s.minRelative > 0) text += " min-relative " + Number(s.minRelative);
    if (s.minChange > 0) text += " min-change " + Number(s.minChange);
    if (s.maxPicks > 0) text += " max " + std::to_string(s.maxPicks);
    return text;
}

bool ParseEveryValue(const std::string& text, PickSettings* settings) {
    if (text.empty() || text.size() > 30) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    const bool hasSuffix = !std::isdigit(static_cast<unsigned char>(text.back()));
    if (!hasSuffix) {
        const long frames = std::strtol(begin, &end, 10);
        if (*end || frames <= 0 || frames > INT32_MAX || !std::isdigit(static_cast<unsigned char>(text[0])))
            return false;
        settings->rule = PickRule::EveryFrames;
        settings->count = int32_t(frames);
        return true;
    }
    const double value = std::strtod(begin, &end);
    if (end == begin || (!std::isdigit(static_cast<unsigned char>(text[0])) && text[0] != '.')) return false;
    const std::string unit(end);
    double seconds = 0;
    if (unit == "s")
        seconds = value;
    else if (unit == "ms")
        seconds = value / 1000;
    else
        return false;
    if (!(seconds > 0) || !std::isfinite(seconds)) return false;
    settings->rule = PickRule::EverySeconds;
    settings->seconds = seconds;
    return true;
}
