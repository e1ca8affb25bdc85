// The picture index of one video stream: every packet in decoding order and every picture in
// presentation order, as the decoder hands them out. Frame N of the program is picture N here. It is
// built at open by one demuxing pass (MediaIndexBuild) and kept in a cache (MediaIndexCache); the
// media source uses it to find the key frame to decode a picture from and to tell which picture a
// decoded frame is.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

constexpr int64_t kNoTimestamp = INT64_MIN;

struct IndexPacket {
    int64_t pos = -1;            // byte position in the file; -1 when the demuxer does not tell
    int64_t dts = kNoTimestamp;  // raw stream timestamps
    int64_t pts = kNoTimestamp;
    int32_t size = 0;
    int32_t picture = -1;  // the picture this packet carries, -1 for none (discarded, empty, not decoded)
    uint8_t flags = 0;     // kPacketKey, kPacketDiscard
};
constexpr uint8_t kPacketKey = 1;      // decoding can start here
constexpr uint8_t kPacketDiscard = 2;  // decoded for reference only (an edit list trims it)
constexpr uint8_t kPacketEmpty = 4;    // no data: a dropped frame's placeholder

// How a decoded frame is matched to its picture.
enum class FrameIdentity : uint8_t {
    Position,  // by the byte position of the packet it came from (unique for every packet)
    Order,     // by counting pictures from the key frame decoding started at
};

class MediaIndex {
public:
    // Parts set by the builder.
    std::vector<IndexPacket> packets;  // decoding order
    std::vector<int32_t> pictures;     // presentation order: the packet of each picture
    std::vector<int64_t> times;        // presentation order: ticks of the stream's time base from picture 0
    int64_t lastDuration = 0;          // ticks the last picture lasts
    FrameIdentity identity = FrameIdentity::Position;
    double nominalRate = 0;  // frames per second; 0 when the file has none
    // Colour tables of palette video, by the packet they come with: a demuxer sends one only once, so
    // decoding that starts later needs it given again.
    std::vector<std::pair<int32_t, std::string>> palettes;

    int32_t PictureCount() const { return int32_t(pictures.size()); }
    int32_t PacketCount() const { return int32_t(packets.size()); }

    // Rebuilds the lookups after packets and pictures were set or changed; false when they do not
    // agree (a picture naming a packet that does not exist, say).
    bool Finish();

    // The packet read at pos, -1 when none is known there (or several packets claim it).
    int32_t PacketAtPosition(int64_t pos) const;
    // The index's packet that a packet just read is: found by its position, and its size and
    // timestamps the same (a demuxer that starts reading in the middle of a picture may hand out the
    // rest of it at the same position). -1 when it is none of them.
    int32_t PacketMatching(int64_t pos, int32_t size, int64_t dts, int64_t pts) const;
    // The last packet at or before packet that a byte position tells apart; -1 when none.
    int32_t AnchorAtOrBefore(int32_t packet) const;
    // The picture a decoded frame shows, from the byte position of its packet; -1 when none.
    int32_t PictureAtPosition(int64_t pos) const;
    // The key packet to start decoding at so that picture is decoded correctly: the last key packet
    // at or before the picture's own whose picture is not shown after it. -1 when there is none.
    int32_t StartPacketFor(int32_t picture) const;
    // The picture of a key packet, or the first picture whose packet comes after it.
    int32_t FirstPictureFrom(int32_t packet) const;
    bool IsKeyPicture(int32_t picture) const;
    // The last key picture at or before picture (picture 0 when none).
    int32_t KeyPictureAtOrBefore(int32_t picture) const;
    // The last picture whose time is at most ticks; 0 before picture 0, -1 without pictures.
    int32_t PictureAtTime(int64_t ticks) const;
    int64_t Span() const;  // ticks from picture 0 to the end of the last
    // The colour table in use at packet, or null.
    const std::string* PaletteAt(int32_t packet) const;

    // Removes pictures that the decoder never hands out (their packets stay, as decoding needs them).
    void DropPictures(const std::vector<int32_t>& sortedPictures);

    // The index as bytes and back, for the cache. Parse refuses anything damaged or foreign.
    std::string Serialize() const;
    static bool Parse(const std::string& bytes, MediaIndex* out);

private:
    std::unordered_map<int64_t, int32_t> byPosition_;  // packet position -> packet, for positions of one packet
    std::vector<int32_t> anchors_;                     // the packets byPosition_ holds, in order
    std::vector<int32_t> keyPackets_;                  // decoding order
    std::vector<int32_t> keyPictures_;                 // presentation order
};
