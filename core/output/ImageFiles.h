// Frames of an open video written as image files (PNG, JPEG, TIFF, BMP), one per frame, named from a
// pattern, with a frames.csv beside them. Every file is written under a temporary name and renamed;
// an existing file is replaced only when asked. Frames are decoded in ascending order on the caller's
// thread and encoded and written by two others. Nothing here throws or shows anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/FrameExport.h"

struct FrameInfo;
class VideoFrameReader;

enum class ImageFormat { Png, Jpeg, Tiff, Bmp };

// "png", "jpg"/"jpeg", "tif"/"tiff", "bmp" (any case); false for anything else.
bool ParseImageFormat(const std::string& text, ImageFormat* format);
// "png", "jpg", "tif", "bmp".
const char* ImageFormatExtension(ImageFormat format);

struct ImageEncoding {
    ImageFormat format = ImageFormat::Png;
    int jpegQuality = 95;      // 1 to 100; chroma at full resolution (4:4:4) from 90 up, else 4:2:0
    bool tiffDeflate = false;  // TIFF: deflate (with horizontal prediction) instead of uncompressed
};

// The file bytes of width x height bottom-up 24-bit BGR rows of stride bytes: PNG 8-bit RGB, JPEG as
// cjpeg -quality J makes it (-sample 1x1 from 90 up), TIFF RGB, BMP 24-bit. False with *error set.
bool EncodeImage(const uint8_t* rows, int32_t width, int32_t height, int64_t stride, const ImageEncoding& encoding,
                 std::vector<uint8_t>* bytes, std::string* error);

// Writes the bytes to a temporary file beside path and renames it to path. Without replace an existing
// path stays as it was and the write fails. False with *error "<path>: <reason>"; no temporary is left.
bool WriteFileWhole(const std::string& path, const void* data, size_t size, bool replace, std::string* error);

// What a name pattern can hold: {stem}, {frame} (zero-padded to the width of the frame count),
// {time} (00-01-02.345), {rank} and {score}.
struct ImageNameFields {
    std::string stem;
    int32_t frame = 0;
    int32_t frameCount = 0;
    double seconds = 0;
    int32_t rank = 0;
    int32_t score = 0;
};
std::string ExpandImageName(const std::string& pattern, const ImageNameFields& fields);
// "{stem}_{frame}.<extension>".
std::string DefaultImagePattern(ImageFormat format);
// Seconds as hours-minutes-seconds.milliseconds: 62.345 gives "00-01-02.345".
std::string FormatFrameTime(double seconds);
// The file name without its folder and last extension: "/v/clip.mp4" gives "clip".
std::string FileStem(const std::string& path);

struct ImageItem {
    int32_t frame = 0;
    int32_t rank = 0;   // {rank}: the frame's position in the sort, or in the list
    int32_t score = 0;  // {score} and frames.csv
};

struct ImageExportSettings {
    std::string folder;   // existing folder the files go into
    std::string stem;     // {stem}
    std::string pattern;  // empty: DefaultImagePattern
    ImageEncoding encoding;
    bool useBox = false;  // write only box (clamped to the frame)
    CropRect box;
    bool replace = false;  // existing files may be replaced
    std::string source;    // the video's path: its name and the container's camera, time and place go into
                           // every image (ImageOrigin.h) and frames.csv
    bool origin = true;    // false: the images carry no metadata (frames.csv still has the columns)
};

// The paths the export writes: one per item, then folder/frames.csv. Empty with *error when two items
// would get the same name or a pattern gives no usable name. Times ({time}) are the frames' own.
std::vector<std::string> PlannedImagePaths(const VideoFrameReader& reader, const FrameInfo& info,
                                           const std::vector<ImageItem>& items, const ImageExportSettings& settings,
                                           std::string* error);

// Writes every item's frame as an image, with its origin in it, and then frames.csv (file, frame,
// time, score, width, height, source, make, model, recorded, latitude, longitude, altitude) for the
// files written. Without replace, an existing file among them refuses the export before
// anything is read. progress is called with the number of items done before the frame; frameRead
// sees the written part of the frames wantFrame asks for. A write that fails (a full
// disk), an encoder or a callback that throws, stops the export with the reason; the files written
// before stay whole, are named in outcome.writtenItems and listed in frames.csv, and no temporary
// file is left. The encoder threads have ended when it returns, however it ends.
ExportOutcome ExportImageFiles(VideoFrameReader& reader, FrameInfo& info, const std::vector<ImageItem>& items,
                               const ImageExportSettings& settings, const ExportCallbacks& callbacks);
