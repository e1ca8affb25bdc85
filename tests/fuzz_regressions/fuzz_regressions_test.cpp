// Every kept input of every fuzz target, through the target's own entry function: each must pass
// every expectation the fuzzer checks, with no sanitizer report.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzEntries.h"

namespace {

namespace fs = std::filesystem;
using Entry = const char* (*)(const uint8_t*, size_t);

std::vector<fs::path> KeptInputs(const char* target) {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(TESSARON_FUZZ_REGRESSIONS_DIR) / target;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const char* target, Entry entry) {
    for (const fs::path& file : KeptInputs(target)) {
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A copy exactly as large as the input, so that a read past its end shows under the sanitizers.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        const char* broken = entry(exact.get(), bytes.size());
        EXPECT_EQ(broken, nullptr) << file.filename() << ": " << (broken ? broken : "");
    }
}

TEST(FuzzRegressions, AviReader) { Replay("fuzz_avi_reader", FuzzAviReader); }
TEST(FuzzRegressions, IniFile) { Replay("fuzz_ini_file", FuzzIniFile); }
TEST(FuzzRegressions, JpegDecode) { Replay("fuzz_jpeg_decode", FuzzJpegDecode); }
TEST(FuzzRegressions, FrameOrder) { Replay("fuzz_frame_order", FuzzFrameOrder); }

}  // namespace
