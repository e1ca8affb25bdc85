#include "cli/PickJob.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "output/ImageFiles.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSort.h"
#include "video/VideoFrameReader.h"

namespace cli {

bool ParseRangeEnd(const std::string& text, RangeEnd* end) {
    if (text.empty() || text.size() > 30 || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
        return false;
    char* stop = nullptr;
    const double value = std::strtod(text.c_str(), &stop);
    const std::string unit(stop);
    if (stop == text.c_str() || !std::isfinite(value)) return false;
    if (unit.empty()) {
        int32_t frame = 0;
        if (!ParseInt32(text, &frame) || frame < 0) return false;
        *end = {true, false, double(frame)};
    } else if (unit == "s" || unit == "ms") {
        *end = {true, true, unit == "s" ? value : value / 1000};
    } else {
        return false;
    }
    return true;
}

void AddPickOptions(CommandLine& line, PickJob& job) {
    const size_t first = line.options.size();
    const auto count = [&job](PickRule rule) {
        return [&job, rule](const std::string& value) {
            int32_t n = 0;
            ++job.rules;
            if (!ParseInt32(value, &n) || n <= 0) return "'" + value + "' is not a positive whole number";
            job.pick.rule = rule;
            job.pick.count = n;
            return std::string();
        };
    };
    line.options.push_back({"--every", nullptr, "seconds (0.5s, 300ms) or a frame count", [&job](const std::string& v) {
                                ++job.rules;
                                return ParseEveryValue(v, &job.pick)
                                           ? std::string()
                                           : "'" + v + "' is not a time such as 0.5s or a count";
                            }});
    line.options.push_back({"--count", nullptr, "a number of frames", count(PickRule::Count)});
    line.options.push_back({"--best", nullptr, "a number of frames", count(PickRule::Best)});
    line.options.push_back({"--min-gap", nullptr, "a number of frames", [&job](const std::string& value) {
                                job.haveGap = true;
                                return ParseInt32(value, &job.pick.minGap) && job.pick.minGap >= 0
                                           ? std::string()
                                           : "'" + value + "' is not a whole number of frames";
                            }});
    line.options.push_back({"--min-relative", nullptr, "a fraction such as 0.8", [&job](const std::string& value) {
                                char* end = nullptr;
                                job.pick.minRelative = std::strtod(value.c_str(), &end);
                                return !value.empty() && !*end && job.pick.minRelative > 0 && job.pick.minRelative <= 10
                                           ? std::string()
                                           : "'" + value + "' is not a fraction such as 0.8";
                            }});
    line.options.push_back(QualityOption(&job.quality));
    line.options.push_back(ScoreOption(&job.scoring.kind));
    AddImageOptions(line, job.image);
    // Each option taken is noted under its main name, so that "-q 30" and "--quality 30" read alike.
    for (size_t i = first; i < line.options.size(); ++i) {
        Option& option = line.options[i];
        option.take = [&job, name = std::string(option.name), take = std::move(option.take)](const std::string& v) {
            job.given.emplace_back(name, v);
            return take(v);
        };
    }
}

std::string CheckPickOptions(const PickJob& job, bool rankOnly) {
    if (rankOnly) {
        for (const auto& [name, value] : job.given) {
            if (name == "--every" || name == "--count" || name == "--best" || name == "--min-gap" ||
                name == "--min-relative")
                return "--rank takes no picking rule (" + name + ")";
            if (name == "--format" || name == "--jpeg-quality" || name == "--name" || name == "--tiff-deflate")
                return "--rank writes no images (" + name + ")";
        }
        return std::string();
    }
    if (job.rules != 1) return "give exactly one of --every, --count and --best";
    if (job.haveGap && job.pick.rule != PickRule::Best) return "--min-gap goes with --best";
    return std::string();
}

std::string ScoreText(ScoreKind kind, const JpegScore& score) {
    return kind == ScoreKind::Sharpness ? FormatDouble(score.sharpness) : std::to_string(score.score);
}

namespace {

// The first frame of the range end: a frame number as it is, a time as the first frame at or after it
// (by the pictures' own times).
int32_t FrameOfEnd(const RangeEnd& end, const VideoFrameReader& reader, int32_t frameCount, int32_t otherwise) {
    if (!end.set) return otherwise;
    if (!end.isTime) return int32_t(end.value);
    if (frameCount <= 0) return otherwise;
    const int32_t shown = reader.FrameAtTime(end.value);
    if (shown < 0) return otherwise;
    if (reader.FrameTime(shown) >= end.value - 1e-9) return shown;
    return shown + 1 < frameCount ? shown + 1 : INT32_MAX;
}

// Tells a failure once on standard error and keeps the first for the outcome.
PickOutcome& Told(PickOutcome& outcome, const PickRun& run, const std::string& message, int status) {
    Fail(run.command, message, status);
    if (outcome.error.empty()) outcome.error = message;
    if (outcome.status == kExitOk) outcome.status = status;
    return outcome;
}

}  // namespace

PickOutcome RunPick(PickJob& job, const std::string& path, const PickRun& run) {
    PickOutcome outcome;
    ImageJob& image = job.image;
    const bool writeImages = !run.rankOnly && !image.folder.empty();
    VideoFrameReader reader;
    reader.SetDeinterlace(image.deinterlace ? 1 : 0);
    FrameInfo* info = nullptr;
    std::string reason;
    if (!OpenVideo(reader, path, &info, &reason)) return Told(outcome, run, path + ": " + reason, kExitFailed);
    outcome.opened = true;
    // Closed on every way out.
    struct Closer {
        VideoFrameReader& reader;
        FrameInfo& info;
        ~Closer() { reader.Close(info); }
    } closer{reader, *info};
    reader.SetDeinterlace(image.deinterlace ? 1 : 0);
    outcome.frameCount = info->frameCount;
    if (const std::string bad = CheckImageBox(image, *info); !bad.empty())
        return Told(outcome, run, path + ": " + bad, kExitFailed);
    FrameSpan span;
    span.begin = FrameOfEnd(job.range.from, reader, info->frameCount, 0);
    span.end = FrameOfEnd(job.range.to, reader, info->frameCount, INT32_MAX);
    const int32_t frames = std::max(std::min(info->frameCount, span.end) - span.begin, 0);
    if (job.range.from.set && span.begin >= info->frameCount)
        return Told(outcome, run, path + ": the range starts after the video's last frame", kExitFailed);
    if (job.range.to.set && span.end <= span.begin)
        return Told(outcome, run, path + ": the range holds no frame (it ends before it starts)", kExitFailed);

    // The box, when given, is what is scored as well as what is written.
    job.scoring.quality = job.quality;
    SetScoreBox(image.haveBox, image.corners, *info, &job.scoring);
    job.pick.score = job.scoring.kind;

    // One scoring pass, as rank: the scores by position in the range.
    std::vector<PickScore> scores(static_cast<size_t>(frames));
    ProgressLine progress("scoring", run.progress);
    SortCallbacks callbacks;
    callbacks.scored = [&](int32_t frame, const JpegScore& score) {
        const size_t at = size_t(frame - span.begin);
        if (at >= scores.size()) scores.resize(at + 1);
        scores[at] = {score, true};
        progress.Update(at + 1, frames);
    };
    std::vector<std::string> order;
    const SortOutcome sort = ScoreAndSortFrames(reader, *info, job.scoring, span, order, callbacks);
    progress.Clear();
    for (size_t at = 0; at < scores.size(); ++at)
        if (!scores[at].readable) outcome.unreadable.push_back(span.begin + int32_t(at));
    if (sort.stop == SortStop::Unreadable) {
        Told(outcome, run,
             path + ": frame " + std::to_string(sort.unreadableFrame) + " cannot be read; " +
                 (run.rankOnly ? "scored " : "choosing among ") + "the " + std::to_string(sort.framesScored) +
                 " frames before it",
             kExitFailed);
    } else if (sort.stop != SortStop::Done) {
        return Told(outcome, run,
                    path + ": scoring stopped after " + std::to_string(sort.framesScored) + " frames" +
                        (sort.reason.empty() ? "" : ": " + sort.reason),
                    sort.stop == SortStop::OutOfMemory ? kExitTempFail : kExitFailed);
    }

    // The rank of a frame: its position in the sort.
    std::vector<int32_t> rankOf(scores.size(), -1);
    for (size_t position = 0; position < order.size(); ++position) {
        int32_t key = 0, frame = 0;
        if (ParseFrameOrderKey(order[position].c_str(), &key, &frame) == 2 && frame >= span.begin &&
            size_t(frame - span.begin) < rankOf.size())
            rankOf[size_t(frame - span.begin)] = int32_t(position);
    }
    std::vector<size_t> indexOf(scores.size(), 0);
    for (size_t at = 0; at < scores.size(); ++at) {
        if (!scores[at].readable) continue;
        const int32_t frame = span.begin + int32_t(at);
        indexOf[at] = outcome.scored.size();
        outcome.scored.push_back({frame, reader.FrameTime(frame), rankOf[at], scores[at].score});
    }
    if (run.rankOnly) return outcome;

    // The rule sees the range as if the video were cut to it: windows start at its first frame.
    outcome.rule = DescribePickRule(job.pick);
    outcome.chosen = true;
    std::vector<ImageItem> items;
    std::vector<double> times(scores.size());
    for (size_t at = 0; at < times.size(); ++at)
        times[at] = reader.FrameTime(span.begin + int32_t(at)) - reader.FrameTime(span.begin);
    for (int32_t at : PickFrames(scores, times, job.pick)) {
        outcome.picked.push_back(indexOf[size_t(at)]);
        items.push_back({span.begin + at, rankOf[size_t(at)], WholeScore(job.scoring.kind, scores[size_t(at)].score)});
    }
    outcome.files.assign(items.size(), std::string());
    if (writeImages && !items.empty()) {
        image.settings.folder = image.folder;
        image.settings.stem = FileStem(path);
        std::string error;
        const std::vector<std::string> planned = PlannedImagePaths(reader, *info, items, image.settings, &error);
        for (size_t i = 0; i < items.size() && i < planned.size(); ++i) outcome.files[i] = planned[i];
        std::string message;
        const int status = WriteImages(image, reader, *info, path, items, run.progress ? stderr : nullptr, &message,
                                       run.progress);
        if (status != kExitOk) {
            if (outcome.error.empty()) outcome.error = message;
            // A failure to write outweighs a frame that could not be read: it is worth another run.
            if (outcome.status == kExitOk || status == kExitTempFail) outcome.status = status;
        }
    }
    return outcome;
}

}  // namespace cli
