// The JPEG-size score of a frame: uncompressed DIB size - JPEG size + 100. Frames with more detail
// compress less well and get smaller scores. One implementation for the view and tessaron-cli.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CxImage;
class ScoreStream;

struct JpegScore {
    int32_t score = 0;      // DIB size - jpegBytes + 100
    int32_t jpegBytes = 0;  // bytes of the encoded frame; 0 when the encoding failed
    bool encoded = false;
    // A sharpness sort's score: the variance of the Laplacian of the luma (FrameSharpness.h); score
    // and jpegBytes stay 0 then.
    double sharpness = 0;
};

// Which score ranks the frames. The JPEG size is the default everywhere; the sharpness is chosen.
enum class ScoreKind {
    Jpeg,            // the JPEG size at a quality: the biggest JPEG (the smallest score) first
    Sharpness,       // the variance of the Laplacian of the luma: the highest first
    LocalSharpness,  // the highest such variance among windows of the picture: the highest first
};

// Whether the score is a variance of the Laplacian (held in JpegScore::sharpness, the highest first).
inline bool IsSharpnessKind(ScoreKind kind) { return kind != ScoreKind::Jpeg; }

// "jpeg", "sharpness" or "local-sharpness", as --score takes them and JSON and the INI file write them.
const char* ScoreKindName(ScoreKind kind);
// The name back; false for anything else.
bool ParseScoreKind(const std::string& text, ScoreKind* kind);

// How a sort scores every frame, in one place for the view, "Check best..." and tessaron-cli.
struct ScoreSettings {
    ScoreKind kind = ScoreKind::Jpeg;
    int quality = 25;  // JPEG quality (its low 8 bits are used)
    // Only the box (left, top, width, height; inside the frame) is scored, by either score: the JPEG
    // of the box's pixels, the Laplacian of the box's luma (its own border left out).
    bool useBox = false;
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool operator==(const ScoreSettings&) const = default;
};

// Whether a ranks before b in a sort of kind: a smaller JPEG score, or a higher sharpness. Equal
// scores are neither (the earlier frame goes first).
bool ScoreBetter(ScoreKind kind, const JpegScore& a, const JpegScore& b);

// The score as a whole number, for {score} in image names and frames.csv: the JPEG score, or the
// sharpness rounded to the nearest whole number.
int32_t WholeScore(ScoreKind kind, const JpegScore& score);

// The score of a frame whose encoding failed: that of an empty JPEG, larger than any encoded frame's,
// so the frame sorts after all others.
int32_t EmptyJpegScore(int64_t dibSize);

// Scores frames one after another, keeping its JPEG buffer (and, for rows it cannot read in place, an
// image) from frame to frame; the results are those of a fresh image and buffer per frame.
// Not for use from two threads at once.
class JpegScorer {
public:
    JpegScorer();
    ~JpegScorer();
    JpegScorer(const JpegScorer&) = delete;
    JpegScorer& operator=(const JpegScorer&) = delete;

    // Scores width x height bottom-up 24-bit rows of bytesPerLine bytes at quality (its low 8 bits are
    // the image's jpegQuality). Rows with the 4-byte-aligned stride are encoded where they lie.
    JpegScore Score(const uint8_t* pixels, int32_t width, int32_t height, int32_t bytesPerLine, int quality);

    // The view's path: image becomes a copy of the rows, is scored, and with preview set the JPEG bytes
    // are decoded back into it, so that drawing image shows what the quality does. A failed encode
    // leaves image holding the plain frame.
    JpegScore ScoreImage(CxImage& image, const uint8_t* pixels, int32_t width, int32_t height, int32_t bytesPerLine,
                         int quality, bool preview);

    // The JPEG bytes of the last successful encode (valid until the next call).
    const uint8_t* LastJpeg() const;

private:
    std::unique_ptr<ScoreStream> stream_;
    std::unique_ptr<CxImage> copy_;  // for rows that cannot be encoded in place
};
