#include "selector/FrameSort.h"

#include <cstring>
#include <new>

#include "image/dib.h"
#include "selector/FrameOrder.h"
#include "video/ExceptionText.h"
#include "video/VideoFrameReader.h"

SortOutcome ScoreAndSortFrames(VideoFrameReader& reader, FrameInfo& info, int quality, std::vector<std::string>& order,
                               const SortCallbacks& callbacks) {
    SortOutcome outcome;
    try {
        JpegScorer scorer;
        order.clear();
        for (int32_t i = 0; i < info.frameCount; ++i) {
            if (callbacks.keepGoing && !callbacks.keepGoing()) {
                outcome.stop = SortStop::Cancelled;
                break;
            }
            FrameBlockPtr block(reader.ReadFrame(info, i));
            int32_t width = 0, height = 0;
            if (!block || !IsWholeFrameBlock(block.get(), info.frameBlockSize, &width, &height)) {
                outcome.stop = SortStop::Unreadable;
                outcome.unreadableFrame = i;
                if (callbacks.unreadable) callbacks.unreadable(i);
                break;
            }
            const int32_t length = info.frameBlockSize;
            if (callbacks.frameRead) callbacks.frameRead(i, block.get(), length);

            const uint8_t* pixels = block.get() + kDibHeaderSize;
            const int32_t stride = static_cast<int32_t>(DibStride24(width));
            const JpegScore score = callbacks.score ? callbacks.score(i, pixels, width, height, stride)
                                                    : scorer.Score(pixels, width, height, stride, quality);
            if (callbacks.scored) callbacks.scored(i, score);
            block.reset();

            order.push_back(MakeFrameOrderKey(score.score, i));
            ++outcome.framesScored;
            if (score.score < outcome.bestScore) {
                outcome.bestScore = score.score;
                outcome.bestFrame = i;
            }
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
