#include "cli/BatchPlan.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include "output/ImageFiles.h"

namespace cli {

namespace {

// Splits one CSV line into fields; false (with *error) for a quote that is not closed or text after
// a closing quote.
bool SplitCsv(const std::string& line, std::vector<std::string>* fields, std::string* error) {
    fields->assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ',') {
            fields->emplace_back();
        } else if (c == '"' && fields->back().empty()) {
            const size_t start = i;
            for (++i;; ++i) {
                if (i >= line.size()) {
                    *error = "the quote at column " + std::to_string(start + 1) + " is not closed";
                    return false;
                }
                if (line[i] == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                    fields->back() += '"';
                    ++i;
                } else if (line[i] == '"') {
                    break;
                } else {
                    fields->back() += line[i];
                }
            }
            if (i + 1 < line.size() && line[i + 1] != ',') {
                *error = "text after the closing quote at column " + std::to_string(i + 1);
                return false;
            }
        } else {
            fields->back() += c;
        }
    }
    return true;
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

const char* const kColumns[] = {"path", "id", "from", "to"};

// Fills video from its fields (by column); an error message, empty when fine.
std::string TakeFields(const std::vector<std::string>& fields, const std::vector<int>& columns, BatchVideo* video) {
    if (fields.size() > columns.size())
        return std::to_string(fields.size()) + " fields; a line holds at most " + std::to_string(columns.size()) +
               " (path,id,from,to)";
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& value = fields[i];
        switch (columns[i]) {
        case 0: video->path = value; break;
        case 1: video->id = value; break;
        case 2: video->from = value; break;
        case 3: video->to = value; break;
        }
    }
    if (video->path.empty()) return "no path";
    if (!video->from.empty() && !ParseRangeEnd(video->from, &video->range.from))
        return "from '" + video->from + "' is neither a frame number nor a time such as 4.5s";
    if (!video->to.empty() && !ParseRangeEnd(video->to, &video->range.to))
        return "to '" + video->to + "' is neither a frame number nor a time such as 4.5s";
    const RangeEnd &from = video->range.from, &to = video->range.to;
    if (from.set && to.set && from.isTime == to.isTime && to.value <= from.value)
        return "the range " + video->from + " to " + video->to + " holds no frame";
    return std::string();
}

bool ReadJsonManifest(const std::string& text, const std::string& source, std::vector<BatchVideo>* videos,
                      std::string* error) {
    Json document;
    std::string why;
    if (!ParseJson(text, &document, &why)) {
        *error = source + ": not JSON: " + why;
        return false;
    }
    if (!document.is_array()) {
        *error = source + ": a JSON manifest is an array of objects";
        return false;
    }
    for (size_t i = 0; i < document.size(); ++i) {
        const Json& entry = document[i];
        const std::string where = source + " entry " + std::to_string(i + 1) + ": ";
        if (!entry.is_object()) {
            *error = where + "not an object";
            return false;
        }
        std::vector<std::string> fields(4);
        for (const auto& [key, value] : entry.items()) {
            const auto column = std::find(std::begin(kColumns), std::end(kColumns), key);
            if (column == std::end(kColumns)) {
                *error = where + "unknown key \"" + key + "\" (path, id, from, to)";
                return false;
            }
            std::string& field = fields[size_t(column - std::begin(kColumns))];
            if (value.is_string())
                field = value.get<std::string>();
            else if (value.is_number_unsigned() && (key == "from" || key == "to"))
                field = std::to_string(value.get<uint64_t>());
            else if (!value.is_null()) {
                *error = where + "\"" + key + "\" is " +
                         (key == "from" || key == "to" ? "no frame number or text" : "no text");
                return false;
            }
        }
        BatchVideo video;
        video.where = source + " entry " + std::to_string(i + 1);
        const std::string bad = TakeFields(fields, {0, 1, 2, 3}, &video);
        if (!bad.empty()) {
            *error = where + bad;
            return false;
        }
        videos->push_back(std::move(video));
    }
    return true;
}

}  // namespace

bool ReadManifest(const std::string& text, const std::string& source, std::vector<BatchVideo>* videos,
                  std::string* error) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '[') return ReadJsonManifest(text, source, videos, error);
    std::istringstream lines(text);
    std::string line;
    std::vector<int> columns = {0, 1, 2, 3};
    bool firstLine = true;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trimmed(line).empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::string why;
        const std::string where = source + " line " + std::to_string(number) + ": ";
        if (!SplitCsv(line, &fields, &why)) {
            *error = where + why;
            return false;
        }
        for (std::string& field : fields) field = Trimmed(field);
        if (firstLine && std::find(fields.begin(), fields.end(), "path") != fields.end()) {
            // A header: the columns by name.
            columns.clear();
            for (const std::string& name : fields) {
                const auto column = std::find(std::begin(kColumns), std::end(kColumns), name);
                if (column == std::end(kColumns)) {
                    *error = where + "unknown column '" + name + "' (path, id, from, to)";
                    return false;
                }
                if (std::find(columns.begin(), columns.end(), int(column - std::begin(kColumns))) != columns.end()) {
                    *error = where + "the column '" + name + "' is named twice";
                    return false;
                }
                columns.push_back(int(column - std::begin(kColumns)));
            }
            firstLine = false;
            continue;
        }
        firstLine = false;
        BatchVideo video;
        video.where = source + " line " + std::to_string(number);
        const std::string bad = TakeFields(fields, columns, &video);
        if (!bad.empty()) {
            *error = where + bad;
            return false;
        }
        videos->push_back(std::move(video));
    }
    return true;
}

void ReadPathList(const std::string& text, std::vector<BatchVideo>* videos) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        BatchVideo video;
        video.path = line;
        videos->push_back(std::move(video));
    }
}

bool NameVideos(std::vector<BatchVideo>& videos, std::string* error) {
    std::map<std::string, const BatchVideo*> ids;
    for (BatchVideo& video : videos) {
        if (video.id.empty()) continue;
        const std::string& id = video.id;
        std::string bad;
        if (id.find('/') != std::string::npos)
            bad = "holds a /";
        else if (id[0] == '.')
            bad = "starts with a dot";
        else if (id.size() > 200)
            bad = "is longer than 200 bytes";
        else if (std::any_of(id.begin(), id.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            bad = "holds a control character";
        else if (const auto [at, fresh] = ids.emplace(id, &video); !fresh)
            bad = "is given to two videos (also " + (at->second->where.empty() ? at->second->path : at->second->where) +
                  ")";
        if (!bad.empty()) {
            *error = (video.where.empty() ? video.path : video.where) + ": the id '" + id + "' " + bad;
            return false;
        }
        video.name = id;
    }
    std::set<std::string> taken;
    for (const auto& [id, video] : ids) taken.insert(id);
    for (BatchVideo& video : videos) {
        if (!video.id.empty()) continue;
        std::string stem = FileStem(video.path);
        if (stem.empty() || stem == "." || stem == "..") stem = "video";
        if (stem[0] == '.') stem[0] = '_';  // folders starting with a dot are the batch's own
        std::string name = stem;
        for (int suffix = 2; !taken.insert(name).second; ++suffix) name = stem + "-" + std::to_string(suffix);
        video.name = name;
    }
    return true;
}

bool ParseShard(const std::string& text, Shard* shard) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    Shard s;
    if (!ParseInt32(text.substr(0, slash), &s.index) || !ParseInt32(text.substr(slash + 1), &s.count)) return false;
    if (s.count < 1 || s.index < 0 || s.index >= s.count) return false;
    *shard = s;
    return true;
}

bool ShardFromEnvironment(const std::function<const char*(const char*)>& env, int32_t shards, Shard* shard,
                          std::string* error) {
    const auto number = [&](const char* name, int32_t* value) {
        const char* text = env(name);
        return text && ParseInt32(text, value);
    };
    if (shards > 0) {
        int32_t index = 0;
        if (!env("JOB_COMPLETION_INDEX")) {
            *error = "--shards needs JOB_COMPLETION_INDEX (set in a Kubernetes indexed job); else give --shard I/N";
            return false;
        }
        if (!number("JOB_COMPLETION_INDEX", &index) || index < 0 || index >= shards) {
            *error = std::string("JOB_COMPLETION_INDEX '") + env("JOB_COMPLETION_INDEX") + "' is not a shard of " +
                     std::to_string(shards);
            return false;
        }
        *shard = {index, shards};
        return true;
    }
    if (!env("SLURM_ARRAY_TASK_ID") || !env("SLURM_ARRAY_TASK_COUNT")) {
        *shard = Shard();
        return true;
    }
    int32_t id = 0, count = 0, min = 0, step = 1;
    const bool ok = number("SLURM_ARRAY_TASK_ID", &id) && number("SLURM_ARRAY_TASK_COUNT", &count) &&
                    (!env("SLURM_ARRAY_TASK_MIN") || number("SLURM_ARRAY_TASK_MIN", &min)) &&
                    (!env("SLURM_ARRAY_TASK_STEP") || number("SLURM_ARRAY_TASK_STEP", &step));
    const int64_t index = step > 0 ? (int64_t(id) - min) / step : -1;
    if (!ok || count < 1 || step < 1 || (int64_t(id) - min) % step != 0 || index < 0 || index >= count) {
        *error = "the Slurm array task " + std::string(env("SLURM_ARRAY_TASK_ID")) + " of " +
                 env("SLURM_ARRAY_TASK_COUNT") + " is no shard (an array such as --array=0-3 is); give --shard I/N";
        return false;
    }
    *shard = {int32_t(index), count};
    return true;
}

Json BatchParameters(const PickJob& job, bool rank, const BatchVideo& video) {
    std::vector<std::pair<std::string, std::string>> options = job.given;
    std::stable_sort(options.begin(), options.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Json parameters;
    parameters["command"] = rank ? "rank" : "pick";
    parameters["options"] = Json::array();
    for (const auto& [name, value] : options) parameters["options"].push_back(Json::array({name, value}));
    parameters["from"] = video.from.empty() ? Json() : Json(video.from);
    parameters["to"] = video.to.empty() ? Json() : Json(video.to);
    return parameters;
}

std::string ParametersHash(const Json& parameters) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : JsonText(parameters, JsonLayout::Compact)) hash = (hash ^ c) * 1099511628211ull;
    char text[40];
    std::snprintf(text, sizeof text, "fnv1a64:%016" PRIx64, hash);
    return text;
}

Json SourceStamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Json();
    Json stamp;
    stamp["size"] = int64_t(st.st_size);
    stamp["modified"] = std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(1000000000 + st.st_mtim.tv_nsec).substr(1);
    return stamp;
}

BatchDecision DecideVideo(const std::string& folder, const std::string& hash, const Json& source, bool force) {
    BatchDecision decision;
    if (force) {
        decision.why = "--force";
        return decision;
    }
    std::ifstream file(folder + "/result.json", std::ios::binary);
    if (!file) {
        decision.why = "not done yet";
        return decision;
    }
    std::stringstream text;
    text << file.rdbuf();
    Json recorded;
    std::string why;
    if (!ParseJson(text.str(), &recorded, &why) || !recorded.is_object()) {
        decision.why = "its result.json cannot be read";
        return decision;
    }
    const auto field = [&](const char* key) { return recorded.contains(key) ? recorded[key] : Json(); };
    if (field("parametersHash") != Json(hash)) {
        decision.why = "done with other parameters";
    } else if (field("source") != source) {
        decision.why = "the video changed since";
    } else if (field("status") != Json("ok") && field("status") != Json("failed")) {
        decision.why = "its result.json records no finished video";
    } else {
        decision.action = BatchAction::Skip;
        decision.recorded = std::move(recorded);
    }
    return decision;
}

}  // namespace cli
