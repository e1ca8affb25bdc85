#include "selector/FrameSort.h"

#include <cstring>
#include <new>

#include "image/dib.h"
#include "selector/FrameOrder.h"
#include "video/ExceptionText.h"
#include "video/VideoFrameReader.h"

namespace {

// Frames in a row that cannot be read before the sort asks whether the last frame can be.
constexpr size_t kRunBeforeLastFrameCheck = 25;

}  // namespace

SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, int quality, std::vector<std::string>& order,
                               const SortCallbacks& callbacks) {
    SortOutcome outcome;
    try {
        JpegScorer scorer;
        const bool peek = !callbacks.frameRead && !callbacks.score;
        order.clear();
        // Frames not read since the last one scored: damage when a later frame reads, else the end.
        std::vector<int32_t> missed;
        for (int32_t i = 0; i < info.frameCount; ++i) {
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = SortStop::Cancelled;
                break;
            }
            // Nobody keeps or draws the block: it is scored where the reader holds it, without a copy.
            FrameBlockPtr owned;
            const uint8_t* block = nullptr;
            if (peek) {
                block = reader.PeekFrame(info, i);
            } else {
                owned.reset(reader.ReadFrame(info, i));
                block = owned.get();
            }
            int32_t width = 0, height = 0;
            if (!block || !IsWholeFrameBlock(block, info.frameBlockSize, &width, &height)) {
                owned.reset();
                missed.push_back(i);
                // A long run of frames that cannot be read is most likely a file cut off: once the last
                // frame cannot be read either, the file ends where the run began.
                if (missed.size() == kRunBeforeLastFrameCheck && i + 1 < info.frameCount &&
                    !IsWholeFrameBlock(reader.PeekFrame(info, info.frameCount - 1), info.frameBlockSize))
                    break;
                continue;
            }
            outcome.skipped.insert(outcome.skipped.end(), missed.begin(), missed.end());
            missed.clear();
            const int32_t length = info.frameBlockSize;
            if (callbacks.frameRead) callbacks.frameRead(i, block, length);

            const uint8_t* pixels = block + kDibHeaderSize;
            const int32_t stride = static_cast<int32_t>(DibStride24(width));
            const JpegScore score = callbacks.score ? callbacks.score(i, pixels, width, height, stride)
                                                    : scorer.Score(pixels, width, height, stride, quality);
            if (callbacks.scored) callbacks.scored(i, score);
            owned.reset();

            order.push_back(MakeFrameOrderKey(score.score, i));
            ++outcome.framesScored;
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
    SortFrameOrder(order);
    return outcome;
}
