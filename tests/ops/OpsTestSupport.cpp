#include "tests/ops/OpsTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "image/dib.h"

namespace fs = std::filesystem;

namespace opstest {

std::string MakeVideo(const std::string& name, int width, int height, const std::vector<Bytes>& pictures,
                      const std::string& outputArgs, const std::string& extension, const std::string& rate) {
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

ProbeInfo Probe(const std::string& path) {
    ProbeInfo info;
    const CommandRun run = RunCapture(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
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

Bytes PictureOf(const uint8_t* block, int width, int height) {
    Bytes picture(size_t(3) * width * height);
    const int64_t stride = DibStride24(width);
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.data() + size_t(3) * width * y, block + kDibHeaderSize + (height - 1 - y) * stride,
                    size_t(3) * width);
    return picture;
}

Bytes BoxOf(const Bytes& picture, int width, int left, int top, int right, int bottom) {
    Bytes box;
    for (int y = top; y < bottom; ++y) {
        const auto row = picture.begin() + long(size_t(3) * (size_t(width) * y + left));
        box.insert(box.end(), row, row + 3 * (right - left));
    }
    return box;
}

long CjpegSize(const Bytes& picture, int width, int height, int quality, const std::string& extraArgs) {
    const std::string ppm = Scratch("cjpeg-in.ppm"), jpeg = Scratch("cjpeg-out.jpg");
    std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes bytes(header.begin(), header.end());
    for (size_t i = 0; i + 2 < picture.size(); i += 3) {
        bytes.push_back(picture[i + 2]);
        bytes.push_back(picture[i + 1]);
        bytes.push_back(picture[i]);
    }
    if (!WriteFileBytes(ppm, bytes)) return -1;
    if (RunCommand("cjpeg -quality " + std::to_string(quality) + " -baseline " + extraArgs + " -outfile " +
                   ShellQuote(jpeg) + " " + ShellQuote(ppm)) != 0)
        return -1;
    std::error_code ec;
    const auto size = fs::file_size(jpeg, ec);
    return ec ? -1 : long(size);
}

}  // namespace opstest
