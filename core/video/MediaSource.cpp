#include "video/MediaSource.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cmath>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/mathematics.h>
}

#include "image/dib.h"
#include "video/MediaIndexCache.h"

namespace {

// Decoding errors in a row after which a stream is treated as ended, so a hostile file cannot keep
// the decoder busy forever.
constexpr int kMaxErrorsInARow = 1000;
// The last group of pictures is decoded once at indexing when it is at most this long, to learn
// which of its pictures the decoder really hands out.
constexpr int32_t kTailCheckPackets = 120;
constexpr int64_t kTailCheckBytes = 16 * 1024 * 1024;

bool IsUsableVideo(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           avcodec_find_decoder(st->codecpar->codec_id) != nullptr;
}

int ChooseStream(AVFormatContext* format) {
    int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (best >= 0 && IsUsableVideo(format->streams[best])) return best;
    // The library's pick was cover art or undecodable: take the largest other picture stream.
    best = -1;
    int64_t bestArea = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (!IsUsableVideo(st)) continue;
        int64_t area = int64_t(st->codecpar->width) * st->codecpar->height;
        if (area > bestArea) {
            bestArea = area;
            best = int(i);
        }
    }
    return best;
}

// The index's packet that a packet read now is, or -1.
int32_t Identify(const MediaIndex& index, const AVPacket* packet) {
    return index.PacketMatching(packet->pos, packet->size, packet->dts == AV_NOPTS_VALUE ? kNoTimestamp : packet->dts,
                                packet->pts == AV_NOPTS_VALUE ? kNoTimestamp : packet->pts);
}

bool IsDamaged(const AVFrame* frame) {
    return frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT);
}

// Formats read by byte position rather than through an index of their own: MPEG-TS and -PS and raw
// streams, where seeking by time is a guess.
bool SeeksByBytes(const AVFormatContext* format) {
    const int flags = format->iformat ? format->iformat->flags : 0;
    if (flags & AVFMT_NO_BYTE_SEEK) return false;
    return flags & (AVFMT_TS_DISCONT | AVFMT_GENERIC_INDEX | AVFMT_NOTIMESTAMPS);
}

}  // namespace

MediaSource::MediaSource() = default;

MediaSource::~MediaSource() { Close(); }

void MediaSource::Close() {
    ResetDecoding();
    codec_ = nullptr;
    if (threaded_) avcodec_free_context(&threaded_);
    if (single_) avcodec_free_context(&single_);
    CloseDemuxer();
    if (packet_) av_packet_free(&packet_);
    streamIndex_ = -1;
}

void MediaSource::CloseDemuxer() {
    if (format_) avformat_close_input(&format_);
    // Our own I/O is ours to free: FFmpeg leaves it alone.
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

void MediaSource::ResetDecoding() {
    pending_ = SourceFrame{};
    havePending_ = false;
    if (haveHeldPacket_ && packet_) av_packet_unref(packet_);
    haveHeldPacket_ = false;
    demuxEnded_ = false;
    decoderEnded_ = false;
    if (threaded_) avcodec_flush_buffers(threaded_);
    if (single_) avcodec_flush_buffers(single_);
}

namespace {

// Reading a file held in memory, for FFmpeg's I/O.
int ReadMemory(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<MediaSource::MemoryFile*>(opaque);
    if (file->pos >= int64_t(file->size)) return AVERROR_EOF;
    const int n = int(std::min<int64_t>(size, int64_t(file->size) - file->pos));
    std::memcpy(buffer, file->data + file->pos, size_t(n));
    file->pos += n;
    return n;
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<MediaSource::MemoryFile*>(opaque);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return int64_t(file->size);
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = file->pos; break;
    case SEEK_END: base = int64_t(file->size); break;
    default: return AVERROR(EINVAL);
    }
    if (offset > int64_t(file->size) - base || offset < -base) return AVERROR(EINVAL);
    file->pos = base + offset;
    return file->pos;
}

}  // namespace

bool MediaSource::OpenDemuxer(const char* path, std::string* error) {
    if (memory_.data) {
        // The file is in memory: FFmpeg reads it through callbacks of ours.
        constexpr int kBufferSize = 32768;
        memory_.pos = 0;
        format_ = avformat_alloc_context();
        uint8_t* buffer = format_ ? static_cast<uint8_t*>(av_malloc(kBufferSize)) : nullptr;
        io_ = buffer ? avio_alloc_context(buffer, kBufferSize, 0, &memory_, ReadMemory, nullptr, SeekMemory) : nullptr;
        if (!io_) {
            av_free(buffer);
            avformat_free_context(format_);
            format_ = nullptr;
            if (error) *error = "out of memory";
            return false;
        }
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        path = nullptr;
    }
    int r = avformat_open_input(&format_, path, nullptr, nullptr);
    if (r < 0) {
        format_ = nullptr;
        if (error) *error = r == AVERROR(ENOENT) ? "no such file" : "not a media file this build can read";
        return false;
    }
    // The rate a header declares is known before probing fills in estimates.
    std::vector<double> declared;
    try {
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            const AVRational rate = format_->streams[i]->avg_frame_rate;
            declared.push_back(rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0);
        }
    } catch (...) {
        if (error) *error = "out of memory";
        return false;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) {
        if (error) *error = "cannot read the stream information";
        return false;
    }
    streamIndex_ = ChooseStream(format_);
    if (streamIndex_ < 0) {
        if (error) *error = "no video stream";
        return false;
    }
    headerRate_ = size_t(streamIndex_) < declared.size() ? declared[size_t(streamIndex_)] : 0.0;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
    timeBase_ = format_->streams[streamIndex_]->time_base;
    if (timeBase_.num <= 0 || timeBase_.den <= 0) {
        timeBase_ = AVRational{1, 90000};
        format_->streams[streamIndex_]->time_base = timeBase_;
    }
    packet_ = packet_ ? packet_ : av_packet_alloc();
    if (!packet_) {
        if (error) *error = "out of memory";
        return false;
    }
    return true;
}

AVCodecContext* MediaSource::OpenDecoder(bool frameThreads, std::string* error) {
    const AVStream* st = format_->streams[streamIndex_];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!codec || avcodec_parameters_to_context(codec, st->codecpar) < 0) {
        if (codec) avcodec_free_context(&codec);
        if (error) *error = "no decoder for the video stream";
        return nullptr;
    }
    codec->pkt_timebase = st->time_base;
    // Frame threads are fast; one thread conceals damage the same way every time.
    codec->thread_count = frameThreads ? 0 : 1;
    codec->thread_type = frameThreads ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE;
    codec->max_pixels = int64_t(kMaxFrameSide) * kMaxFrameSide;
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        avcodec_free_context(&codec);
        if (error) *error = "cannot start the video decoder";
        return nullptr;
    }
    return codec;
}

bool MediaSource::OpenMemory(const uint8_t* data, size_t size, const IndexProgress& progress, std::string* error) {
    Close();
    if (!data) {
        if (error) *error = "no file";
        return false;
    }
    memory_ = MemoryFile{data, size, 0};
    const bool opened = OpenInput(nullptr, progress, error);
    if (!opened) memory_ = MemoryFile{};
    return opened;
}

bool MediaSource::Open(const char* path, const IndexProgress& progress, std::string* error) {
    Close();
    memory_ = MemoryFile{};
    if (!path || !*path) {
        if (error) *error = "no file name";
        return false;
    }
    return OpenInput(path, progress, error);
}

bool MediaSource::OpenInput(const char* path, const IndexProgress& progress, std::string* error) {
    atStart_ = false;
    index_.reset();
    damagedStarts_.clear();
    indexFromCache_ = false;
    path_ = path ? path : "";
    if (!OpenDemuxer(path, error) || !(threaded_ = OpenDecoder(true, error))) {
        Close();
        return false;
    }
    codec_ = threaded_;
    const AVStream* st = format_->streams[streamIndex_];
    if (st->codecpar->width > kMaxFrameSide || st->codecpar->height > kMaxFrameSide) {
        if (error) *error = "picture too large";
        Close();
        return false;
    }
    size_t matrixSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    orientation_ = matrix && matrixSize >= 9 * sizeof(int32_t)
                       ? OrientationFromMatrix(reinterpret_cast<const int32_t*>(matrix))
                       : Orientation();

    // A file in memory has no name to keep its index under.
    const std::string key = path ? IndexCacheKey(path, streamIndex_) : std::string();
    index_ = FindCachedIndex(key);
    indexFromCache_ = index_ != nullptr;
    if (!index_ && !BuildIndex(progress, error)) {
        Close();
        return false;
    }
    if (!indexFromCache_) StoreIndex(key, index_);
    frameRate_ = index_->nominalRate;

    // The first picture gives the true picture size. Building the index may have left it decoded.
    const bool decoded = atStart_ && havePending_ && pending_.index == 0;
    atStart_ = false;
    if (index_->PictureCount() == 0 || (!decoded && !SeekTo(0)) || PeekIndex() == INT32_MAX) {
        if (error) *error = "no picture of the video stream decodes";
        Close();
        return false;
    }
    width_ = pending_.frame->width;
    height_ = pending_.frame->height;
    if (!FrameSizeAllowed(width_, height_)) {
        if (error) *error = "picture too large";
        Close();
        return false;
    }
    return true;
}

bool MediaSource::BuildIndex(const IndexProgress& progress, std::string* error) {
    auto index = std::make_shared<MediaIndex>();
    const IndexPass pass = ReadPacketIndex(format_, streamIndex_, progress, index.get());
    if (pass == IndexPass::Cancelled) {
        if (error) *error = "cancelled";
        return false;
    }
    if (pass == IndexPass::Failed) {
        if (error) *error = "cannot index the video stream";
        return false;
    }
    if (index->PacketCount() == 0) {
        if (error) *error = "no picture of the video stream decodes";
        return false;
    }
    bool ordered = pass == IndexPass::Ordered && index->Finish();
    if (!ordered) {
        index->pictures.clear();
        index->times.clear();
        if (!index->Finish()) {
            if (error) *error = "cannot index the video stream";
            return false;
        }
    }
    index->nominalRate = ChooseFrameRate(format_, streamIndex_, headerRate_, *index);
    if (ordered) {
        building_ = index.get();
        index_ = index;
        ordered = CheckDecodedOrder(index.get());
        building_ = nullptr;
    }
    if (!ordered) {
        index->pictures.clear();
        index->times.clear();
        if (!index->Finish() || !DecodeWholeIndex(progress, index.get(), error)) {
            if (error && error->empty()) *error = "cannot index the video stream";
            return false;
        }
    }
    index->nominalRate = ChooseFrameRate(format_, streamIndex_, headerRate_, *index);
    index_ = index;
    if (!atStart_) ResetDecoding();
    return true;
}

// The order from timestamps is what the decoder hands out for every group of pictures it decodes
// whole; what it does not hand out shows at the edges: pictures before the first key frame (a file
// cut in the middle of a group), the ends of joined pieces and the file's last group. Those are
// decoded once here; pictures that never come out are dropped. False when the decoder's order
// contradicts the timestamps: only decoding everything tells the order then.
bool MediaSource::CheckDecodedOrder(MediaIndex* index) {
    std::vector<int32_t> drop;
    // Decodes from packet on and notes the pictures that do not come out: before each one that does,
    // up to the first at or past stopAt; at the end of the stream the rest when dropAtEnd. False when
    // pictures come out in another order than the index's.
    const auto decodeFrom = [&](int32_t packet, int32_t from, int32_t stopAt, bool dropAtEnd) {
        if (!PositionAtPacket(packet, from - 1)) return true;  // cannot tell: keep the prediction
        int32_t expected = from;
        SourceFrame frame;
        for (;;) {
            const bool more = DecodeOne(&frame);
            if (outOfOrder_) return false;
            const int32_t got = more ? frame.index : (dropAtEnd ? index->PictureCount() : expected);
            for (; expected < got; ++expected) drop.push_back(expected);
            if (!more || got >= stopAt) return true;
            expected = got + 1;
        }
    };
    // Joins of pieces whose clocks differ (MPEG-TS only): from the key frame before to the first after.
    const AVFormatContext* format = format_;
    if (format->iformat && (format->iformat->flags & AVFMT_TS_DISCONT)) {
        int64_t last = kNoTimestamp;
        const int64_t jump = av_rescale_q(10, AVRational{1, 1}, timeBase_);
        for (int32_t k = 0; k < index->PacketCount(); ++k) {
            const IndexPacket& p = index->packets[size_t(k)];
            if (p.flags & (kPacketDiscard | kPacketEmpty)) continue;
            const int64_t clock = p.dts != kNoTimestamp ? p.dts : p.pts;
            const bool joins = last != kNoTimestamp && clock != kNoTimestamp && (clock < last || clock - last > jump);
            if (clock != kNoTimestamp) last = clock;
            if (!joins) continue;
            int32_t before = k - 1;
            while (before > 0 && !(index->packets[size_t(before)].flags & kPacketKey)) --before;
            int32_t after = k;
            while (after < index->PacketCount() && !(index->packets[size_t(after)].flags & kPacketKey)) ++after;
            const int32_t own = index->packets[size_t(before)].picture;
            const int32_t from = own >= 0 ? own : index->FirstPictureFrom(before);
            int32_t to = after < index->PacketCount() ? index->packets[size_t(after)].picture : -1;
            if (to < 0) to = INT32_MAX;
            if (from < 0) continue;
            if (!decodeFrom(before, from, to, to == INT32_MAX)) return false;
        }
    }
    // Tail, when its group is short enough to decode at every open.
    int32_t lastKey = index->PacketCount() - 1;
    while (lastKey > 0 && !(index->packets[size_t(lastKey)].flags & kPacketKey)) --lastKey;
    const int32_t tailPackets = index->PacketCount() - lastKey;
    const int64_t tailBytes = index->packets.back().pos >= 0 && index->packets[size_t(lastKey)].pos >= 0
                                  ? index->packets.back().pos - index->packets[size_t(lastKey)].pos
                                  : 0;
    const int32_t tailFrom = index->packets[size_t(lastKey)].picture;
    if (tailPackets <= kTailCheckPackets && tailBytes <= kTailCheckBytes && tailFrom >= 0) {
        if (!decodeFrom(lastKey, tailFrom, INT32_MAX, true)) return false;
    }
    // Head, last: nothing before the first picture out. When that is picture 0, decoding stays there
    // and the open shows it without decoding it again.
    const size_t dropsBefore = drop.size();
    if (PositionAtPacket(0, -1)) {
        SourceFrame first;
        const bool more = DecodeOne(&first);
        if (outOfOrder_) return false;
        for (int32_t p = 0; more && p < first.index; ++p) drop.push_back(p);
        if (more && first.index == 0) {
            pending_ = std::move(first);
            havePending_ = true;
            atStart_ = drop.size() == dropsBefore;
        }
    }
    std::sort(drop.begin(), drop.end());
    drop.erase(std::unique(drop.begin(), drop.end()), drop.end());
    drop.erase(std::remove_if(drop.begin(), drop.end(), [&](int32_t p) { return p >= index->PictureCount(); }),
               drop.end());
    if (!drop.empty()) {
        index->DropPictures(drop);
        if (!index->Finish()) return false;
    }
    return index->PictureCount() > 0;
}

// The order only decoding tells (pictures without presentation times: raw streams, AVI with
// B-frames): every frame the decoder hands out, in its order.
bool MediaSource::DecodeWholeIndex(const IndexProgress& progress, MediaIndex* index, std::string* error) {
    std::string ignored;
    AVCodecContext* counter = OpenDecoder(true, &ignored);
    if (!counter) {
        if (error) *error = "cannot start the video decoder";
        return false;
    }
    // The pixels are thrown away: skip what only makes them prettier.
    counter->skip_loop_filter = AVDISCARD_ALL;
    counter->flags2 |= AV_CODEC_FLAG2_FAST;
    std::vector<int32_t> order;
    std::vector<int64_t> stamps;
    bool ok = true, cancelled = false;
    const int64_t size = format_->pb ? avio_size(format_->pb) : -1;
    AVFrame* frame = av_frame_alloc();
    // Restart reading at the beginning: packet 0 is the first read.
    building_ = index;
    const bool positioned = frame && PositionAtPacket(0, -1);
    building_ = nullptr;
    if (!positioned) ok = false;
    // Every packet sent carries its number; the frame made from it comes back with it.
    int32_t number = 0;
    const auto take = [&]() {
        while (avcodec_receive_frame(counter, frame) == 0) {
            const int64_t packet = frame->reordered_opaque;
            if (packet >= 0 && packet < index->PacketCount() && index->packets[size_t(packet)].picture == -1) {
                index->packets[size_t(packet)].picture = int32_t(order.size());
                order.push_back(packet);
                stamps.push_back(frame->best_effort_timestamp);
            }
            av_frame_unref(frame);
        }
    };
    int errors = 0;
    bool first = true;
    for (uint64_t round = 1; ok; ++round) {
        if (!haveHeldPacket_) {
            const int r = av_read_frame(format_, packet_);
            if (r < 0) break;
            if (packet_->stream_index != streamIndex_) {
                av_packet_unref(packet_);
                continue;
            }
            number = index->identity == FrameIdentity::Position ? Identify(*index, packet_) : first ? 0 : number + 1;
        }
        first = false;
        haveHeldPacket_ = false;
        counter->reordered_opaque = number;
        const int r = avcodec_send_packet(counter, packet_);
        if (r == AVERROR(EAGAIN)) {
            haveHeldPacket_ = true;  // take frames first, then send it again
        } else {
            av_packet_unref(packet_);
            if (r < 0 && ++errors > kMaxErrorsInARow) break;
        }
        take();
        if (progress && (round & 63) == 0 && size > 0) {
            if (!progress(std::clamp(double(avio_tell(format_->pb)) / double(size), 0.0, 1.0))) {
                cancelled = true;
                ok = false;
            }
        }
    }
    if (haveHeldPacket_) av_packet_unref(packet_);
    haveHeldPacket_ = false;
    avcodec_send_packet(counter, nullptr);
    take();
    av_frame_free(&frame);
    avcodec_free_context(&counter);
    if (cancelled) {
        if (error) *error = "cancelled";
        return false;
    }
    if (!ok || order.empty()) {
        if (error) *error = "no picture of the video stream decodes";
        return false;
    }
    // Times from the decoder's own timestamps while they keep rising, else one period a picture.
    const double rate = ChooseFrameRate(format_, streamIndex_, headerRate_, MediaIndex());
    const int64_t period = PeriodTicks(format_, streamIndex_, rate);
    bool rising = stamps.front() != AV_NOPTS_VALUE;
    for (size_t i = 1; rising && i < stamps.size(); ++i)
        rising = stamps[i] != AV_NOPTS_VALUE && stamps[i] > stamps[i - 1];
    std::vector<int64_t> times(order.size());
    for (size_t i = 0; i < order.size(); ++i) times[i] = rising ? stamps[i] - stamps.front() : int64_t(i) * period;
    index->pictures = std::move(order);
    index->times = std::move(times);
    index->lastDuration = period;
    if (!index->Finish()) {
        if (error) *error = "cannot index the video stream";
        return false;
    }
    return true;
}

double MediaSource::PictureSeconds(int32_t picture) const {
    if (!index_ || index_->PictureCount() == 0) return 0;
    picture = std::clamp(picture, 0, index_->PictureCount() - 1);
    return double(index_->times[size_t(picture)]) * av_q2d(timeBase_);
}

double MediaSource::StreamLength() const { return index_ ? double(index_->Span()) * av_q2d(timeBase_) : 0.0; }

int32_t MediaSource::PictureAtSeconds(double seconds) const {
    if (!index_ || index_->PictureCount() == 0) return -1;
    if (!(seconds > 0)) return 0;
    const double ticks = seconds / av_q2d(timeBase_);
    // A time typed or computed in seconds lands on the picture it names despite rounding.
    const double slack = 1e-6 / av_q2d(timeBase_);
    if (!(ticks + slack < 9e18)) return index_->PictureCount() - 1;
    return index_->PictureAtTime(int64_t(std::floor(ticks + slack)));
}

int32_t MediaSource::PacketNumber(const AVPacket* packet) {
    const MediaIndex* index = building_ ? building_ : index_.get();
    if (index->identity == FrameIdentity::Position) return Identify(*index, packet);
    return nextPacket_;  // counted from where reading landed
}

// Reads up to packet `packet` and holds it as the next to send: first to the anchor packet, told by its
// byte position (anchor -1: the first packet read is packet 0), then counting packets. False when the
// demuxer passes the anchor by.
bool MediaSource::LandAt(int32_t anchor, int32_t packet) {
    const MediaIndex* index = building_ ? building_ : index_.get();
    int32_t number = anchor < 0 ? 0 : -1;  // of the packet read next, once known
    for (int again = 0;;) {
        const int r = av_read_frame(format_, packet_);
        if (r == AVERROR(EAGAIN) && ++again < 1000) continue;
        if (r < 0) return false;
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_);
            continue;
        }
        if (number < 0) {
            const int32_t at = Identify(*index, packet_);
            if (at > anchor) {
                av_packet_unref(packet_);
                return false;
            }
            if (at == anchor) number = anchor;
        }
        if (number >= 0 && number == packet) {
            haveHeldPacket_ = true;
            heldNumber_ = packet;
            nextPacket_ = packet;
            // The demuxer sent the colour table with the file's first packet only.
            const std::string* palette = index->PaletteAt(packet);
            if (palette && !av_packet_get_side_data(packet_, AV_PKT_DATA_PALETTE, nullptr)) {
                uint8_t* side = av_packet_new_side_data(packet_, AV_PKT_DATA_PALETTE, palette->size());
                if (side) std::memcpy(side, palette->data(), palette->size());
            }
            return true;
        }
        av_packet_unref(packet_);
        if (number >= 0) ++number;
        if (number > packet) return false;
    }
}

bool MediaSource::Reopen() {
    const int stream = streamIndex_;
    CloseDemuxer();
    std::string ignored;
    if (!OpenDemuxer(path_.c_str(), &ignored) || streamIndex_ != stream) {
        CloseDemuxer();
        streamIndex_ = stream;
        return false;
    }
    return true;
}

// Makes decoding start at packet: the demuxer is moved to it (by the demuxer's own index, by byte
// position or by time, checking where it landed; from the start of the file as the last resort) and
// the decoders are emptied. Pictures up to lastShown are not handed out.
bool MediaSource::PositionAtPacket(int32_t packet, int32_t lastShown) {
    const MediaIndex* index = building_ ? building_ : index_.get();
    if (!format_ || !index || packet < 0 || packet >= index->PacketCount()) return false;
    ++seeks_;
    ResetDecoding();
    lastShown_ = lastShown;
    floor_ = lastShown;
    outOfOrder_ = false;
    AVStream* st = format_->streams[streamIndex_];
    // The demuxer is moved to a packet whose byte position is its own (the packet itself where every
    // packet has one), found there by it, and read on to the packet wanted.
    const int32_t anchor = index->AnchorAtOrBefore(packet);
    const auto landed = [&](int32_t from) {
        avcodec_flush_buffers(codec_);
        return LandAt(from, packet);
    };
    if (anchor >= 0) {
        const IndexPacket& target = index->packets[size_t(anchor)];
        if (SeeksByBytes(format_)) {
            if (av_seek_frame(format_, -1, target.pos, AVSEEK_FLAG_BYTE) >= 0 && landed(anchor)) return true;
        } else if (avformat_index_get_entries_count(st) > 0) {
            // The demuxer's own index entry at or before the packet, found by either timestamp.
            const AVIndexEntry* best = nullptr;
            for (int64_t ts : {target.dts, target.pts}) {
                if (ts == kNoTimestamp) continue;
                const AVIndexEntry* e = avformat_index_get_entry_from_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
                if (e && e->pos <= target.pos && (!best || e->pos > best->pos)) best = e;
            }
            if (best && av_seek_frame(format_, streamIndex_, best->timestamp, AVSEEK_FLAG_BACKWARD) >= 0 &&
                landed(anchor))
                return true;
        }
        // By time, further back each time the demuxer lands after the packet.
        int64_t ts = target.dts != kNoTimestamp ? target.dts : target.pts;
        if (ts != kNoTimestamp && target.pts != kNoTimestamp) ts = std::min(ts, target.pts);
        int64_t back = 0;
        for (int attempt = 0; ts != kNoTimestamp && attempt < 4; ++attempt) {
            const int64_t at = ts - back;
            if (av_seek_frame(format_, streamIndex_, at, AVSEEK_FLAG_BACKWARD) >= 0 && landed(anchor)) return true;
            back = back == 0 ? av_rescale_q(1, AVRational{1, 1}, timeBase_) : back * 8;
        }
    }
    // From the very start, counting packets.
    if (!(format_->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
        if (av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE) >= 0 && landed(-1)) return true;
    }
    const int64_t lowest = std::numeric_limits<int64_t>::min();
    if (avformat_seek_file(format_, streamIndex_, lowest, lowest, lowest, 0) >= 0 && landed(-1)) return true;
    if (!Reopen()) return false;
    return landed(-1);
}

bool MediaSource::UseFrameThreads(bool on) {
    AVCodecContext* wanted = on ? threaded_ : single_;
    if (!wanted && !on) {
        std::string ignored;
        single_ = OpenDecoder(false, &ignored);
        wanted = single_;
        // Some streams say things once, in the file's first packets (an MPEG-4 stream's packed
        // B-frames, say), which every later decoding relies on: the new decoder reads them first.
        if (single_) {
            codec_ = single_;
            SourceFrame first;
            if (PositionAtPacket(0, -1)) DecodeOne(&first);
        }
    }
    if (!wanted) return false;
    codec_ = wanted;
    return true;
}

bool MediaSource::FeedPacket() {
    if (!haveHeldPacket_) {
        for (int again = 0;;) {
            const int r = av_read_frame(format_, packet_);
            if (r == AVERROR(EAGAIN) && ++again < 1000) continue;
            if (r < 0) return false;
            if (packet_->stream_index == streamIndex_) break;
            av_packet_unref(packet_);
        }
        heldNumber_ = PacketNumber(packet_);
        if (heldNumber_ >= 0) nextPacket_ = heldNumber_;
    }
    haveHeldPacket_ = false;
    // The frame made from the packet comes back with its number: that tells its picture.
    codec_->reordered_opaque = heldNumber_;
    const int r = avcodec_send_packet(codec_, packet_);
    if (r == AVERROR(EAGAIN)) {
        haveHeldPacket_ = true;  // the decoder wants its frames taken first
        return true;
    }
    av_packet_unref(packet_);
    nextPacket_ = (heldNumber_ >= 0 ? heldNumber_ : nextPacket_) + 1;
    return true;
}

bool MediaSource::DecodeOne(SourceFrame* out) {
    if (!codec_) return false;
    const MediaIndex* index = building_ ? building_ : index_.get();
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return false;
    int errors = 0;
    for (;;) {
        if (decoderEnded_) return false;
        int r = avcodec_receive_frame(codec_, frame.get());
        if (r == 0) {
            errors = 0;
            ++decoded_;
            const int64_t packet = frame->reordered_opaque;
            const int32_t picture = packet >= 0 && packet < index->PacketCount()
                                        ? index->packets[size_t(packet)].picture
                                        : -1;
            // Frames that are no picture of the index (a discarded packet's), pictures leading the key
            // frame decoding started at, and ones already handed out are passed over.
            if (picture > floor_ && picture <= lastShown_) outOfOrder_ = true;
            if (picture < 0 || picture <= lastShown_ || picture >= index->PictureCount() ||
                !FrameSizeAllowed(frame->width, frame->height)) {
                av_frame_unref(frame.get());
                continue;
            }
            lastShown_ = picture;
            out->damaged = IsDamaged(frame.get());
            out->repeatable = !out->damaged || codec_ != threaded_;
            out->frame = std::move(frame);
            out->index = picture;
            return true;
        }
        if (r == AVERROR_EOF) {
            decoderEnded_ = true;
            return false;
        }
        if (r != AVERROR(EAGAIN)) {
            if (++errors > kMaxErrorsInARow) {
                decoderEnded_ = true;
                return false;
            }
            continue;
        }
        if (demuxEnded_) {
            // Drained but the decoder still wants input: nothing more will come.
            decoderEnded_ = true;
            return false;
        }
        if (!FeedPacket()) {
            demuxEnded_ = true;
            avcodec_send_packet(codec_, nullptr);
        }
    }
}

bool MediaSource::Next(SourceFrame* out) {
    if (!havePending_) {
        if (!DecodeOne(&pending_)) return false;
        havePending_ = true;
    }
    if (pending_.damaged && codec_ == threaded_) {
        // Frame threads may conceal damage differently from run to run: its group is decoded again on
        // one thread, now and whenever it is read again, so the picture is the same in any order.
        const int32_t wanted = pending_.index;
        damagedStarts_.insert(index_->StartPacketFor(wanted));
        if (SeekTo(wanted)) {
            while (PeekIndex() < wanted) {
                SourceFrame skipped;
                if (!Next(&skipped)) break;
            }
        }
        if (!havePending_) return false;
    }
    *out = std::move(pending_);
    havePending_ = false;
    return true;
}

int32_t MediaSource::PeekIndex() {
    if (!havePending_) {
        if (!DecodeOne(&pending_)) return INT32_MAX;
        havePending_ = true;
    }
    return pending_.index;
}

bool MediaSource::ShouldSeekFor(int32_t picture) {
    if (!index_ || picture < 0 || picture >= index_->PictureCount()) return false;
    const int32_t start = index_->StartPacketFor(picture);
    if (damagedStarts_.count(start) && codec_ == threaded_) return true;
    const int32_t next = PeekIndex();
    if (next == INT32_MAX || picture < next) return true;
    // A key frame past where decoding stands: decoding from it beats decoding up to it.
    return start > nextPacket_;
}

bool MediaSource::SeekTo(int32_t picture) {
    if (!index_ || picture < 0 || picture >= index_->PictureCount()) return false;
    const int32_t start = index_->StartPacketFor(picture);
    if (start < 0 || !UseFrameThreads(damagedStarts_.count(start) == 0)) return false;
    // The key frame's own picture is the first handed out: pictures leading it are decoded from the
    // group before.
    const int32_t own = index_->packets[size_t(start)].picture;
    const int32_t first = own >= 0 ? own : index_->FirstPictureFrom(start);
    return PositionAtPacket(start, (first >= 0 ? first : 0) - 1);
}

std::vector<std::pair<std::string, std::string>> MediaSource::Tags() const {
    std::vector<std::pair<std::string, std::string>> tags;
    if (!format_) return tags;
    const auto add = [&tags](const AVDictionary* dictionary) {
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
            if (entry->key && entry->value) tags.emplace_back(entry->key, entry->value);
    };
    add(format_->metadata);
    if (streamIndex_ >= 0 && unsigned(streamIndex_) < format_->nb_streams)
        add(format_->streams[streamIndex_]->metadata);
    return tags;
}
