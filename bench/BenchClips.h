// Inputs the export benchmarks share: the 1080p H.264 clips (made once with ffmpeg and kept in a
// temporary folder) and one fixed list of 60 frames in a shuffled order.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

inline std::filesystem::path ExportClipFolder() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tessaron-bench-export";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// clip-1080p-<seconds>s.mp4: 1920x1080, 25 fps, x264 veryfast, 3 B-frames, one key frame every 250.
// Empty when ffmpeg cannot make it.
inline std::string MakeExportClip(int seconds) {
    namespace fs = std::filesystem;
    const fs::path clip = ExportClipFolder() / ("clip-1080p-" + std::to_string(seconds) + "s.mp4");
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (1920x1080, 25 fps, %d s, x264 veryfast, 3 B-frames, GOP 250)...\n", clip.c_str(), seconds);
    std::fflush(stdout);
    const fs::path temp = ExportClipFolder() / ("making-" + std::to_string(::getpid()) + ".mp4");
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t " +
                                std::to_string(seconds) +
                                " -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "
                                "-pix_fmt yuv420p '" +
                                temp.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::error_code ec;
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

// 60 distinct frames of 0..499 in a fixed shuffled order (a small linear congruential generator).
inline std::vector<int> SixtyShuffledFrames() {
    std::vector<int> all(500);
    for (int i = 0; i < 500; ++i) all[size_t(i)] = i;
    uint32_t state = 15;
    for (int i = 499; i > 0; --i) {
        state = state * 1664525u + 1013904223u;
        std::swap(all[size_t(i)], all[size_t(state >> 8) % size_t(i + 1)]);
    }
    all.resize(60);
    return all;
}

inline std::string FrameList(const std::vector<int>& frames) {
    std::string text;
    for (size_t i = 0; i < frames.size(); ++i) text += (i ? "," : "") + std::to_string(frames[i]);
    return text;
}

}  // namespace bench
