#include "video/MediaSource.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "image/dib.h"

namespace {

// Decoding errors in a row after which a stream is treated as ended, so a hostile file cannot keep
// the decoder busy forever.
constexpr int kMaxErrorsInARow = 1000;

bool IsUsableVideo(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
           avcodec_find_decoder(st->codecpar->codec_id) != nullptr;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    if (b > 0 && a > std::numeric_limits<int64_t>::max() - b) return std::numeric_limits<int64_t>::max();
    if (b < 0 && a < std::numeric_limits<int64_t>::min() - b) return std::numeric_limits<int64_t>::min();
    return a + b;
}

int64_t FrameDurationOf(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 0, 100)
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
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

}  // namespace

MediaSource::MediaSource() = default;

MediaSource::~MediaSource() { Close(); }

void MediaSource::Close() {
    ResetPosition();
    if (codec_) avcodec_free_context(&codec_);
    if (format_) avformat_close_input(&format_);
    if (packet_) av_packet_free(&packet_);
    streamIndex_ = -1;
}

void MediaSource::ResetPosition() {
    pending_ = SourceFrame{};
    havePending_ = false;
    demuxEnded_ = false;
    decoderEnded_ = false;
    haveLast_ = false;
}

bool MediaSource::OpenDemuxer(const char* path, std::string* error) {
    int r = avformat_open_input(&format_, path, nullptr, nullptr);
    if (r < 0) {
        format_ = nullptr;
        if (error) *error = r == AVERROR(ENOENT) ? "no such file" : "not a media file this build can read";
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
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
    timeBase_ = format_->streams[streamIndex_]->time_base;
    if (timeBase_.num <= 0 || timeBase_.den <= 0) timeBase_ = AVRational{1, 90000};
    return true;
}

bool MediaSource::OpenDecoder(std::string* error) {
    const AVStream* st = format_->streams[streamIndex_];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    codec_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!codec_ || avcodec_parameters_to_context(codec_, st->codecpar) < 0) {
        if (error) *error = "no decoder for the video stream";
        return false;
    }
    codec_->pkt_timebase = st->time_base;
    codec_->thread_count = 0;  // one per core
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec_->max_pixels = int64_t(kMaxFrameSide) * kMaxFrameSide;
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
        if (error) *error = "cannot start the video decoder";
        return false;
    }
    packet_ = packet_ ? packet_ : av_packet_alloc();
    if (!packet_) {
        if (error) *error = "out of memory";
        return false;
    }
    return true;
}

bool MediaSource::Open(const char* path, std::string* error) {
    Close();
    haveOrigin_ = false;
    knownEnd_ = INT64_MAX;
    if (!path || !*path) {
        if (error) *error = "no file name";
        return false;
    }
    path_ = path;
    if (!OpenDemuxer(path, error) || !OpenDecoder(error)) {
        Close();
        return false;
    }
    const AVStream* st = format_->streams[streamIndex_];
    if (st->codecpar->width > kMaxFrameSide || st->codecpar->height > kMaxFrameSide) {
        if (error) *error = "picture too large";
        Close();
        return false;
    }

    AVRational rate = av_guess_frame_rate(format_, const_cast<AVStream*>(st), nullptr);
    frameRate_ = (rate.num > 0 && rate.den > 0) ? av_q2d(rate) : 0.0;
    periodTicks_ = 1;
    if (frameRate_ > 0) periodTicks_ = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), timeBase_));

    // The first picture fixes the origin of time and the true picture size.
    if (!DecodeOne(&pending_)) {
        if (error) *error = "no picture of the video stream decodes";
        Close();
        return false;
    }
    havePending_ = true;
    width_ = pending_.frame->width;
    height_ = pending_.frame->height;
    if (!FrameSizeAllowed(width_, height_)) {
        if (error) *error = "picture too large";
        Close();
        return false;
    }

    // Stream length: the container's own figure unless it is a guess from the bit rate; otherwise
    // count the stream's packets once.
    streamLength_ = 0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0 &&
        format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        streamLength_ = double(st->duration) * av_q2d(timeBase_);
    }
    // A header may claim any length; one that would need more pictures than the file has bytes is
    // certainly wrong, and the pictures are counted instead.
    const int64_t fileBytes = format_->pb ? avio_size(format_->pb) : -1;
    if (streamLength_ > 0 && frameRate_ > 0 && fileBytes > 0 && streamLength_ * frameRate_ > double(fileBytes))
        streamLength_ = 0;
    if (streamLength_ <= 0 && frameRate_ > 0) {
        int64_t count = 0;
        if (CountFrames(path, &count)) streamLength_ = double(count) / frameRate_;
    }
    return true;
}

bool MediaSource::CountFrames(const char* path, int64_t* count) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path, nullptr, nullptr) < 0) return false;
    bool ok = avformat_find_stream_info(fmt, nullptr) >= 0 && streamIndex_ < int(fmt->nb_streams) &&
              fmt->streams[streamIndex_]->codecpar->codec_id == format_->streams[streamIndex_]->codecpar->codec_id;
    AVPacket* pkt = ok ? av_packet_alloc() : nullptr;
    bool counted = false;
    if (pkt) {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (int(i) != streamIndex_) fmt->streams[i]->discard = AVDISCARD_ALL;
        int64_t n = 0;
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == streamIndex_ && !(pkt->flags & AV_PKT_FLAG_DISCARD)) ++n;
            av_packet_unref(pkt);
        }
        *count = n;
        counted = true;
        av_packet_free(&pkt);
    }
    avformat_close_input(&fmt);
    return counted;
}

int64_t MediaSource::SecondsToTicks(double seconds) const {
    double ticks = std::floor(seconds * double(timeBase_.den) / double(timeBase_.num) + 0.5);
    if (!(ticks > -9.0e18)) return std::numeric_limits<int64_t>::min() / 2;
    if (!(ticks < 9.0e18)) return std::numeric_limits<int64_t>::max() / 2;
    return int64_t(ticks);
}

bool MediaSource::DecodeOne(SourceFrame* out) {
    if (!codec_) return false;
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return false;
    int errors = 0;
    for (;;) {
        if (decoderEnded_) return false;
        int r = avcodec_receive_frame(codec_, frame.get());
        if (r == 0) {
            errors = 0;
            if (!FrameSizeAllowed(frame->width, frame->height)) {
                av_frame_unref(frame.get());
                continue;
            }
            int64_t ts = frame->best_effort_timestamp;
            int64_t start;
            if (ts == AV_NOPTS_VALUE) {
                if (haveLast_) {
                    start = SaturatingAdd(lastStart_, lastDuration_);
                } else if (!haveOrigin_) {
                    start = 0;
                } else {
                    // Right after a seek a picture without a time cannot be placed.
                    av_frame_unref(frame.get());
                    continue;
                }
            } else {
                if (!haveOrigin_) {
                    origin_ = ts;
                    haveOrigin_ = true;
                }
                start = SaturatingAdd(ts, -origin_);
            }
            haveOrigin_ = true;
            // Keep display order strictly increasing even when a file's timestamps are not.
            if (haveLast_ && start <= lastStart_)
                start = SaturatingAdd(lastStart_, std::max<int64_t>(1, lastDuration_));
            int64_t duration = FrameDurationOf(frame.get());
            lastStart_ = start;
            lastDuration_ = duration > 0 ? duration : periodTicks_;
            haveLast_ = true;
            ++decoded_;
            out->frame = std::move(frame);
            out->start = start;
            out->end = SaturatingAdd(start, lastDuration_);
            out->ownDuration = duration > 0;
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
        r = av_read_frame(format_, packet_);
        if (r < 0) {
            demuxEnded_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_);
            continue;
        }
        r = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        if (r < 0 && r != AVERROR(EAGAIN) && ++errors > kMaxErrorsInARow) {
            decoderEnded_ = true;
            return false;
        }
    }
}

bool MediaSource::Next(SourceFrame* out) {
    if (!havePending_) {
        if (!DecodeOne(&pending_)) return false;
        havePending_ = true;
    }
    *out = std::move(pending_);
    havePending_ = false;
    SourceFrame next;
    if (DecodeOne(&next)) {
        // A picture lasts until the next one, unless the stream says it lasts less and the gap holds at
        // least one more picture: then pictures there did not decode, and nothing is shown for them.
        const int64_t own = out->end - out->start;
        if (!out->ownDuration || next.start - out->start < SaturatingAdd(own, own / 2)) out->end = next.start;
        pending_ = std::move(next);
        havePending_ = true;
    } else if (demuxEnded_) {
        knownEnd_ = out->end;
    }
    return true;
}

int64_t MediaSource::PeekStart() {
    if (!havePending_) {
        if (!DecodeOne(&pending_)) return INT64_MAX;
        havePending_ = true;
    }
    return pending_.start;
}

bool MediaSource::ShouldSeekFor(int64_t target) {
    int64_t next = PeekStart();
    if (next == INT64_MAX || target < next) return true;
    AVStream* st = format_->streams[streamIndex_];
    int entries = avformat_index_get_entries_count(st);
    if (entries > 0) {
        const AVIndexEntry* key = avformat_index_get_entry_from_timestamp(st, SaturatingAdd(origin_, target),
                                                                          AVSEEK_FLAG_BACKWARD);
        // A key frame between here and the target: decoding from it beats decoding up to it.
        if (key && key->timestamp > SaturatingAdd(origin_, next)) return true;
        const AVIndexEntry* last = avformat_index_get_entry(st, entries - 1);
        if (key && last && last->timestamp >= SaturatingAdd(origin_, target)) return false;
    }
    // No index that covers the target: seek only when it is well ahead.
    int64_t far = std::max(SecondsToTicks(5.0), 125 * periodTicks_);
    return target - next > far;
}

bool MediaSource::SeekRaw(int64_t streamTs) {
    ++seeks_;
    if (!format_ || av_seek_frame(format_, streamIndex_, streamTs, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_);
    ResetPosition();
    return true;
}

bool MediaSource::Rewind() {
    ++seeks_;
    // Back to the first picture. Some demuxers land after it when asked for its own time (MPEG-TS
    // seeks by decode time and ignores key frames), so try further back, then by bytes, and as the
    // last resort open the file again.
    auto atFirst = [this] { return PeekStart() <= 0; };
    if (format_) {
        const int64_t lowest = std::numeric_limits<int64_t>::min();
        if (avformat_seek_file(format_, streamIndex_, lowest, origin_, origin_, 0) >= 0) {
            avcodec_flush_buffers(codec_);
            ResetPosition();
            if (atFirst()) return true;
        }
        if (SeekRaw(SaturatingAdd(origin_, -SecondsToTicks(10.0))) && atFirst()) return true;
        if (!(format_->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
            avcodec_flush_buffers(codec_);
            ResetPosition();
            if (atFirst()) return true;
        }
    }
    int64_t origin = origin_;
    int index = streamIndex_;
    Close();
    std::string ignored;
    if (!OpenDemuxer(path_.c_str(), &ignored) || streamIndex_ != index || !OpenDecoder(&ignored)) {
        Close();
        return false;
    }
    origin_ = origin;
    haveOrigin_ = true;
    return true;
}

bool MediaSource::Seek(int64_t target) {
    if (!format_) return false;
    target = std::max<int64_t>(0, target);
    int64_t back = 0;
    const int64_t firstStep = std::max(SecondsToTicks(1.0), 4 * periodTicks_);
    for (int attempt = 0; attempt < 8; ++attempt) {
        int64_t ts = SaturatingAdd(SaturatingAdd(origin_, target), -back);
        if (ts <= origin_) break;
        if (!SeekRaw(ts)) break;
        int64_t start = PeekStart();
        if (start <= target) return true;
        // Landed on a key frame shown after the target (its decode time was earlier): go further back.
        back = back == 0 ? firstStep : back * 4;
    }
    return Rewind();
}
