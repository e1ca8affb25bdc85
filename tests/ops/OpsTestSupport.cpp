#include "tests/ops/OpsTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include "image/dib.h"
#include "tests/support/TestVideos.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace opstest {

namespace {

struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "tessaron-ops-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
};

}  // namespace

std::string ScratchDir()
{
    static ScratchFolder folder;
    return folder.path;
}

std::string Scratch(const std::string& name)
{
    return ScratchDir() + "/" + name;
}

Bytes ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

uint64_t FileHash(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    uint64_t hash = 1469598103934665603ull;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            hash ^= uint8_t(buffer[i]);
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

CommandRun RunCapture(const std::string& command)
{
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string MakeVideo(const std::string& name, int width, int height, const std::vector<Bytes>& pictures,
                      const std::string& outputArgs, const std::string& extension, const std::string& rate)
{
    const std::string raw = Scratch(name + ".bgr");
    Bytes all;
    for (const Bytes& p : pictures) all.insert(all.end(), p.begin(), p.end());
    if (!WriteFileBytes(raw, all)) return {};
    const std::string out = Scratch(name + "." + extension);
    const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(width) +
                                "x" + std::to_string(height) + " -r " + rate + " -i " + ShellQuote(raw) + " " +
                                outputArgs + " " + ShellQuote(out);
    const int status = RunCommand(command);
    std::remove(raw.c_str());
    return status == 0 ? out : std::string();
}

std::vector<Bytes> FfmpegFrames(const std::string& path, int width, int height)
{
    std::vector<Bytes> frames;
    const std::string raw = Scratch("decoded.bgr");
    if (RunCommand("ffmpeg -nostdin -v error -y -i " + ShellQuote(path) + " -f rawvideo -pix_fmt bgr24 " +
                   ShellQuote(raw)) != 0)
        return frames;
    const Bytes all = ReadFileBytes(raw);
    std::remove(raw.c_str());
    const size_t frameSize = size_t(3) * width * height;
    if (frameSize == 0) return frames;
    for (size_t at = 0; at + frameSize <= all.size(); at += frameSize)
        frames.emplace_back(all.begin() + long(at), all.begin() + long(at + frameSize));
    return frames;
}

ProbeInfo Probe(const std::string& path)
{
    ProbeInfo info;
    const CommandRun run = RunCapture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                               "stream=width,height,r_frame_rate,nb_read_frames -of default=noprint_wrappers=1 " +
                               ShellQuote(path));
    if (run.status != 0) return info;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "width") info.width = std::atoi(value.c_str());
        if (key == "height") info.height = std::atoi(value.c_str());
        if (key == "r_frame_rate") info.rate = value;
        if (key == "nb_read_frames") info.decodedFrames = std::atoi(value.c_str());
    }
    info.ok = info.width > 0;
    return info;
}

Bytes PictureOf(const uint8_t* block, int width, int height)
{
    Bytes picture(size_t(3) * width * height);
    const int64_t stride = DibStride24(width);
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.data() + size_t(3) * width * y, block + kDibHeaderSize + (height - 1 - y) * stride,
                    size_t(3) * width);
    return picture;
}

Bytes BoxOf(const Bytes& picture, int width, int left, int top, int right, int bottom)
{
    Bytes box;
    for (int y = top; y < bottom; ++y) {
        const auto row = picture.begin() + long(size_t(3) * (size_t(width) * y + left));
        box.insert(box.end(), row, row + 3 * (right - left));
    }
    return box;
}

bool OpenReader(VideoFrameReader& reader, const std::string& path, bool media, FrameInfo** info)
{
    ::setenv("TESSARON_MEDIA_DETECTOR", media ? "1" : "0", 1);
    FrameInfo& opened = reader.Open(path.c_str());
    *info = &opened;
    return opened.succeeded;
}

Bytes ReadBlock(VideoFrameReader& reader, FrameInfo& info, int32_t n)
{
    Bytes block;
    uint8_t* p = reader.ReadFrame(info, n);
    if (p && info.frameBlockSize > 0) block.assign(p, p + info.frameBlockSize);
    std::free(p);
    return block;
}

long CjpegSize(const Bytes& picture, int width, int height, int quality)
{
    const std::string ppm = Scratch("cjpeg-in.ppm"), jpeg = Scratch("cjpeg-out.jpg");
    std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes bytes(header.begin(), header.end());
    for (size_t i = 0; i + 2 < picture.size(); i += 3) {
        bytes.push_back(picture[i + 2]);
        bytes.push_back(picture[i + 1]);
        bytes.push_back(picture[i]);
    }
    if (!WriteFileBytes(ppm, bytes)) return -1;
    if (RunCommand("cjpeg -quality " + std::to_string(quality) + " -baseline -outfile " + ShellQuote(jpeg) + " " +
                   ShellQuote(ppm)) != 0)
        return -1;
    std::error_code ec;
    const auto size = fs::file_size(jpeg, ec);
    return ec ? -1 : long(size);
}

}  // namespace opstest
