#include "cli/BatchResult.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "output/ImageFiles.h"
#include "output/ImageOrigin.h"

#ifndef TESSARON_VERSION
#define TESSARON_VERSION "unknown"
#endif

namespace cli {

namespace fs = std::filesystem;

std::string StagingFolder(const std::string& root, const std::string& name) { return root + "/." + name + ".part"; }

bool RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !fs::exists(fs::symlink_status(path, ec));
}

Json VideoLine(const BatchVideo& video, const char* status, const Json& error, const Json& frames,
               const Json& unreadable, const Json& picked, double seconds) {
    Json line;
    line["path"] = video.path;
    line["id"] = video.name;
    line["status"] = status;
    line["error"] = error;
    line["frames"] = frames;
    line["unreadable"] = unreadable;
    line["picked"] = picked;
    line["seconds"] = std::round(seconds * 1000) / 1000;
    return line;
}

Json SkippedLine(const BatchVideo& video, const Json& recorded, double seconds) {
    const auto field = [&](const char* key, Json otherwise) {
        return recorded.contains(key) ? recorded[key] : otherwise;
    };
    Json picked = Json::array();
    for (const Json& frame : field("picked", Json::array()))
        if (frame.is_object() && frame.contains("frame")) picked.push_back(frame["frame"]);
    return VideoLine(video, "skipped", field("error", Json()), field("frameCount", Json()),
                     field("unreadable", Json::array()), picked, seconds);
}

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Flushes a file or folder to disk; false when it could not be.
bool SyncPath(const std::string& path, bool folder) {
    const int fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Everything in staging reaches the disk, then staging becomes <root>/<name> in one step (a folder
// already there is swapped out and removed). An error message, empty when done.
std::string PutInPlace(const std::string& staging, const std::string& root, const std::string& name) {
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(staging, ec))
        if (!SyncPath(entry.path(), false)) return "cannot flush " + entry.path().string() + " to disk";
    if (ec || !SyncPath(staging, true)) return "cannot flush " + staging + " to disk";
    const std::string final = root + "/" + name;
    if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, final.c_str(), RENAME_EXCHANGE) == 0) {
        RemoveTree(staging);  // now the old folder
    } else if (errno == ENOENT) {
        if (::rename(staging.c_str(), final.c_str()) != 0)
            return "cannot rename " + staging + " to " + final + ": " + std::strerror(errno);
    } else {
        // A file system without the exchange: the old folder goes first.
        const std::string old = StagingFolder(root, name + ".old");
        RemoveTree(old);
        if (::rename(final.c_str(), old.c_str()) != 0 || ::rename(staging.c_str(), final.c_str()) != 0)
            return "cannot put " + final + " in place: " + std::strerror(errno);
        RemoveTree(old);
    }
    if (!SyncPath(root, true)) return "cannot flush " + root + " to disk";
    return std::string();
}

// result.json's fields that every result has.
Json ResultBase(const PickJob& job, bool rank, const BatchVideo& video, const char* status, const Json& error) {
    const Json parameters = BatchParameters(job, rank, video);
    Json result;
    result["path"] = video.path;
    result["id"] = video.name;
    result["status"] = status;
    result["error"] = error;
    result["command"] = rank ? "rank" : "pick";
    result["parameters"] = parameters;
    result["parametersHash"] = ParametersHash(parameters);
    result["version"] = TESSARON_VERSION;
    result["source"] = SourceStamp(video.path);
    return result;
}

bool WriteText(const std::string& path, const std::string& text, std::string* error) {
    return WriteFileWhole(path, text.data(), text.size(), true, error);
}

}  // namespace

int RunBatchVideo(PickJob job, bool rank, const BatchVideo& video, const std::string& root, Json* line) {
    const double start = Now();
    const std::string staging = StagingFolder(root, video.name);
    const Json none;
    RemoveTree(staging);
    std::error_code ec;
    if (!fs::create_directory(staging, ec)) {
        const std::string error = "cannot create " + staging + ": " + ec.message();
        Fail("batch", error, kExitTempFail);
        *line = VideoLine(video, "failed", error, none, Json::array(), Json::array(), Now() - start);
        return kExitTempFail;
    }
    job.image.command = "batch";
    job.image.folder = staging;
    job.image.force = true;
    // A manifest's range end stands over --from and --to for its video.
    if (video.range.from.set) job.range.from = video.range.from;
    if (video.range.to.set) job.range.to = video.range.to;
    PickRun run;
    run.command = "batch";
    run.rankOnly = rank;
    run.progress = false;
    const PickOutcome outcome = RunPick(job, video.path, run);

    const ScoreKind kind = job.scoring.kind;
    const auto done = [&](int status, const std::string& error) {
        const bool failed = status != kExitOk;
        if (status == kExitTempFail) RemoveTree(staging);
        Json picked = Json::array();
        for (size_t index : outcome.picked) picked.push_back(outcome.scored[index].frame);
        *line = VideoLine(video, failed ? "failed" : "ok", failed ? Json(error) : none,
                          outcome.opened ? Json(outcome.frameCount) : none, outcome.unreadable, picked, Now() - start);
        return status;
    };
    if (outcome.status == kExitTempFail) return done(kExitTempFail, outcome.error);

    // scores.csv: every frame scored, in frame order; frames.csv even when nothing was picked.
    std::string error;
    std::string scores = IsSharpnessKind(kind) ? "frame,time,rank,score\n" : "frame,time,rank,score,jpegBytes\n";
    for (const ScoredFrame& f : outcome.scored) {
        scores += std::to_string(f.frame) + "," + FormatDouble(f.seconds) + "," + std::to_string(f.rank) + "," +
                  ScoreText(kind, f.score);
        scores += IsSharpnessKind(kind) ? "\n" : "," + std::to_string(f.score.jpegBytes) + "\n";
    }
    bool written = !outcome.opened || WriteText(staging + "/scores.csv", scores, &error);
    if (written && outcome.chosen && outcome.picked.empty())
        written = WriteText(staging + "/frames.csv",
                            std::string("file,frame,time,score,width,height") + OriginCsvHeader() + "\n", &error);

    const bool ok = outcome.status == kExitOk;
    Json result = ResultBase(job, rank, video, ok ? "ok" : "failed", ok ? none : Json(outcome.error));
    result["frameCount"] = outcome.opened ? Json(outcome.frameCount) : none;
    result["framesScored"] = outcome.scored.size();
    result["unreadable"] = outcome.unreadable;
    result["scoreKind"] = ScoreKindName(kind);
    if (kind == ScoreKind::Jpeg) result["quality"] = job.quality;
    if (!rank) {
        result["rule"] = outcome.rule.empty() ? none : Json(outcome.rule);
        Json picked = Json::array();
        for (size_t i = 0; i < outcome.picked.size(); ++i) {
            const ScoredFrame& f = outcome.scored[outcome.picked[i]];
            const std::string& file = outcome.files[i];
            Json item;
            item["frame"] = f.frame;
            item["time"] = f.seconds;
            item["rank"] = f.rank;
            if (IsSharpnessKind(kind))
                item["score"] = f.score.sharpness;
            else
                item["score"] = f.score.score;
            item["file"] = file.empty() ? none : Json(file.substr(file.find_last_of('/') + 1));
            picked.push_back(std::move(item));
        }
        result["picked"] = std::move(picked);
    }
    result["seconds"] = std::round((Now() - start) * 1000) / 1000;
    // Written last: a folder with a result.json is a finished video.
    if (written)
        written = WriteText(staging + "/result.json", result.dump(2, ' ', false, Json::error_handler_t::replace) + "\n",
                            &error);
    if (written) error = PutInPlace(staging, root, video.name);
    if (!written || !error.empty()) {
        Fail("batch", video.path + ": " + error, kExitTempFail);
        return done(kExitTempFail, error);
    }
    return done(ok ? kExitOk : kExitFailed, outcome.error);
}

bool RecordBatchFailure(const PickJob& job, bool rank, const BatchVideo& video, const std::string& root,
                        const std::string& error) {
    const std::string staging = StagingFolder(root, video.name);
    RemoveTree(staging);
    std::error_code ec;
    if (!fs::create_directory(staging, ec)) return false;
    const Json result = ResultBase(job, rank, video, "failed", error);
    std::string why;
    if (!WriteText(staging + "/result.json", result.dump(2, ' ', false, Json::error_handler_t::replace) + "\n", &why) ||
        !PutInPlace(staging, root, video.name).empty()) {
        RemoveTree(staging);
        return false;
    }
    return true;
}

}  // namespace cli
