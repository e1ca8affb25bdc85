#include "cli/CliCommon.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <atomic>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "fileio/OutputCheck.h"
#include "output/FrameExport.h"
#include "video/AviReader.h"

namespace cli {

namespace {
double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
}  // namespace

int Fail(const std::string& command, const std::string& message, int status) {
    std::fprintf(stderr, "tessaron-cli %s: %s\n", command.c_str(), message.c_str());
    return status;
}

int Usage(const std::string& command, const std::string& message) { return Fail(command, message, kExitUsage); }

int MakeFolders(const std::string& command, const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (std::filesystem::is_directory(folder)) return kExitOk;
    const bool inTheWay = ec == std::errc::not_a_directory || ec == std::errc::file_exists || !ec;
    return Fail(command,
                "cannot create the folder " + folder + ": " + (ec ? ec.message() : "a file of that name is in the way"),
                inTheWay ? kExitUsage : kExitTempFail);
}

int OutputProblemStatus(const std::string& path) {
    const std::string folder = FolderOfPath(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) != 0)
        return kExitTempFail;
    return kExitUsage;
}

bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a == "-h" || a == "--help") return true;
    return false;
}

std::string TryHelp(const std::string& command) { return "; try 'tessaron-cli " + command + " --help'"; }

int ReportExportStop(const std::string& command, const ExportOutcome& outcome, const std::string& path,
                     std::string* message) {
    int status = 0;
    if (outcome.stop != ExportStop::Done || !outcome.written) {
        const std::string text = ExportOutcomeText(outcome, path);
        std::fprintf(stderr, "tessaron-cli %s: %s\n", command.c_str(), text.c_str());
        if (message) *message = text;
        // A full disk, a folder not writable, a signal: another run may well succeed. Nothing written
        // after a plain end: no frame could be read.
        switch (outcome.stop) {
        case ExportStop::Refused: status = kExitUsage; break;
        case ExportStop::Done: status = kExitFailed; break;
        default: status = kExitTempFail; break;
        }
    }
    if (!outcome.omitted.empty()) {
        // The report ends its list with a line break of its own.
        // The view's heading speaks of file size limits; here the frames are named for what they are.
        std::string report = OmittedFramesReport(outcome.omitted);
        report = "Frames that could not be read, left out:\n" + report.substr(report.find('\n') + 1);
        std::fprintf(stderr, "%s%s", report.c_str(), report.back() == '\n' ? "" : "\n");
        if (message && message->empty())
            *message = std::to_string(outcome.omitted.size()) + " frames could not be read and were left out";
        if (status == 0) status = kExitFailed;
    }
    return status;
}

Option QualityOption(int32_t* quality) {
    return {"--quality", "-q", "a value from 1 to 100", [quality](const std::string& value) {
                if (ParseInt32(value, quality) && *quality >= 1 && *quality <= 100) return std::string();
                return "quality '" + value + "' is not a whole number from 1 to 100";
            }};
}

Option ScoreOption(ScoreKind* kind) {
    return {"--score", nullptr, "jpeg, sharpness or local-sharpness", [kind](const std::string& value) {
                if (ParseScoreKind(value, kind)) return std::string();
                return "score '" + value + "' is none of jpeg, sharpness and local-sharpness";
            }};
}

std::string SetScoreBox(bool haveBox, const int32_t corners[4], const FrameInfo& info, ScoreSettings* settings) {
    settings->useBox = haveBox;
    if (!haveBox) return std::string();
    const CropRect box = NormalizeCropBox(corners[0], corners[1], corners[2], corners[3]);
    if (box.Empty()) return "the box is empty (it needs a width and a height)";
    if (box.left < 0 || box.top < 0 || box.right > info.width || box.bottom > info.height)
        return "the box is not inside the " + std::to_string(info.width) + "x" + std::to_string(info.height) + " frame";
    settings->left = box.left;
    settings->top = box.top;
    settings->width = box.right - box.left;
    settings->height = box.bottom - box.top;
    return std::string();
}

bool ParseBox(const std::string& text, int32_t corners[4]) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 3) == (comma == std::string::npos)) return false;
        const std::string item = text.substr(start, i < 3 ? comma - start : std::string::npos);
        if (!ParseInt32(item, &corners[i])) return false;
        start = comma + 1;
    }
    return true;
}

Option Flag(const char* name, bool* on) {
    return {name, nullptr, nullptr, [on](const std::string&) {
                *on = true;
                return std::string();
            }};
}

ArgHandler Collect(std::vector<std::string>* into) {
    return [into](const std::string& arg) {
        into->push_back(arg);
        return std::string();
    };
}

std::optional<int> ParseCommandLine(const CommandLine& line, const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(line.usage, stdout);
        return 0;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const Option* option = nullptr;
        for (const Option& o : line.options)
            if (a == o.name || (o.alias && a == o.alias)) option = &o;
        std::string error;
        if (option && option->needs) {
            if (i + 1 >= args.size()) return Usage(line.command, a + " needs " + option->needs);
            error = option->take(args[++i]);
        } else if (option) {
            error = option->take(std::string());
        } else if (a.size() > 1 && a[0] == '-' && !(line.negativeNumbers && a[1] >= '0' && a[1] <= '9')) {
            error = "unknown option '" + a + "'" + TryHelp(line.command);
        } else {
            error = line.positional(a);
        }
        if (!error.empty()) return Usage(line.command, error);
    }
    return std::nullopt;
}

bool ParseInt32(const std::string& text, int32_t* value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, *value);
    return ec == std::errc() && ptr == end && begin != end;
}

std::string FormatDouble(double value) {
    if (!std::isfinite(value)) return "0";
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

namespace {

std::string FourCCText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = char((code >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

// Why our AVI reader cannot play the file.
std::string AviFailure(const std::string& path) {
    std::string error;
    std::unique_ptr<AviReader> avi = AviReader::OpenFile(path.c_str(), &error);
    if (!avi) return "the AVI reader cannot play it" + (error.empty() ? std::string() : ": " + error);
    if (!avi->CanDecode())
        return "compressed AVI video (" + FourCCText(avi->Handler()) +
               ") needs the media detector; only uncompressed AVI plays without it";
    if (avi->Length() == 0) return "the AVI video stream has no frames";
    return "no frame of the AVI video stream decodes";
}

}  // namespace

bool OpenVideo(VideoFrameReader& reader, const std::string& path, FrameInfo** info, std::string* reason) {
    // Nothing but a regular file is opened: a FIFO would wait for a writer forever.
    *reason = InputFileProblem(path);
    if (!reason->empty()) return false;
    if (::access(path.c_str(), R_OK) != 0) {
        *reason = "cannot read the file";
        return false;
    }
    // A long file seen for the first time is indexed at open: say so on a terminal, after a moment.
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const double start = Now();
    bool shown = false;
    const std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    reader.SetOpenProgress([&](double fraction) {
        if (terminal && (shown || Now() - start > 0.5)) {
            shown = true;
            std::fprintf(stderr, "\r\033[Kindexing %s: %.0f %%", name.c_str(), 100 * fraction);
        }
        return !StopSignals::Requested();
    });
    FrameInfo& opened = reader.Open(path.c_str());
    reader.SetOpenProgress({});
    if (shown) std::fputs("\r\033[K", stderr);
    *info = &opened;
    if (opened.succeeded) return true;
    if (!opened.useMediaDetector) {
        *reason = AviFailure(path);
    } else if (!reader.LastError().empty()) {
        *reason = reader.LastError();
    } else {
        *reason = "unable to load image frames";
    }
    return false;
}

FrameInfo* OpenVideoOrFail(const std::string& command, VideoFrameReader& reader, const std::string& path) {
    FrameInfo* info = nullptr;
    std::string reason;
    if (OpenVideo(reader, path, &info, &reason)) return info;
    Fail(command, path + ": " + reason);
    return nullptr;
}

namespace {

// Set by the signal handler: only a lock-free atomic is safe to touch there.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int) { stopRequested.store(true, std::memory_order_relaxed); }

}  // namespace

StopSignals::StopSignals() {
    stopRequested.store(false, std::memory_order_relaxed);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &action, &previous_[i]);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &previous_[i], nullptr);
}

bool StopSignals::Requested() { return stopRequested.load(std::memory_order_relaxed); }

ProgressLine::ProgressLine(const char* what, bool allowed)
    : what_(what), on_(allowed && ::isatty(STDERR_FILENO) == 1), start_(Now()) {}

void ProgressLine::Update(int64_t done, int64_t total) {
    if (!on_) return;
    const double now = Now();
    if (done < total && now - lastShown_ < 0.1) return;
    lastShown_ = now;
    const double elapsed = now - start_;
    const double fps = elapsed > 0 ? double(done) / elapsed : 0;
    const double left = fps > 0 ? double(total - done) / fps : 0;
    std::fprintf(stderr, "\r\033[K%s frame %lld of %lld, %.1f fps, %.0f s left", what_, static_cast<long long>(done),
                 static_cast<long long>(total), fps, left);
}

void ProgressLine::Clear() {
    if (on_) std::fputs("\r\033[K", stderr);
}

}  // namespace cli
