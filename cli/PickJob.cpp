#include "cli/PickJob.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cli/SavedScores.h"
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

std::string ResolveRange(const FrameRange& range, const std::vector<double>& times, int32_t frameCount, int32_t* begin,
                         int32_t* end) {
    const auto frameOf = [&](const RangeEnd& e, int32_t otherwise) -> int32_t {
        if (!e.set) return otherwise;
        if (!e.isTime) return int32_t(e.value);
        const size_t usable = std::min(times.size(), size_t(std::max(frameCount, 0)));
        const auto at = std::lower_bound(times.begin(), times.begin() + std::ptrdiff_t(usable), e.value - 1e-9);
        return at == times.begin() + std::ptrdiff_t(usable) ? INT32_MAX : int32_t(at - times.begin());
    };
    *begin = frameOf(range.from, 0);
    *end = frameOf(range.to, INT32_MAX);
    if (range.from.set && *begin >= frameCount) return "the range starts after the video's last frame";
    if (range.to.set && *end <= *begin) return "the range holds no frame (it ends before it starts)";
    return std::string();
}

void AddRangeOptions(CommandLine& line, FrameRange& range) {
    const auto end = [](RangeEnd* into) {
        return [into](const std::string& value) {
            return ParseRangeEnd(value, into) ? std::string()
                                              : "'" + value + "' is neither a frame number nor a time such as 4.5s";
        };
    };
    line.options.push_back({"--from", nullptr, "a frame number or a time such as 4.5s", end(&range.from)});
    line.options.push_back({"--to", nullptr, "a frame number or a time such as 4.5s", end(&range.to)});
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
    line.options.push_back({"--min-change", nullptr, "a change such as 2.5 (0 to 255)", [&job](const std::string& v) {
                                char* end = nullptr;
                                job.pick.minChange = std::strtod(v.c_str(), &end);
                                return !v.empty() && !*end && job.pick.minChange > 0 && job.pick.minChange <= 255
                                           ? std::string()
                                           : "'" + v + "' is not a change from 0 to 255 such as 2.5";
                            }});
    line.options.push_back({"--max", nullptr, "a number of frames", [&job](const std::string& value) {
                                return ParseInt32(value, &job.pick.maxPicks) && job.pick.maxPicks > 0
                                           ? std::string()
                                           : "'" + value + "' is not a positive whole number";
                            }});
    line.options.push_back(QualityOption(&job.quality));
    line.options.push_back(ScoreOption(&job.scoring.kind));
    AddRangeOptions(line, job.range);
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
                name == "--min-relative" || name == "--min-change" || name == "--max")
                return "--rank takes no picking rule (" + name + ")";
            if (name == "--format" || name == "--jpeg-quality" || name == "--name" || name == "--tiff-deflate" ||
                name == "--no-origin")
                return "--rank writes no images (" + name + ")";
        }
        return std::string();
    }
    if (job.rules != 1) return "give exactly one of --every, --count and --best";
    if (job.haveGap && job.pick.rule != PickRule::Best) return "--min-gap goes with --best";
    return std::string();
}

std::string ScoreText(ScoreKind kind, const JpegScore& score) {
    return IsSharpnessKind(kind) ? FormatDouble(score.sharpness) : std::to_string(score.score);
}

namespace {

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
    const bool saved = !job.scoresFile.empty();
    ScoreTable table;
    if (saved) {
        std::string error;
        if (!ReadScoreFile(job.scoresFile, &table, &error)) return Told(outcome, run, error, kExitFailed);
        const bool scoreGiven = std::any_of(job.given.begin(), job.given.end(),
                                            [](const auto& option) { return option.first == "--score"; });
        if (table.kindNamed && scoreGiven && table.kind != job.scoring.kind)
            return Told(outcome, run,
                        job.scoresFile + ": holds " + ScoreKindName(table.kind) + " scores, not " +
                            ScoreKindName(job.scoring.kind),
                        kExitUsage);
        if (!table.kindNamed && scoreGiven) {
            if (job.scoring.kind == ScoreKind::Jpeg)
                return Told(outcome, run, job.scoresFile + ": holds no JPEG sizes (jpegBytes)", kExitUsage);
            table.kind = job.scoring.kind;
        }
        job.scoring.kind = table.kind;
    }
    // The video is opened to score it, to write images, or for the frame times saved scores lack.
    const bool openVideo = !saved || writeImages || (!path.empty() && table.times.empty());
    const std::string name = saved && !openVideo ? job.scoresFile : path;
    VideoFrameReader reader;
    FrameInfo* info = nullptr;
    struct Closer {
        VideoFrameReader& reader;
        FrameInfo*& info;
        ~Closer() {
            if (info) reader.Close(*info);
        }
    } closer{reader, info};
    std::vector<double> times;
    int32_t frameCount = table.frameCount;
    if (openVideo) {
        reader.SetDeinterlace(image.deinterlace ? 1 : 0);
        std::string reason;
        if (!OpenVideo(reader, path, &info, &reason)) {
            info = nullptr;
            return Told(outcome, run, path + ": " + reason, kExitFailed);
        }
        outcome.opened = true;
        reader.SetDeinterlace(image.deinterlace ? 1 : 0);
        frameCount = info->frameCount;
        times = reader.FrameTimes();
        if (const std::string bad = CheckImageBox(image, *info); !bad.empty())
            return Told(outcome, run, path + ": " + bad, kExitFailed);
        if (saved && table.frameCount > frameCount)
            return Told(outcome, run,
                        job.scoresFile + ": scores frames up to " + std::to_string(table.frameCount - 1) + ", but " +
                            path + " has " + std::to_string(frameCount) + " frames",
                        kExitFailed);
    } else {
        times = table.times;
    }
    outcome.frameCount = frameCount;
    const bool needTimes = (!run.rankOnly && job.pick.rule == PickRule::EverySeconds) ||
                           (job.range.from.set && job.range.from.isTime) || (job.range.to.set && job.range.to.isTime);
    if (needTimes && times.size() < size_t(frameCount))
        return Told(outcome, run, job.scoresFile + ": holds no frame times; give the video as well", kExitUsage);
    int32_t begin = 0, end = INT32_MAX;
    if (const std::string bad = ResolveRange(job.range, times, frameCount, &begin, &end); !bad.empty())
        return Told(outcome, run, name + ": " + bad, kExitFailed);
    const int32_t stop = std::min(frameCount, end);
    const int32_t frames = std::max(stop - begin, 0);
    const bool needThumbnails = job.pick.minChange > 0 && !run.rankOnly;

    std::vector<PickScore> scores;
    std::vector<Thumbnail> thumbnails;
    std::vector<int32_t> rankOf;
    if (saved) {
        if (needThumbnails && table.thumbnails.empty())
            return Told(outcome, run,
                        job.scoresFile +
                            ": holds no thumbnails for --min-change (rank --csv or --json "
                            "writes them)",
                        kExitUsage);
        scores = std::move(table.scores);
        thumbnails = std::move(table.thumbnails);
        scores.resize(size_t(frameCount));
        if (!thumbnails.empty()) thumbnails.resize(size_t(frameCount));
        // The rank of a frame: its place among the range's frames, the best first.
        std::vector<int32_t> order;
        for (int32_t f = begin; f < stop; ++f)
            if (scores[size_t(f)].readable) order.push_back(f);
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            return ScoreBetter(table.kind, scores[size_t(a)].score, scores[size_t(b)].score);
        });
        rankOf.assign(scores.size(), -1);
        for (size_t position = 0; position < order.size(); ++position)
            rankOf[size_t(order[position])] = int32_t(position);
    } else {
        // The box, when given, is what is scored as well as what is written.
        job.scoring.quality = job.quality;
        SetScoreBox(image.haveBox, image.corners, *info, &job.scoring);
        // One scoring pass, as rank, over the range.
        scores.assign(size_t(frameCount), PickScore());
        if (needThumbnails) thumbnails.assign(size_t(frameCount), Thumbnail{});
        ProgressLine progress("scoring", run.progress);
        SortCallbacks callbacks;
        callbacks.scored = [&](int32_t frame, const JpegScore& score) {
            if (frame < 0 || frame >= frameCount) return;
            scores[size_t(frame)] = {score, true};
            progress.Update(frame - begin + 1, frames);
        };
        if (needThumbnails)
            callbacks.thumbnail = [&](int32_t frame, const Thumbnail& thumbnail) {
                if (frame >= 0 && frame < frameCount) thumbnails[size_t(frame)] = thumbnail;
            };
        std::vector<std::string> order;
        const SortOutcome sort = ScoreAndSortFrames(reader, *info, job.scoring, FrameSpan{begin, end}, order,
                                                    callbacks);
        progress.Clear();
        if (sort.stop == SortStop::Unreadable) {
            Told(outcome, run,
                 path + ": frame " + std::to_string(sort.unreadableFrame) + " cannot be read; " +
                     (run.rankOnly ? "scored " : "choosing among ") + "the " + std::to_string(sort.framesScored) +
                     " frames before it",
                 kExitFailed);
        } else if (sort.stop != SortStop::Done) {
            for (int32_t f = begin; f < stop; ++f)
                if (!scores[size_t(f)].readable) outcome.unreadable.push_back(f);
            return Told(outcome, run,
                        path + ": scoring stopped after " + std::to_string(sort.framesScored) + " frames" +
                            (sort.reason.empty() ? "" : ": " + sort.reason),
                        sort.stop == SortStop::OutOfMemory ? kExitTempFail : kExitFailed);
        }
        // The rank of a frame: its position in the sort.
        rankOf.assign(scores.size(), -1);
        for (size_t position = 0; position < order.size(); ++position) {
            int32_t key = 0, frame = 0;
            if (ParseFrameOrderKey(order[position].c_str(), &key, &frame) == 2 && frame >= 0 && frame < frameCount)
                rankOf[size_t(frame)] = int32_t(position);
        }
    }
    job.pick.score = job.scoring.kind;
    for (int32_t f = begin; f < stop; ++f)
        if (!scores[size_t(f)].readable) outcome.unreadable.push_back(f);
    std::vector<size_t> indexOf(scores.size(), 0);
    for (int32_t f = begin; f < stop; ++f) {
        if (!scores[size_t(f)].readable) continue;
        indexOf[size_t(f)] = outcome.scored.size();
        outcome.scored.push_back(
            {f, size_t(f) < times.size() ? times[size_t(f)] : 0.0, rankOf[size_t(f)], scores[size_t(f)].score});
    }
    if (run.rankOnly) return outcome;

    // The rule sees the range as if the video were cut to it: windows start at its first frame.
    outcome.rule = DescribePickRule(job.pick);
    outcome.chosen = true;
    PickSettings settings = job.pick;
    settings.first = begin;
    settings.end = end;
    ChangeMeasure change;
    if (needThumbnails)
        change = [&thumbnails](int32_t a, int32_t b) {
            return ThumbnailChange(thumbnails[size_t(a)], thumbnails[size_t(b)]);
        };
    std::vector<ImageItem> items;
    for (int32_t f : PickFrames(scores, times, settings, change)) {
        outcome.picked.push_back(indexOf[size_t(f)]);
        items.push_back({f, rankOf[size_t(f)], WholeScore(job.scoring.kind, scores[size_t(f)].score)});
    }
    outcome.files.assign(items.size(), std::string());
    if (writeImages && !items.empty() && info) {
        image.settings.folder = image.folder;
        image.settings.stem = FileStem(path);
        std::string error;
        const std::vector<std::string> planned = PlannedImagePaths(reader, *info, items, image.settings, &error);
        std::string message;
        std::vector<int32_t> written;
        const int status = WriteImages(image, reader, *info, path, items, run.progress ? stderr : nullptr, &message,
                                       run.progress, &written);
        // Only the files really written are named (a failure part way leaves the rest unwritten).
        for (const int32_t i : written)
            if (size_t(i) < planned.size()) outcome.files[size_t(i)] = planned[size_t(i)];
        if (status != kExitOk) {
            if (outcome.error.empty()) outcome.error = message;
            // A failure to write outweighs a frame that could not be read: it is worth another run.
            if (outcome.status == kExitOk || status == kExitTempFail) outcome.status = status;
        }
    }
    return outcome;
}

}  // namespace cli
