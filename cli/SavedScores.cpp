#include "cli/SavedScores.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <new>
#include <sstream>

#include "cli/CliCommon.h"
#include "cli/Json.h"

namespace cli {

namespace {

// Large enough for a two-hour video at 60 fps with thumbnails; a file beyond it is no score file.
constexpr std::streamoff kMaxFileBytes = std::streamoff(1) << 30;
// Frame numbers beyond the rows by this much would only make the table huge.
constexpr int64_t kMaxFrameGap = 10'000'000;

struct Row {
    int32_t frame = 0;
    JpegScore score;
    bool haveTime = false;
    double time = 0;
    bool haveThumbnail = false;
    Thumbnail thumbnail{};
};

bool ParseDouble(const std::string& text, double* value) {
    if (text.empty() || text.size() > 40) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

bool ReadCsv(std::istream& in, std::vector<Row>* rows, bool* jpeg, std::string* error) {
    std::string line;
    if (!std::getline(in, line)) {
        *error = "empty";
        return false;
    }
    std::map<std::string, size_t> column;
    {
        std::stringstream header(line);
        std::string name;
        for (size_t i = 0; std::getline(header, name, ','); ++i) {
            if (!name.empty() && name.back() == '\r') name.pop_back();
            column[name] = i;
        }
    }
    if (!column.count("frame") || !column.count("score")) {
        *error = "line 1 names no frame and score columns (is this rank --csv output?)";
        return false;
    }
    *jpeg = column.count("jpegBytes") > 0;
    const auto at = [&column](const char* name) { return column.count(name) ? column[name] : size_t(-1); };
    const size_t cFrame = at("frame"), cScore = at("score"), cBytes = at("jpegBytes"), cTime = at("time"),
                 cThumb = at("thumbnail");
    std::vector<std::string> fields;
    for (int64_t number = 2; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        fields.clear();
        std::stringstream split(line);
        std::string field;
        while (std::getline(split, field, ',')) fields.push_back(field);
        if (line.back() == ',') fields.emplace_back();
        const std::string where = "line " + std::to_string(number) + ": ";
        const auto field_ = [&fields](size_t c) -> const std::string* {
            return c < fields.size() ? &fields[c] : nullptr;
        };
        Row row;
        double score = 0;
        if (!field_(cFrame) || !ParseInt32(*field_(cFrame), &row.frame) || row.frame < 0) {
            *error = where + "no frame number";
            return false;
        }
        if (!field_(cScore) || !ParseDouble(*field_(cScore), &score)) {
            *error = where + "no score";
            return false;
        }
        row.score.sharpness = score;
        if (*jpeg) {
            if (std::floor(score) != score || std::fabs(score) > INT32_MAX || !field_(cBytes) ||
                !ParseInt32(*field_(cBytes), &row.score.jpegBytes)) {
                *error = where + "no whole JPEG score and size";
                return false;
            }
            row.score.score = int32_t(score);
            row.score.sharpness = 0;
            row.score.encoded = row.score.jpegBytes > 0;
        }
        if (field_(cTime) && !field_(cTime)->empty()) {
            if (!ParseDouble(*field_(cTime), &row.time)) {
                *error = where + "the time is no number";
                return false;
            }
            row.haveTime = true;
        }
        if (field_(cThumb) && !field_(cThumb)->empty()) {
            if (!ParseThumbnailText(*field_(cThumb), &row.thumbnail)) {
                *error = where + "the thumbnail is not one rank wrote";
                return false;
            }
            row.haveThumbnail = true;
        }
        rows->push_back(row);
    }
    return true;
}

bool ReadJsonScores(const std::string& text, std::vector<Row>* rows, ScoreTable* table, std::string* error) {
    Json document;
    if (!ParseJson(text, &document, error)) return false;
    if (!document.is_object() || !document.contains("frames") || !document["frames"].is_array()) {
        *error = "no \"frames\" array (is this rank --json output?)";
        return false;
    }
    if (document.contains("scoreKind")) {
        const Json& kind = document["scoreKind"];
        if (!kind.is_string() || !ParseScoreKind(kind.get<std::string>(), &table->kind)) {
            *error = "\"scoreKind\" is none of jpeg, sharpness and local-sharpness";
            return false;
        }
        table->kindNamed = true;
    }
    if (document.contains("frameCount")) {
        const Json& count = document["frameCount"];
        if (!count.is_number_unsigned() || count.get<uint64_t>() > uint64_t(INT32_MAX)) {
            *error = "\"frameCount\" is no frame count";
            return false;
        }
        table->frameCount = int32_t(count.get<uint64_t>());
    }
    const bool jpeg = table->kind == ScoreKind::Jpeg;
    const Json& frames = document["frames"];
    for (size_t i = 0; i < frames.size(); ++i) {
        const Json& entry = frames[i];
        const std::string where = "frame entry " + std::to_string(i + 1) + ": ";
        Row row;
        if (!entry.is_object() || !entry.contains("frame") || !entry["frame"].is_number_unsigned() ||
            entry["frame"].get<uint64_t>() > uint64_t(INT32_MAX)) {
            *error = where + "no frame number";
            return false;
        }
        row.frame = int32_t(entry["frame"].get<uint64_t>());
        if (!entry.contains("score") || !entry["score"].is_number()) {
            *error = where + "no score";
            return false;
        }
        if (jpeg) {
            if (!entry["score"].is_number_integer() || !entry.contains("jpegBytes") ||
                !entry["jpegBytes"].is_number_integer()) {
                *error = where + "no whole JPEG score and size";
                return false;
            }
            const int64_t score = entry["score"].get<int64_t>(), bytes = entry["jpegBytes"].get<int64_t>();
            if (std::llabs(score) > INT32_MAX || bytes < 0 || bytes > INT32_MAX) {
                *error = where + "the JPEG score or size is out of range";
                return false;
            }
            row.score.score = int32_t(score);
            row.score.jpegBytes = int32_t(bytes);
            row.score.encoded = bytes > 0;
        } else {
            row.score.sharpness = entry["score"].get<double>();
        }
        if (entry.contains("time")) {
            if (!entry["time"].is_number()) {
                *error = where + "the time is no number";
                return false;
            }
            row.time = entry["time"].get<double>();
            row.haveTime = true;
        }
        if (entry.contains("thumbnail") && !entry["thumbnail"].is_null()) {
            if (!entry["thumbnail"].is_string() ||
                !ParseThumbnailText(entry["thumbnail"].get<std::string>(), &row.thumbnail)) {
                *error = where + "the thumbnail is not one rank wrote";
                return false;
            }
            row.haveThumbnail = true;
        }
        rows->push_back(row);
    }
    return true;
}

}  // namespace

bool ReadScoreFile(const std::string& path, ScoreTable* table, std::string* error) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            *error = path + ": cannot be read";
            return false;
        }
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        in.seekg(0);
        if (size < 0 || size > kMaxFileBytes) {
            *error = path + ": too large for a score file";
            return false;
        }
        std::vector<Row> rows;
        std::string why;
        *table = ScoreTable();
        char first = 0;
        while (in.get(first) && std::isspace(static_cast<unsigned char>(first))) {
        }
        in.seekg(0);
        bool ok = false;
        if (first == '{') {
            std::string text(static_cast<size_t>(size), '\0');
            in.read(text.data(), size);
            ok = ReadJsonScores(text, &rows, table, &why);
        } else {
            bool jpeg = false;
            ok = ReadCsv(in, &rows, &jpeg, &why);
            table->kind = jpeg ? ScoreKind::Jpeg : ScoreKind::Sharpness;
            table->kindNamed = jpeg;
        }
        if (ok && rows.empty()) why = "no frames";
        if (!ok || rows.empty()) {
            *error = path + ": " + why;
            return false;
        }
        int64_t last = 0;
        for (const Row& row : rows) last = std::max<int64_t>(last, row.frame);
        if (last >= int64_t(rows.size()) + kMaxFrameGap) {
            *error = path + ": frame " + std::to_string(last) + " is far beyond the frames it scores";
            return false;
        }
        if (table->frameCount > 0 && last >= table->frameCount) {
            *error = path + ": frame " + std::to_string(last) + " is beyond its frame count";
            return false;
        }
        table->frameCount = std::max<int32_t>(table->frameCount, int32_t(last + 1));
        const size_t frames = size_t(table->frameCount);
        table->scores.assign(frames, PickScore());
        const bool times = std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.haveTime; });
        const bool thumbnails = std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.haveThumbnail; });
        if (times) table->times.assign(frames, 0.0);
        if (thumbnails) table->thumbnails.assign(frames, Thumbnail{});
        for (const Row& row : rows) {
            const size_t f = size_t(row.frame);
            if (table->scores[f].readable) {
                *error = path + ": frame " + std::to_string(row.frame) + " is there twice";
                return false;
            }
            table->scores[f] = {row.score, true};
            if (times) table->times[f] = row.time;
            if (thumbnails) table->thumbnails[f] = row.thumbnail;
        }
        if (times) {
            // Frames between scored ones (unreadable, or left out) take the time before them, so that
            // times stay in order for the rules.
            for (size_t f = 1; f < frames; ++f)
                if (!table->scores[f].readable) table->times[f] = table->times[f - 1];
            for (size_t f = 1; f < frames; ++f)
                if (table->times[f] < table->times[f - 1]) {
                    *error = path + ": the time of frame " + std::to_string(f) + " is before that of a frame before it";
                    return false;
                }
        }
        return true;
    } catch (const std::bad_alloc&) {
        *error = path + ": out of memory";
    } catch (const std::exception& e) {
        *error = path + ": " + e.what();
    }
    return false;
}

}  // namespace cli
