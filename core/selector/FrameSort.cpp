#include "selector/FrameSort.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "image/dib.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSharpness.h"
#include "video/ExceptionText.h"
#include "video/VideoFrameReader.h"

namespace {

// Frames in a row that cannot be read before the sort asks whether the last frame can be.
constexpr size_t kRunBeforeLastFrameCheck = 25;

// The rows a frame is scored from: the whole picture or the box, bottom-up 24-bit rows.
struct ScoredRows {
    const uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0;
    int32_t stride = 0;
};

// A sharpness sort's order: the highest variance first, ties to the earlier frame.
void RankBySharpness(std::vector<std::pair<double, int32_t>>& scored, std::vector<std::string>& order) {
    std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    order.clear();
    for (size_t position = 0; position < scored.size(); ++position)
        order.push_back(MakeFrameOrderKey(int32_t(position), scored[position].second));
}

}  // namespace

SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, int quality, std::vector<std::string>& order,
                               const SortCallbacks& callbacks) {
    ScoreSettings settings;
    settings.quality = quality;
    return ScoreAndSortFrames(reader, info, settings, order, callbacks);
}

SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, const ScoreSettings& settings,
                               std::vector<std::string>& order, const SortCallbacks& callbacks) {
    return ScoreAndSortFrames(reader, info, settings, FrameSpan(), order, callbacks);
}

SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, const ScoreSettings& settings,
                               const FrameSpan& span, std::vector<std::string>& order, const SortCallbacks& callbacks) {
    SortOutcome outcome;
    const bool sharpness = IsSharpnessKind(settings.kind);
    const bool local = settings.kind == ScoreKind::LocalSharpness;
    std::vector<std::pair<double, int32_t>> sharp;  // variance and frame of every frame scored
    try {
        order.clear();
        const int32_t boxLeft = settings.useBox ? settings.left : 0, boxTop = settings.useBox ? settings.top : 0;
        const int32_t boxWidth = settings.useBox ? settings.width : info.width;
        const int32_t boxHeight = settings.useBox ? settings.height : info.height;
        if (settings.useBox && (boxLeft < 0 || boxTop < 0 || boxWidth <= 0 || boxHeight <= 0 ||
                                boxWidth > info.width - boxLeft || boxHeight > info.height - boxTop)) {
            outcome.stop = SortStop::Failed;
            outcome.reason = "the box is not inside the frame";
            return outcome;
        }
        JpegScorer scorer;
        const bool peek = !callbacks.frameRead && !callbacks.score;
        // Frames not read since the last one scored: damage when a later frame reads, else the end.
        std::vector<int32_t> missed;
        const auto end = [&] { return std::min(info.frameCount, span.end); };
        for (int32_t i = std::max(span.begin, 0); i < end(); ++i) {
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = SortStop::Cancelled;
                break;
            }
            JpegScore score;
            bool haveScore = false, readable = true;
            if (sharpness) {
                // The decoder's luma where there is one; it stays valid only until the next read.
                LumaPlane luma;
                const LumaRead read = reader.PeekLuma(info, i, boxLeft, boxTop, boxWidth, boxHeight, &luma);
                readable = read != LumaRead::Unreadable;
                if (read == LumaRead::Plane) {
                    score.sharpness = local ? LocalLaplacianVariance(luma) : LaplacianVariance(luma);
                    if (callbacks.thumbnail) callbacks.thumbnail(i, LumaThumbnail(luma));
                    haveScore = true;
                }
            }
            // The frame's pixels, unless the luma was all that is needed. Nobody keeps or draws them in
            // the peek path: they are scored where the reader holds them, without a copy.
            FrameBlockPtr owned;
            ScoredRows rows;
            if (readable && (!haveScore || !peek)) {
                const uint8_t* block = nullptr;
                int32_t length = info.frameBlockSize, width = 0, height = 0;
                if (!peek) {
                    owned.reset(reader.ReadFrame(info, i));
                    block = owned.get();
                    length = info.frameBlockSize;
                } else if (settings.useBox) {
                    block = reader.ReadFramePart(info, i, boxLeft, boxTop, boxWidth, boxHeight, &length);
                } else {
                    block = reader.PeekFrame(info, i);
                    length = info.frameBlockSize;
                }
                readable = block && IsWholeFrameBlock(block, length, &width, &height);
                if (readable) {
                    if (callbacks.frameRead) callbacks.frameRead(i, block, length);
                    rows = {block + kDibHeaderSize, width, height, static_cast<int32_t>(DibStride24(width))};
                    if (!peek && settings.useBox) {
                        // The box's rows within the whole bottom-up frame.
                        readable = boxWidth <= width - boxLeft && boxHeight <= height - boxTop;
                        rows.pixels += int64_t(height - boxTop - boxHeight) * rows.stride + 3 * int64_t(boxLeft);
                        rows.width = boxWidth;
                        rows.height = boxHeight;
                    }
                }
            }
            if (!readable) {
                owned.reset();
                missed.push_back(i);
                // A long run of frames that cannot be read is most likely a file cut off: once the last
                // frame cannot be read either, the file ends where the run began.
                if (missed.size() == kRunBeforeLastFrameCheck && i + 1 < end() &&
                    !IsWholeFrameBlock(reader.PeekFrame(info, end() - 1), info.frameBlockSize))
                    break;
                continue;
            }
            outcome.skipped.insert(outcome.skipped.end(), missed.begin(), missed.end());
            missed.clear();
            if (callbacks.thumbnail && (!sharpness || !haveScore))
                callbacks.thumbnail(i, BgrThumbnail(rows.pixels, rows.width, rows.height, rows.stride, true));
            if (sharpness && !haveScore)
                score.sharpness = local ? LocalLaplacianVarianceBgr(rows.pixels, rows.width, rows.height, rows.stride)
                                        : LaplacianVarianceBgr(rows.pixels, rows.width, rows.height, rows.stride);
            else if (!sharpness)
                score = callbacks.score
                            ? callbacks.score(i, rows.pixels, rows.width, rows.height, rows.stride)
                            : scorer.Score(rows.pixels, rows.width, rows.height, rows.stride, settings.quality);
            if (callbacks.scored) callbacks.scored(i, score);
            owned.reset();

            ++outcome.framesScored;
            if (sharpness) {
                sharp.emplace_back(score.sharpness, i);
                order.push_back(MakeFrameOrderKey(i, i));  // ranked when the loop ends
                if (score.sharpness > outcome.bestSharpness) {
                    outcome.bestSharpness = score.sharpness;
                    outcome.bestFrame = i;
                    outcome.bestScore = 0;
                }
                continue;
            }
            order.push_back(MakeFrameOrderKey(score.score, i));
            if (score.score < outcome.bestScore) {
                outcome.bestScore = score.score;
                outcome.bestFrame = i;
            }
        }
        if (outcome.stop == SortStop::Done && !missed.empty()) {
            outcome.stop = SortStop::Unreadable;
            outcome.unreadableFrame = missed.front();
            if (callbacks.unreadable) callbacks.unreadable(missed.front());
        }
    } catch (const std::bad_alloc&) {
        // Memory ran out: what was scored is kept.
        outcome.stop = SortStop::OutOfMemory;
    } catch (...) {
        // A callback threw: what was scored is kept, and what was thrown is told.
        outcome.stop = SortStop::Failed;
        outcome.reason = CurrentExceptionText();
    }
    if (sharpness && order.size() == sharp.size()) {
        try {
            RankBySharpness(sharp, order);
            return outcome;
        } catch (const std::bad_alloc&) {
            outcome.stop = SortStop::OutOfMemory;
        }
    }
    SortFrameOrder(order);
    return outcome;
}
