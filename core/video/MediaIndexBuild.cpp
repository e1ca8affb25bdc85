#include "video/MediaIndexBuild.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace {

// More packets than this is no real video; a hostile file stops here instead of filling memory.
constexpr size_t kMaxPackets = 200'000'000;
// A clock jump of more than this many seconds starts a new run (as ffmpeg's own threshold does).
constexpr int64_t kJumpSeconds = 10;

struct PacketDeleter {
    void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};

int64_t SaturatingSub(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? std::numeric_limits<int64_t>::max() / 2 : 0;
    return std::clamp<int64_t>(r, std::numeric_limits<int64_t>::min() / 2, std::numeric_limits<int64_t>::max() / 2);
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return std::numeric_limits<int64_t>::max() / 2;
    return std::min(r, std::numeric_limits<int64_t>::max() / 2);
}

bool RateValid(AVRational r) { return r.num > 0 && r.den > 0 && av_q2d(r) > 0 && std::isfinite(av_q2d(r)); }

bool HasPicture(const IndexPacket& p) { return !(p.flags & (kPacketDiscard | kPacketEmpty)); }

}  // namespace

IndexPass ReadPacketIndex(AVFormatContext* format, int stream, const IndexProgress& progress, MediaIndex* index) {
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) return IndexPass::Failed;
    index->packets.clear();
    index->palettes.clear();
    index->pictures.clear();
    index->times.clear();
    const int64_t size = format->pb ? avio_size(format->pb) : -1;
    int64_t lastDuration = 0;
    int again = 0;
    for (uint64_t round = 1;; ++round) {
        const int r = av_read_frame(format, packet.get());
        if (r == AVERROR(EAGAIN) && ++again < 1000) continue;
        if (r < 0) break;
        again = 0;
        if (packet->stream_index == stream) {
            IndexPacket p;
            p.pos = packet->pos;
            p.dts = packet->dts == AV_NOPTS_VALUE ? kNoTimestamp : packet->dts;
            p.pts = packet->pts == AV_NOPTS_VALUE ? kNoTimestamp : packet->pts;
            p.size = packet->size;
            if (packet->flags & AV_PKT_FLAG_KEY) p.flags |= kPacketKey;
            if (packet->flags & AV_PKT_FLAG_DISCARD) p.flags |= kPacketDiscard;
            if (packet->size <= 0) p.flags |= kPacketEmpty;
            if (HasPicture(p)) lastDuration = packet->duration;
            size_t paletteSize = 0;
            const uint8_t* palette = av_packet_get_side_data(packet.get(), AV_PKT_DATA_PALETTE, &paletteSize);
            try {
                if (palette && paletteSize == AVPALETTE_SIZE)
                    index->palettes.emplace_back(int32_t(index->packets.size()),
                                                 std::string(reinterpret_cast<const char*>(palette), paletteSize));
                index->packets.push_back(p);
            } catch (...) {
                av_packet_unref(packet.get());
                return IndexPass::Failed;
            }
        }
        av_packet_unref(packet.get());
        if (index->packets.size() > kMaxPackets) return IndexPass::Failed;
        if (progress && (round & 127) == 0 && size > 0 && format->pb) {
            if (!progress(std::clamp(double(avio_tell(format->pb)) / double(size), 0.0, 1.0)))
                return IndexPass::Cancelled;
        }
    }
    if (progress && !progress(1.0)) return IndexPass::Cancelled;

    // Frames are matched to packets by position when every packet has one of its own.
    index->identity = FrameIdentity::Position;
    try {
        std::vector<int64_t> positions;
        positions.reserve(index->packets.size());
        for (const IndexPacket& p : index->packets) positions.push_back(p.pos);
        std::sort(positions.begin(), positions.end());
        if ((!positions.empty() && positions.front() < 0) ||
            std::adjacent_find(positions.begin(), positions.end()) != positions.end())
            index->identity = FrameIdentity::Order;
    } catch (...) {
        return IndexPass::Failed;
    }
    index->lastDuration = std::max<int64_t>(0, lastDuration);
    return OrderPicturesByTime(format, stream, index) ? IndexPass::Ordered : IndexPass::NeedsDecoding;
}

bool OrderPicturesByTime(const AVFormatContext* format, int stream, MediaIndex* index) {
    const AVStream* st = format->streams[stream];
    const bool clockMayJump = format->iformat && (format->iformat->flags & AVFMT_TS_DISCONT);
    const int64_t jump = av_rescale_q(kJumpSeconds, AVRational{1, 1}, st->time_base);
    std::vector<int32_t> order;
    std::vector<int64_t> times;
    try {
        std::vector<int32_t> run;
        int64_t last = kNoTimestamp;
        int64_t offset = 0;    // where the current run starts on the time line
        int64_t lastStep = 0;  // ticks between the last two pictures
        const auto closeRun = [&] {
            if (run.empty()) return;
            std::stable_sort(run.begin(), run.end(), [index](int32_t a, int32_t b) {
                return index->packets[size_t(a)].pts < index->packets[size_t(b)].pts;
            });
            const int64_t base = index->packets[size_t(run.front())].pts;
            for (size_t i = 0; i < run.size(); ++i) {
                const int64_t t = SaturatingAdd(offset, SaturatingSub(index->packets[size_t(run[i])].pts, base));
                if (i > 0 && t > times.back()) lastStep = t - times.back();
                order.push_back(run[i]);
                times.push_back(times.empty() ? t : std::max(t, times.back()));
            }
            // The next run follows one picture after this one's last.
            offset = SaturatingAdd(times.back(), std::max<int64_t>(1, lastStep));
            run.clear();
        };
        for (int32_t k = 0; k < index->PacketCount(); ++k) {
            const IndexPacket& p = index->packets[size_t(k)];
            if (!HasPicture(p)) continue;
            if (p.pts == kNoTimestamp) return false;
            const int64_t clock = p.dts != kNoTimestamp ? p.dts : p.pts;
            if (clockMayJump && last != kNoTimestamp && (clock < last || SaturatingSub(clock, last) > jump)) closeRun();
            last = clock;
            run.push_back(k);
        }
        closeRun();
        if (index->lastDuration <= 0) index->lastDuration = std::max<int64_t>(1, lastStep);
    } catch (...) {
        return false;
    }
    index->pictures = std::move(order);
    index->times = std::move(times);
    return true;
}

double ChooseFrameRate(const AVFormatContext* format, int stream, double headerRate, const MediaIndex& index) {
    if (headerRate > 0 && std::isfinite(headerRate)) return headerRate;
    const AVStream* st = format->streams[stream];
    // Formats without a header (MPEG-TS and -PS, raw streams) carry the rate in the stream itself.
    const int flags = format->iformat ? format->iformat->flags : 0;
    if (flags & (AVFMT_TS_DISCONT | AVFMT_GENERIC_INDEX | AVFMT_NOTIMESTAMPS)) {
        if (RateValid(st->avg_frame_rate)) return av_q2d(st->avg_frame_rate);
        if (RateValid(st->r_frame_rate)) return av_q2d(st->r_frame_rate);
    }
    // No rate of its own (variable-rate Matroska, say): the pictures over their span.
    const double span = double(index.Span()) * av_q2d(st->time_base);
    if (index.PictureCount() > 1 && span > 0 && std::isfinite(span)) return index.PictureCount() / span;
    if (RateValid(st->avg_frame_rate)) return av_q2d(st->avg_frame_rate);
    if (RateValid(st->r_frame_rate)) return av_q2d(st->r_frame_rate);
    return 25.0;
}

int64_t PeriodTicks(const AVFormatContext* format, int stream, double rate) {
    const AVRational tb = format->streams[stream]->time_base;
    if (!(rate > 0) || tb.num <= 0 || tb.den <= 0) return 1;
    const double ticks = double(tb.den) / (rate * double(tb.num));
    if (!(ticks >= 1)) return 1;
    if (!(ticks < 1e15)) return int64_t(1e15);
    return int64_t(std::llround(ticks));
}
