#include "output/ImageOrigin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include <zlib.h>

// libexiv2 0.27 hands its images out as std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

// Where the frame and time properties live in XMP.
const char kXmpNamespace[] = "http://tessaron.invalid/ns/frame/1.0/";
const char kXmpPrefix[] = "tessaronFrame";

const std::string* Tag(const std::vector<std::pair<std::string, std::string>>& tags,
                       std::initializer_list<const char*> names) {
    for (const char* name : names)
        for (const auto& [key, value] : tags)
            if (key == name && !value.empty()) return &value;
    return nullptr;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian), and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int32_t* m, int32_t* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = int32_t(doy - (153 * mp + 2) / 5 + 1);
    *m = int32_t(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

// A moment's local parts: year ... second and milliseconds.
struct Moment {
    int64_t year = 0;
    int32_t month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
};

Moment Split(double seconds) {
    const int64_t total = std::llround(seconds * 1000);
    int64_t days = total / 86400000, rest = total % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    Moment m;
    CivilFromDays(days, &m.year, &m.month, &m.day);
    m.hour = int32_t(rest / 3600000);
    m.minute = int32_t(rest / 60000 % 60);
    m.second = int32_t(rest / 1000 % 60);
    m.millis = int32_t(rest % 1000);
    return m;
}

std::string ZoneText(int32_t minutes) {
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                  std::abs(minutes) % 60);
    return text;
}

// The frame's local moment (UTC shifted by the zone when known).
bool FrameMoment(const VideoOrigin& origin, double seconds, Moment* moment) {
    if (!origin.haveStart || !std::isfinite(seconds)) return false;
    *moment = Split(origin.start + seconds + (origin.haveZone ? origin.zoneMinutes * 60.0 : 0.0));
    return moment->year >= 1 && moment->year <= 9999;
}

// Degrees as EXIF's three rationals: degrees, minutes and seconds to a hundredth.
std::string ExifDegrees(double degrees) {
    const int64_t hundredths = std::llround(std::fabs(degrees) * 360000);
    char text[64];
    std::snprintf(text, sizeof text, "%lld/1 %lld/1 %lld/100", static_cast<long long>(hundredths / 360000),
                  static_cast<long long>(hundredths / 6000 % 60), static_cast<long long>(hundredths % 6000));
    return text;
}

// Degrees as XMP writes GPS coordinates: "48,51.50400N".
std::string XmpDegrees(double degrees, char positive, char negative) {
    const double a = std::fabs(degrees);
    const double whole = std::floor(a);
    char text[64];
    std::snprintf(text, sizeof text, "%d,%.5f%c", int(whole), (a - whole) * 60, degrees < 0 ? negative : positive);
    return text;
}

std::string Number(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The one lock around libexiv2: its XMP toolkit is not safe on two threads at once.
std::mutex& ExivLock() {
    static std::mutex lock;
    return lock;
}

void PrepareExiv() {
    static bool ready = false;
    if (ready) return;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
    Exiv2::XmpProperties::registerNs(kXmpNamespace, kXmpPrefix);
    ready = true;
}

std::string CsvText(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

bool ParseIso6709(const std::string& text, double* latitude, double* longitude, bool* haveAltitude, double* altitude) {
    // Signed numbers one after another; the count of whole digits tells degrees, DDMM or DDMMSS.
    const auto number = [&text](size_t* at, int degreeDigits, double* value) {
        if (*at >= text.size() || (text[*at] != '+' && text[*at] != '-')) return false;
        const bool negative = text[*at] == '-';
        size_t end = *at + 1, digits = 0;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end, ++digits;
        if (end < text.size() && text[end] == '.') {
            ++end;
            while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        }
        if (digits == 0 || end - *at > 30) return false;
        const double raw = std::strtod(text.substr(*at + 1, end - *at - 1).c_str(), nullptr);
        double v = raw;
        if (degreeDigits > 0) {
            if (digits == size_t(degreeDigits) + 2)
                v = std::floor(raw / 100) + std::fmod(raw, 100) / 60;
            else if (digits == size_t(degreeDigits) + 4)
                v = std::floor(raw / 10000) + std::floor(std::fmod(raw, 10000) / 100) / 60 + std::fmod(raw, 100) / 3600;
            else if (digits != size_t(degreeDigits))
                return false;
        }
        *value = negative ? -v : v;
        *at = end;
        return true;
    };
    size_t at = 0;
    double lat = 0, lon = 0, alt = 0;
    if (!number(&at, 2, &lat) || !number(&at, 3, &lon)) return false;
    const bool altitudeGiven = number(&at, 0, &alt);
    if (at < text.size() && text.substr(at, 3) == "CRS") at = text.find('/', at);
    if (at == std::string::npos || at >= text.size() || text[at] != '/') return false;
    if (!(std::fabs(lat) <= 90) || !(std::fabs(lon) <= 180)) return false;
    *latitude = lat;
    *longitude = lon;
    *haveAltitude = altitudeGiven;
    *altitude = altitudeGiven ? alt : 0;
    return true;
}

bool ParseRecordingTime(const std::string& text, double* seconds, bool* zone, int32_t* zoneMinutes) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%*1[T ]%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                    &used) != 6 ||
        used < 19)
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1)
        return false;
    size_t at = size_t(used);
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        size_t end = at + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        fraction = std::strtod(("0" + text.substr(at, std::min<size_t>(end - at, 10))).c_str(), nullptr);
        at = end;
    }
    *zone = false;
    *zoneMinutes = 0;
    if (at < text.size() && text[at] == 'Z') {
        *zone = true;
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        int hours = 0, minutes = 0, n = 0;
        const char* rest = text.c_str() + at + 1;
        if (std::sscanf(rest, "%2d:%2d%n", &hours, &minutes, &n) == 2 && n == 5) {
        } else if (std::sscanf(rest, "%2d%2d%n", &hours, &minutes, &n) == 2 && n == 4) {
        } else {
            return false;
        }
        if (hours > 14 || minutes > 59) return false;
        *zone = true;
        *zoneMinutes = (text[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
        at += 1 + size_t(n);
    }
    if (at != text.size()) return false;
    *seconds = double(DaysFromCivil(year, month, day)) * 86400 + hour * 3600 + minute * 60 + second + fraction -
               *zoneMinutes * 60.0;
    return true;
}

VideoOrigin ReadVideoOrigin(const std::vector<std::pair<std::string, std::string>>& tags, const std::string& path) {
    VideoOrigin origin;
    origin.source = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    if (const std::string* make = Tag(tags, {"com.apple.quicktime.make", "make", "com.android.manufacturer"}))
        origin.make = *make;
    if (const std::string* model = Tag(tags, {"com.apple.quicktime.model", "model", "com.android.model"}))
        origin.model = *model;
    // The local time with its offset when the file has one; else the container's UTC creation time.
    for (const char* name : {"com.apple.quicktime.creationdate", "creation_time"}) {
        const std::string* text = Tag(tags, {name});
        if (text && ParseRecordingTime(*text, &origin.start, &origin.haveZone, &origin.zoneMinutes)) {
            origin.haveStart = true;
            break;
        }
    }
    for (const char* name : {"com.apple.quicktime.location.ISO6709", "location", "location-eng"}) {
        const std::string* text = Tag(tags, {name});
        if (text && ParseIso6709(*text, &origin.latitude, &origin.longitude, &origin.haveAltitude, &origin.altitude)) {
            origin.haveLocation = true;
            break;
        }
    }
    return origin;
}

std::string FrameRecordingTime(const VideoOrigin& origin, double seconds) {
    Moment m;
    if (!FrameMoment(origin, seconds, &m)) return std::string();
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<long long>(m.year), m.month,
                  m.day, m.hour, m.minute, m.second, m.millis);
    return text + (origin.haveZone ? ZoneText(origin.zoneMinutes) : std::string());
}

namespace {

// The origin as EXIF and XMP data (EXIF only when exif is set).
void FillOrigin(const VideoOrigin& origin, int32_t frame, double seconds, bool exif, Exiv2::ExifData* data,
                Exiv2::XmpData* xmp) {
    const std::string recorded = FrameRecordingTime(origin, seconds);
    const std::string where = origin.source + ", frame " + std::to_string(frame) + ", " +
                              FormatFrameTime(seconds).replace(2, 1, ":").replace(5, 1, ":");
    (*xmp)["Xmp.dc.source"] = origin.source;
    (*xmp)["Xmp.dc.description"] = where;
    (*xmp)[std::string("Xmp.") + kXmpPrefix + ".SourceVideo"] = origin.source;
    (*xmp)[std::string("Xmp.") + kXmpPrefix + ".SourceFrame"] = std::to_string(frame);
    (*xmp)[std::string("Xmp.") + kXmpPrefix + ".SourceTime"] = Number(seconds, "%.6f");
    if (!origin.make.empty()) (*xmp)["Xmp.tiff.Make"] = origin.make;
    if (!origin.model.empty()) (*xmp)["Xmp.tiff.Model"] = origin.model;
    if (!recorded.empty()) {
        (*xmp)["Xmp.exif.DateTimeOriginal"] = recorded;
        (*xmp)["Xmp.xmp.CreateDate"] = recorded;
    }
    if (origin.haveLocation) {
        (*xmp)["Xmp.exif.GPSVersionID"] = "2.3.0.0";
        (*xmp)["Xmp.exif.GPSLatitude"] = XmpDegrees(origin.latitude, 'N', 'S');
        (*xmp)["Xmp.exif.GPSLongitude"] = XmpDegrees(origin.longitude, 'E', 'W');
        if (origin.haveAltitude) {
            (*xmp)["Xmp.exif.GPSAltitudeRef"] = origin.altitude < 0 ? "1" : "0";
            (*xmp)["Xmp.exif.GPSAltitude"] = Number(std::fabs(origin.altitude) * 1000, "%.0f/1000");
        }
    }
    if (!exif) return;
    const auto set = [data](const char* key, Exiv2::TypeId type, const std::string& text) {
        Exiv2::Value::AutoPtr value = Exiv2::Value::create(type);
        value->read(text);
        (*data)[key] = *value;
    };
    (*data)["Exif.Image.ImageDescription"] = where;
    if (!origin.make.empty()) (*data)["Exif.Image.Make"] = origin.make;
    if (!origin.model.empty()) (*data)["Exif.Image.Model"] = origin.model;
    Moment m;
    if (FrameMoment(origin, seconds, &m)) {
        char text[32];
        std::snprintf(text, sizeof text, "%04lld:%02d:%02d %02d:%02d:%02d", static_cast<long long>(m.year), m.month,
                      m.day, m.hour, m.minute, m.second);
        (*data)["Exif.Photo.DateTimeOriginal"] = std::string(text);
        std::snprintf(text, sizeof text, "%03d", m.millis);
        (*data)["Exif.Photo.SubSecTimeOriginal"] = std::string(text);
        if (origin.haveZone) (*data)["Exif.Photo.OffsetTimeOriginal"] = ZoneText(origin.zoneMinutes);
    }
    if (origin.haveLocation) {
        set("Exif.GPSInfo.GPSVersionID", Exiv2::unsignedByte, "2 3 0 0");
        (*data)["Exif.GPSInfo.GPSLatitudeRef"] = std::string(origin.latitude < 0 ? "S" : "N");
        set("Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, ExifDegrees(origin.latitude));
        (*data)["Exif.GPSInfo.GPSLongitudeRef"] = std::string(origin.longitude < 0 ? "W" : "E");
        set("Exif.GPSInfo.GPSLongitude", Exiv2::unsignedRational, ExifDegrees(origin.longitude));
        if (origin.haveAltitude) {
            set("Exif.GPSInfo.GPSAltitudeRef", Exiv2::unsignedByte, origin.altitude < 0 ? "1" : "0");
            set("Exif.GPSInfo.GPSAltitude", Exiv2::unsignedRational,
                Number(std::fabs(origin.altitude) * 1000, "%.0f/1000"));
        }
    }
}

void PutBigEndian32(std::vector<uint8_t>* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

// A JPEG APP1 segment of signature and payload; false when it is too long for one segment.
bool AppendApp1(std::vector<uint8_t>* out, const char* signature, size_t signatureBytes, const uint8_t* payload,
                size_t size) {
    const size_t length = 2 + signatureBytes + size;
    if (length > 0xFFFF) return false;
    out->insert(out->end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)});
    out->insert(out->end(), signature, signature + signatureBytes);
    out->insert(out->end(), payload, payload + size);
    return true;
}

// The EXIF and XMP segments put into the JPEG bytes after the start marker and the JFIF segment our
// encoder writes, in place: the caller's buffer keeps its room from image to image, so a large picture
// is moved once, not copied into fresh memory.
bool SpliceJpeg(std::vector<uint8_t>* bytes, const Exiv2::Blob& exif, const std::string& xmp, std::string* error) {
    const std::vector<uint8_t>& in = *bytes;
    if (in.size() < 4 || in[0] != 0xFF || in[1] != 0xD8) {
        *error = "the encoder's JPEG has no start marker";
        return false;
    }
    size_t at = 2;
    if (in.size() >= 6 && in[2] == 0xFF && in[3] == 0xE0) at = 4 + (size_t(in[4]) << 8 | in[5]);
    if (at > in.size()) {
        *error = "the encoder's JPEG is cut short";
        return false;
    }
    std::vector<uint8_t> segments;
    static const char kExif[] = "Exif\0";                       // with the terminating NUL: "Exif" and two NULs
    static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";  // and its NUL
    if ((!exif.empty() && !AppendApp1(&segments, kExif, sizeof kExif, exif.data(), exif.size())) ||
        !AppendApp1(&segments, kXmp, sizeof kXmp, reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size())) {
        *error = "the metadata is too long for a JPEG segment";
        return false;
    }
    bytes->insert(bytes->begin() + std::ptrdiff_t(at), segments.begin(), segments.end());
    return true;
}

// The XMP as an iTXt chunk after the PNG's header chunk.
bool SplicePng(std::vector<uint8_t>* bytes, const std::string& xmp, std::string* error) {
    const std::vector<uint8_t>& in = *bytes;
    static const uint8_t kIhdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (in.size() < 33 || !std::equal(std::begin(kIhdr), std::end(kIhdr), in.begin() + 8)) {
        *error = "the encoder's PNG does not start with its header";
        return false;
    }
    const size_t at = 33;  // signature, IHDR's length, type, 13 bytes and CRC
    std::vector<uint8_t> chunk = {'i', 'T', 'X', 't'};
    static const char kKeyword[] = "XML:com.adobe.xmp";
    chunk.insert(chunk.end(), kKeyword, kKeyword + sizeof kKeyword);  // with its NUL
    chunk.insert(chunk.end(), {0, 0, 0, 0});  // not compressed, no language, no translated keyword
    chunk.insert(chunk.end(), xmp.begin(), xmp.end());
    std::vector<uint8_t> whole;
    PutBigEndian32(&whole, uint32_t(chunk.size() - 4));
    whole.insert(whole.end(), chunk.begin(), chunk.end());
    PutBigEndian32(&whole, uint32_t(crc32(0, chunk.data(), uInt(chunk.size()))));
    bytes->insert(bytes->begin() + std::ptrdiff_t(at), whole.begin(), whole.end());
    return true;
}

}  // namespace

bool AddImageOrigin(std::vector<uint8_t>* bytes, ImageFormat format, const VideoOrigin& origin, int32_t frame,
                    double seconds, std::string* error) {
    if (format == ImageFormat::Bmp || bytes->empty()) return true;
    const bool exif = format != ImageFormat::Png;
    try {
        Exiv2::Blob exifBlob;
        std::string packet;
        {
            std::unique_lock lock(ExivLock());
            PrepareExiv();
            Exiv2::ExifData exifData;
            Exiv2::XmpData xmpData;
            FillOrigin(origin, frame, seconds, exif, &exifData, &xmpData);
            if (format == ImageFormat::Tiff) {
                // TIFF: the library rewrites the file, the picture's own tags and ours in one directory.
                Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes->data(), long(bytes->size()));
                if (!image.get()) {
                    *error = "the image library cannot read the encoded TIFF";
                    return false;
                }
                image->readMetadata();
                for (const Exiv2::Exifdatum& datum : exifData) image->exifData()[datum.key()] = datum.value();
                image->setXmpData(xmpData);
                image->writeMetadata();
                Exiv2::BasicIo& io = image->io();
                if (io.open() != 0) {
                    *error = "the image library cannot give the TIFF back";
                    return false;
                }
                const long size = long(io.size());
                io.seek(0, Exiv2::BasicIo::beg);
                Exiv2::DataBuf buffer = io.read(size);
                io.close();
                if (buffer.size_ != size || size <= 0) {
                    *error = "the image library gave back a short TIFF";
                    return false;
                }
                bytes->assign(buffer.pData_, buffer.pData_ + buffer.size_);
                return true;
            }
            if (exif) Exiv2::ExifParser::encode(exifBlob, Exiv2::littleEndian, exifData);
            if (Exiv2::XmpParser::encode(packet, xmpData) != 0) {
                *error = "the image library cannot write the XMP";
                return false;
            }
        }
        return format == ImageFormat::Jpeg ? SpliceJpeg(bytes, exifBlob, packet, error)
                                           : SplicePng(bytes, packet, error);
    } catch (const std::exception& e) {
        *error = std::string("cannot write the image's metadata: ") + e.what();
    } catch (...) {
        *error = "cannot write the image's metadata";
    }
    return false;
}

const char* OriginCsvHeader() { return ",source,make,model,recorded,latitude,longitude,altitude"; }

std::string OriginCsvFields(const VideoOrigin& origin, double seconds) {
    std::string fields = "," + CsvText(origin.source) + "," + CsvText(origin.make) + "," + CsvText(origin.model) + "," +
                         FrameRecordingTime(origin, seconds) + ",";
    if (origin.haveLocation)
        fields += Number(origin.latitude, "%.6f") + "," + Number(origin.longitude, "%.6f") + ",";
    else
        fields += ",,";
    if (origin.haveLocation && origin.haveAltitude) fields += Number(origin.altitude, "%.3f");
    return fields;
}

#pragma GCC diagnostic pop
