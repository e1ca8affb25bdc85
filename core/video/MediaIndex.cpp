#include "video/MediaIndex.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kMagic[8] = {'T', 'S', 'X', 'I', 'D', 'X', '\r', '\n'};
constexpr uint32_t kFormatVersion = 3;
constexpr size_t kPaletteBytes = 1024;

uint64_t Fnv1a(const char* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= uint8_t(data[i]);
        h *= 1099511628211ull;
    }
    return h;
}

// Little-endian fields, whatever the machine.
class Writer {
public:
    void U8(uint8_t v) { out.push_back(char(v)); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(char(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) out.push_back(char(v >> (8 * i)));
    }
    void I64(int64_t v) { U64(uint64_t(v)); }
    void F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U64(bits);
    }
    std::string out;
};

class Reader {
public:
    Reader(const std::string& s, size_t end) : s_(s), end_(end) {}
    bool U8(uint8_t* v) {
        if (end_ - at_ < 1) return false;
        *v = uint8_t(s_[at_++]);
        return true;
    }
    bool U32(uint32_t* v) {
        if (end_ - at_ < 4) return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) *v |= uint32_t(uint8_t(s_[at_++])) << (8 * i);
        return true;
    }
    bool U64(uint64_t* v) {
        if (end_ - at_ < 8) return false;
        *v = 0;
        for (int i = 0; i < 8; ++i) *v |= uint64_t(uint8_t(s_[at_++])) << (8 * i);
        return true;
    }
    bool I64(int64_t* v) {
        uint64_t u;
        if (!U64(&u)) return false;
        *v = int64_t(u);
        return true;
    }
    bool F64(double* v) {
        uint64_t u;
        if (!U64(&u)) return false;
        std::memcpy(v, &u, sizeof u);
        return true;
    }
    size_t Left() const { return end_ - at_; }
    void Skip(size_t n) { at_ += n; }

private:
    const std::string& s_;
    size_t end_;
    size_t at_ = 0;
};

}  // namespace

bool MediaIndex::Finish() {
    byPosition_.clear();
    keyPackets_.clear();
    keyPictures_.clear();
    const int32_t packetCount = PacketCount();
    if (times.size() != pictures.size()) return false;
    for (IndexPacket& p : packets) p.picture = -1;
    for (int32_t i = 0; i < PictureCount(); ++i) {
        const int32_t k = pictures[size_t(i)];
        if (k < 0 || k >= packetCount || packets[size_t(k)].picture != -1) return false;
        if (i > 0 && times[size_t(i)] < times[size_t(i) - 1]) return false;
        packets[size_t(k)].picture = i;
    }
    anchors_.clear();
    try {
        // Positions of exactly one packet tell packets apart; every packet needs one for Position.
        byPosition_.reserve(packets.size());
        std::vector<int64_t> shared;
        for (int32_t k = 0; k < packetCount; ++k) {
            const int64_t pos = packets[size_t(k)].pos;
            if (pos >= 0 && !byPosition_.emplace(pos, k).second) shared.push_back(pos);
        }
        for (int64_t pos : shared) byPosition_.erase(pos);
        if (identity == FrameIdentity::Position && byPosition_.size() != packets.size()) return false;
        for (int32_t k = 0; k < packetCount; ++k) {
            auto it = byPosition_.find(packets[size_t(k)].pos);
            if (it != byPosition_.end() && it->second == k) anchors_.push_back(k);
        }
        for (int32_t k = 0; k < packetCount; ++k)
            if (packets[size_t(k)].flags & kPacketKey) keyPackets_.push_back(k);
        for (int32_t i = 0; i < PictureCount(); ++i)
            if (packets[size_t(pictures[size_t(i)])].flags & kPacketKey) keyPictures_.push_back(i);
    } catch (...) {
        return false;
    }
    return true;
}

int32_t MediaIndex::PacketAtPosition(int64_t pos) const {
    auto it = byPosition_.find(pos);
    return it == byPosition_.end() ? -1 : it->second;
}

int32_t MediaIndex::PacketMatching(int64_t pos, int32_t size, int64_t dts, int64_t pts) const {
    const int32_t k = PacketAtPosition(pos);
    if (k < 0) return -1;
    const IndexPacket& p = packets[size_t(k)];
    return p.size == size && p.dts == dts && p.pts == pts ? k : -1;
}

int32_t MediaIndex::AnchorAtOrBefore(int32_t packet) const {
    auto it = std::upper_bound(anchors_.begin(), anchors_.end(), packet);
    return it == anchors_.begin() ? -1 : *(it - 1);
}

int32_t MediaIndex::PictureAtPosition(int64_t pos) const {
    const int32_t k = PacketAtPosition(pos);
    return k < 0 ? -1 : packets[size_t(k)].picture;
}

int32_t MediaIndex::StartPacketFor(int32_t picture) const {
    if (picture < 0 || picture >= PictureCount()) return -1;
    const int32_t own = pictures[size_t(picture)];
    auto it = std::upper_bound(keyPackets_.begin(), keyPackets_.end(), own);
    while (it != keyPackets_.begin()) {
        --it;
        // A key frame shown after the picture comes before it in decoding order only when the picture
        // leads that key frame's group (open GOP): its references come from the group before.
        const int32_t shown = packets[size_t(*it)].picture;
        if (shown <= picture) return *it;
    }
    // No key frame before it: decode from the start of the file, as playing it does.
    return 0;
}

int32_t MediaIndex::FirstPictureFrom(int32_t packet) const {
    int32_t first = -1;
    for (int32_t k = std::max(packet, 0); k < PacketCount(); ++k) {
        const int32_t shown = packets[size_t(k)].picture;
        if (shown >= 0 && (first < 0 || shown < first)) first = shown;
        // Past the next key frame nothing earlier can follow.
        if (k > packet && (packets[size_t(k)].flags & kPacketKey) && first >= 0) break;
    }
    return first;
}

bool MediaIndex::IsKeyPicture(int32_t picture) const {
    return std::binary_search(keyPictures_.begin(), keyPictures_.end(), picture);
}

int32_t MediaIndex::KeyPictureAtOrBefore(int32_t picture) const {
    if (PictureCount() == 0) return -1;
    picture = std::clamp(picture, 0, PictureCount() - 1);
    auto it = std::upper_bound(keyPictures_.begin(), keyPictures_.end(), picture);
    return it == keyPictures_.begin() ? 0 : *(it - 1);
}

int32_t MediaIndex::PictureAtTime(int64_t ticks) const {
    if (times.empty()) return -1;
    auto it = std::upper_bound(times.begin(), times.end(), ticks);
    return it == times.begin() ? 0 : int32_t(it - times.begin()) - 1;
}

const std::string* MediaIndex::PaletteAt(int32_t packet) const {
    const std::string* found = nullptr;
    for (const auto& p : palettes) {
        if (p.first > packet) break;
        found = &p.second;
    }
    return found;
}

int64_t MediaIndex::Span() const { return times.empty() ? 0 : times.back() + lastDuration; }

void MediaIndex::DropPictures(const std::vector<int32_t>& sortedPictures) {
    if (sortedPictures.empty()) return;
    std::vector<int32_t> keptPictures;
    std::vector<int64_t> keptTimes;
    keptPictures.reserve(pictures.size());
    keptTimes.reserve(times.size());
    size_t d = 0;
    int64_t shift = 0;  // the time of the first picture kept becomes 0
    bool first = true;
    for (int32_t i = 0; i < PictureCount(); ++i) {
        if (d < sortedPictures.size() && sortedPictures[d] == i) {
            ++d;
            continue;
        }
        if (first) {
            shift = times[size_t(i)];
            first = false;
        }
        keptPictures.push_back(pictures[size_t(i)]);
        keptTimes.push_back(times[size_t(i)] - shift);
    }
    pictures = std::move(keptPictures);
    times = std::move(keptTimes);
}

std::string MediaIndex::Serialize() const {
    Writer w;
    w.out.append(kMagic, sizeof kMagic);
    w.U32(kFormatVersion);
    w.U8(uint8_t(identity));
    w.F64(nominalRate);
    w.I64(lastDuration);
    w.U32(uint32_t(packets.size()));
    w.U32(uint32_t(pictures.size()));
    for (const IndexPacket& p : packets) {
        w.I64(p.pos);
        w.I64(p.dts);
        w.I64(p.pts);
        w.U32(uint32_t(p.size));
        w.U8(p.flags);
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        w.U32(uint32_t(pictures[i]));
        w.I64(times[i]);
    }
    w.U32(uint32_t(palettes.size()));
    for (const auto& p : palettes) {
        w.U32(uint32_t(p.first));
        w.out += p.second;
    }
    w.U64(Fnv1a(w.out.data(), w.out.size()));
    return std::move(w.out);
}

bool MediaIndex::Parse(const std::string& bytes, MediaIndex* out) {
    constexpr size_t kPacketBytes = 29, kPictureBytes = 12;
    if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
    const size_t body = bytes.size() - 8;
    Reader check(bytes, bytes.size());
    check.Skip(body);
    uint64_t sum = 0;
    if (!check.U64(&sum) || sum != Fnv1a(bytes.data(), body)) return false;

    Reader r(bytes, body);
    r.Skip(sizeof kMagic);
    uint32_t version = 0, packetCount = 0, pictureCount = 0;
    uint8_t identity = 0;
    MediaIndex index;
    if (!r.U32(&version) || version != kFormatVersion || !r.U8(&identity) || identity > uint8_t(FrameIdentity::Order) ||
        !r.F64(&index.nominalRate) || !r.I64(&index.lastDuration) || !r.U32(&packetCount) || !r.U32(&pictureCount))
        return false;
    if (packetCount > r.Left() / kPacketBytes || pictureCount > packetCount ||
        r.Left() < size_t(packetCount) * kPacketBytes + size_t(pictureCount) * kPictureBytes + 4)
        return false;
    index.identity = FrameIdentity(identity);
    try {
        index.packets.resize(packetCount);
        index.pictures.resize(pictureCount);
        index.times.resize(pictureCount);
    } catch (...) {
        return false;
    }
    for (IndexPacket& p : index.packets) {
        uint32_t size = 0;
        if (!r.I64(&p.pos) || !r.I64(&p.dts) || !r.I64(&p.pts) || !r.U32(&size) || !r.U8(&p.flags)) return false;
        p.size = int32_t(size);
    }
    for (uint32_t i = 0; i < pictureCount; ++i) {
        uint32_t packet = 0;
        if (!r.U32(&packet) || !r.I64(&index.times[i])) return false;
        index.pictures[i] = int32_t(packet);
    }
    uint32_t paletteCount = 0;
    if (!r.U32(&paletteCount) || paletteCount > r.Left() / (4 + kPaletteBytes) ||
        r.Left() != size_t(paletteCount) * (4 + kPaletteBytes))
        return false;
    for (uint32_t i = 0; i < paletteCount; ++i) {
        uint32_t packet = 0;
        if (!r.U32(&packet) || packet >= packetCount) return false;
        std::string table(kPaletteBytes, '\0');
        for (char& c : table) {
            uint8_t b = 0;
            r.U8(&b);
            c = char(b);
        }
        if (!index.palettes.empty() && int32_t(packet) <= index.palettes.back().first) return false;
        index.palettes.emplace_back(int32_t(packet), std::move(table));
    }
    if (!(index.nominalRate >= 0) || index.lastDuration < 0 || !index.Finish()) return false;
    *out = std::move(index);
    return true;
}
