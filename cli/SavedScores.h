// Scores as rank --csv or --json (or a batch's scores.csv) wrote them, read back for pick --scores:
// a rule can then be tried again and again without decoding the video.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "selector/FrameChange.h"
#include "selector/FramePick.h"
#include "selector/FrameScore.h"

namespace cli {

// Every frame of a video by frame number, as far as scores say.
struct ScoreTable {
    ScoreKind kind = ScoreKind::Jpeg;
    bool kindNamed = false;  // the file said which score it holds (JSON), or its columns did (jpegBytes)
    int32_t frameCount = 0;  // the video's, when the file says; else one past the last frame in it
    std::vector<PickScore> scores;
    std::vector<double> times;          // seconds; empty when the file holds no times
    std::vector<Thumbnail> thumbnails;  // empty when the file holds none
};

// Reads path; false with *error saying what is wrong (the line or entry named). A CSV file takes its
// columns by the names of its first line: frame and score, and any of position (or rank), jpegBytes,
// time, change and thumbnail. A file of more than a few hundred megabytes is refused.
bool ReadScoreFile(const std::string& path, ScoreTable* table, std::string* error);

}  // namespace cli
