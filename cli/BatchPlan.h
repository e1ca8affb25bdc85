// What tessaron-cli batch plans before any video is read: the list of videos (arguments, a list file,
// a CSV or JSON manifest), each video's folder name, which videos a shard takes, and whether a video's
// earlier result still stands. Pure and deterministic: every shard of a batch plans alike.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/Json.h"
#include "cli/PickJob.h"

namespace cli {

struct BatchVideo {
    std::string path;
    std::string id;        // from the manifest, or empty
    std::string name;      // its folder under -o: the id, or the file's stem (made unique by NameVideos)
    std::string from, to;  // the manifest's range ends as written, or empty
    FrameRange range;
    std::string where;  // "list.csv line 4" for a video from a manifest, else empty
};

// "path[,id][,from][,to]" lines: fields may be quoted ("a,b.mp4", "" for a quote), an empty field is
// not given, blank lines and lines starting with # are skipped. A first line whose fields are column
// names (path, id, from, to, in any order; path among them) is a header naming the columns. A text
// starting with [ is a JSON manifest instead: an array of objects with "path" and optional "id",
// "from", "to" (a frame number, or text such as "4.5s"). Appends to videos; false with an error that
// names source and the line (or entry): "list.csv line 4: ...".
bool ReadManifest(const std::string& text, const std::string& source, std::vector<BatchVideo>* videos,
                  std::string* error);

// One path a line (--files-from); blank lines skipped, nothing else interpreted.
void ReadPathList(const std::string& text, std::vector<BatchVideo>* videos);

// Gives every video its folder name: its id (checked: no "/", not starting with ".", at most 200
// bytes, no two alike), else its file's stem, with "-2", "-3", ... after a name already taken by an id
// or an earlier video. False with an error naming the video.
bool NameVideos(std::vector<BatchVideo>& videos, std::string* error);

struct Shard {
    int32_t index = 0;
    int32_t count = 1;
};

// "I/N" with 0 <= I < N.
bool ParseShard(const std::string& text, Shard* shard);

// The shard when none was given: with shards (--shards N) set, index JOB_COMPLETION_INDEX (a
// Kubernetes indexed job); else a Slurm job array's task (SLURM_ARRAY_TASK_ID counted from
// SLURM_ARRAY_TASK_MIN in steps of SLURM_ARRAY_TASK_STEP, of SLURM_ARRAY_TASK_COUNT); else the whole
// list. env reads a variable (null when unset). False with an error.
bool ShardFromEnvironment(const std::function<const char*(const char*)>& env, int32_t shards, Shard* shard,
                          std::string* error);

// Whether the video at position (in the whole list) is the shard's: position modulo count is index.
inline bool InShard(size_t position, const Shard& shard) {
    return position % size_t(shard.count) == size_t(shard.index);
}

// The record of what a batch asks of every video, and of one video's range: the command (pick or
// rank) and the options as given, sorted by name (repeats keep their order).
Json BatchParameters(const PickJob& job, bool rank, const BatchVideo& video);
// A short text that changes whenever the parameters do ("fnv1a64:" and 16 hex digits).
std::string ParametersHash(const Json& parameters);

// The file a result was made from: size and modification time, or null when it cannot be read.
Json SourceStamp(const std::string& path);

enum class BatchAction { Run, Skip };

struct BatchDecision {
    BatchAction action = BatchAction::Run;
    std::string why;  // Run: why it is (re)done
    Json recorded;    // Skip: the result.json that stands
};

// Whether a video's folder holds a result that stands: its result.json is whole, has hash as its
// parametersHash and source as its source, and records a finished video (ok, or a failure that running
// again would not mend). force always runs.
BatchDecision DecideVideo(const std::string& folder, const std::string& hash, const Json& source, bool force);

}  // namespace cli
