// Where a written image comes from: the video's file name, the frame and its time, and what the
// container tells of the camera (make, model), the recording's start and its place (ISO 6709
// location tags, as phones write them). Written into each image (JPEG and TIFF: EXIF and XMP; PNG:
// XMP in an iTXt chunk) through libexiv2, and into frames.csv.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "output/ImageFiles.h"

struct VideoOrigin {
    std::string source;  // the video's file name, without its folder
    std::string make, model;
    // The recording's start: seconds since 1970 (UTC), and the offset of its local time when known.
    bool haveStart = false;
    double start = 0;
    bool haveZone = false;
    int32_t zoneMinutes = 0;
    bool haveLocation = false;
    double latitude = 0, longitude = 0;  // degrees, north and east positive
    bool haveAltitude = false;
    double altitude = 0;  // metres
};

// The origin from a container's tags (VideoFrameReader::ContainerTags) and the video's path.
VideoOrigin ReadVideoOrigin(const std::vector<std::pair<std::string, std::string>>& tags, const std::string& path);

// "+48.8584+002.2945+035.000/" and the degree-minute(-second) forms; false for anything else.
bool ParseIso6709(const std::string& text, double* latitude, double* longitude, bool* haveAltitude, double* altitude);
// "2024-05-01T10:20:30.5Z", "2024-05-01T12:20:30+0200" (or +02:00); *zone false when no offset is given.
bool ParseRecordingTime(const std::string& text, double* seconds, bool* zone, int32_t* zoneMinutes);

// The time the frame seconds into the video was recorded, "2024-05-01T12:20:30.500+02:00" (local
// time with its offset; without an offset, "...30.500" as written); empty when the start is unknown.
std::string FrameRecordingTime(const VideoOrigin& origin, double seconds);

// Adds the origin of frame (seconds into the video) to an encoded image of format, in place; BMP is
// left as it is. False with *error when the library fails; bytes are then unchanged.
bool AddImageOrigin(std::vector<uint8_t>* bytes, ImageFormat format, const VideoOrigin& origin, int32_t frame,
                    double seconds, std::string* error);

// frames.csv's origin columns: the header's ",source,make,model,recorded,latitude,longitude,altitude",
// and a frame's fields in the same order (each starting with its comma).
const char* OriginCsvHeader();
std::string OriginCsvFields(const VideoOrigin& origin, double seconds);
