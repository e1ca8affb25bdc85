// tessaron-cli batch -o DIR [pick's options | --rank ...] [VIDEO...] [--files-from LIST] [--manifest CSV]
// [--shard I/N | --shards N] [--jobs J] [--force]: one pick (or rank) per video, each into DIR/<name>/,
// resumable, shardable, one JSON line per video on standard output.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/BatchPlan.h"
#include "cli/BatchResult.h"
#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/PickJob.h"

namespace {

const char kUsage[] =
    "usage: tessaron-cli batch -o DIR (pick's rule and options | --rank [--score S] [--quality Q] [--box B])\n"
    "                          [VIDEO...] [--files-from LIST] [--manifest FILE] [--shard I/N | --shards N]\n"
    "                          [--jobs J] [--force]\n"
    "\n"
    "Runs tessaron-cli pick (with any of its options; see 'tessaron-cli pick --help') or, with --rank,\n"
    "the scoring alone on every video, each into a folder of its own: DIR/<id>/, or DIR/<stem>/ with -2,\n"
    "-3, ... after a name already taken. The folder holds the images and frames.csv, scores.csv (every\n"
    "frame's score in frame order: frame,time,rank,score[,jpegBytes]) and result.json (what was done:\n"
    "the parameters, their hash, the program version, the picks), which is written last; the folder\n"
    "appears whole, in one rename.\n"
    "  VIDEO...          videos to run, in the order given with the lists; a relative path in a list or\n"
    "                    manifest is taken from the current folder\n"
    "  --files-from LIST one path a line; - reads standard input\n"
    "  --manifest FILE   CSV lines path[,id][,from][,to] (an optional header names the columns), or a\n"
    "                    JSON array of {\"path\", \"id\", \"from\", \"to\"}; from and to are frame numbers\n"
    "                    or times (4.5s, 300ms): only frames from `from` up to, not including, `to` are\n"
    "                    scored and picked\n"
    "  --shard I/N       only the videos whose position in the whole list is I modulo N. Without it, a\n"
    "                    Slurm job array's task (SLURM_ARRAY_TASK_ID of SLURM_ARRAY_TASK_COUNT) is the\n"
    "                    shard, or with --shards N, JOB_COMPLETION_INDEX of a Kubernetes indexed job\n"
    "  --jobs J          J videos at once (default 1; each already uses two threads or more)\n"
    "  --force           redo videos that are done\n"
    "A video whose result.json records the same parameters and the same video file (size, modification\n"
    "time) is skipped, a failed one too: running again would not mend it. A video that was stopped\n"
    "half-way is redone from its start; it leaves nothing behind but a DIR/.<name>.part folder, which\n"
    "the next run removes. One line of JSON per video goes to standard output:\n"
    "  {\"path\", \"id\", \"status\": \"ok|skipped|failed\", \"error\", \"frames\", \"unreadable\", \"picked\",\n"
    "   \"seconds\"}\n"
    "and a progress line to standard error when it is a terminal. Exit status: 0 every video ok or\n"
    "skipped; 1 some failed (unreadable or damaged videos: not worth another run); 2 a wrong command\n"
    "line, list or manifest; 75 some could not be written (a full disk, a folder not writable) or a\n"
    "signal stopped the batch: worth running again.\n";

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A list file's text; "-" is standard input.
bool ReadText(const std::string& path, std::string* text) {
    std::stringstream buffer;
    if (path == "-") {
        buffer << std::cin.rdbuf();
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) return false;
        buffer << file.rdbuf();
    }
    *text = buffer.str();
    return true;
}

// A video being run in a process of its own.
struct Running {
    pid_t pid = -1;
    int pipe = -1;  // its standard output line comes through here
    size_t video = 0;
    std::string line;
};

struct Tally {
    int ok = 0, skipped = 0, failed = 0, retry = 0;
    size_t done = 0;
};

void PrintLine(const cli::Json& line) {
    const std::string text = cli::JsonText(line, cli::JsonLayout::Compact) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int CmdBatch(const std::vector<std::string>& args) {
    cli::PickJob job;
    job.image.command = "batch";
    std::string root;
    bool rank = false, force = false, haveShard = false;
    int32_t jobs = 1, shards = 0;
    cli::Shard shard;
    std::vector<cli::BatchVideo> videos;
    std::string listError;
    cli::CommandLine line{"batch", kUsage, {}, {}};
    cli::AddPickOptions(line, job);
    line.options.push_back({"-o", nullptr, "a folder", [&](const std::string& folder) {
                                root = folder;
                                return folder.empty() ? std::string("the output folder is empty") : std::string();
                            }});
    line.options.push_back(cli::Flag("--rank", &rank));
    line.options.push_back(cli::Flag("--force", &force));
    line.options.push_back({"--files-from", nullptr, "a file with one path a line", [&](const std::string& list) {
                                std::string text;
                                if (!ReadText(list, &text)) return "cannot read the list " + list;
                                cli::ReadPathList(text, &videos);
                                return std::string();
                            }});
    line.options.push_back({"--manifest", nullptr, "a CSV or JSON file", [&](const std::string& manifest) {
                                std::string text, error;
                                if (!ReadText(manifest, &text)) return "cannot read the manifest " + manifest;
                                return cli::ReadManifest(text, manifest, &videos, &error) ? std::string() : error;
                            }});
    line.options.push_back({"--shard", nullptr, "I/N, such as 0/4", [&](const std::string& value) {
                                haveShard = cli::ParseShard(value, &shard);
                                return haveShard ? std::string() : "'" + value + "' is not a shard I/N with 0 <= I < N";
                            }});
    line.options.push_back({"--shards", nullptr, "a number of shards", [&](const std::string& value) {
                                return cli::ParseInt32(value, &shards) && shards >= 1
                                           ? std::string()
                                           : "'" + value + "' is not a positive number of shards";
                            }});
    line.options.push_back({"--jobs", "-j", "a number of videos at once", [&](const std::string& value) {
                                return cli::ParseInt32(value, &jobs) && jobs >= 1 && jobs <= 256
                                           ? std::string()
                                           : "'" + value + "' is not a number of jobs from 1 to 256";
                            }});
    line.positional = [&](const std::string& path) {
        cli::BatchVideo video;
        video.path = path;
        videos.push_back(std::move(video));
        return std::string();
    };
    if (const std::optional<int> status = cli::ParseCommandLine(line, args)) return *status;
    if (root.empty()) return cli::Usage("batch", "no output folder given (-o DIR)" + cli::TryHelp("batch"));
    if (const std::string bad = cli::CheckPickOptions(job, rank); !bad.empty())
        return cli::Usage("batch", bad + (rank ? "" : " (or --rank)") + cli::TryHelp("batch"));
    if (haveShard && shards) return cli::Usage("batch", "--shard and --shards cannot both be given");
    if (videos.empty()) return cli::Usage("batch", "no videos given" + cli::TryHelp("batch"));
    std::string error;
    if (!cli::NameVideos(videos, &error)) return cli::Usage("batch", error);
    if (!haveShard &&
        !cli::ShardFromEnvironment([](const char* name) { return std::getenv(name); }, shards, &shard, &error))
        return cli::Usage("batch", error);
    if (const int status = cli::MakeFolders("batch", root)) return status;

    std::vector<size_t> mine;
    for (size_t position = 0; position < videos.size(); ++position)
        if (cli::InShard(position, shard)) mine.push_back(position);

    // Each video runs in a process of its own (this one starts no thread before), so that a video
    // that brings its decoder down fails alone, and memory is given back after every video.
    cli::StopSignals stopSignals;
    std::signal(SIGPIPE, SIG_IGN);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    Tally tally;
    std::vector<Running> running;
    size_t next = 0;
    bool forwarded = false;
    const auto count = [&](const cli::Json& line, int status) {
        const std::string state = line.value("status", std::string());
        if (state == "ok") ++tally.ok;
        if (state == "skipped") ++tally.skipped;
        if (state == "failed") (status == cli::kExitTempFail ? tally.retry : tally.failed) += 1;
        ++tally.done;
        PrintLine(line);
        if (terminal)
            std::fprintf(stderr, "\r\033[Kbatch: %zu of %zu videos (%d ok, %d skipped, %d failed), %zu running",
                         tally.done, mine.size(), tally.ok, tally.skipped, tally.failed + tally.retry, running.size());
    };
    const auto finish = [&](Running& child) {
        int wstatus = 0;
        while (::waitpid(child.pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        ::close(child.pipe);
        const cli::BatchVideo& video = videos[child.video];
        cli::Json reported;
        std::string why;
        const bool exited = WIFEXITED(wstatus);
        if (exited && cli::ParseJson(child.line, &reported, &why) && reported.is_object()) {
            count(reported, WEXITSTATUS(wstatus));
            return;
        }
        // It died without a word: a signal from outside (killed, out of memory) is worth another run;
        // a crash is the video's fault and is recorded as such.
        const int signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
        const bool fromOutside = signal == SIGKILL || signal == SIGTERM || signal == SIGINT || signal == SIGHUP;
        std::string error = signal ? "the process running it ended by signal " + std::to_string(signal) + " (" +
                                         strsignal(signal) + ")"
                                   : "the process running it ended with status " +
                                         std::to_string(exited ? WEXITSTATUS(wstatus) : -1) + " and no result";
        cli::RemoveTree(cli::StagingFolder(root, video.name));
        int status = cli::kExitTempFail;
        if (!fromOutside && cli::RecordBatchFailure(job, rank, video, root, error)) status = cli::kExitFailed;
        cli::Fail("batch", video.path + ": " + error, status);
        count(cli::VideoLine(video, "failed", error, cli::Json(), cli::Json::array(), cli::Json::array(), 0), status);
    };

    while (next < mine.size() || !running.empty()) {
        while (running.size() < size_t(jobs) && next < mine.size() && !cli::StopSignals::Requested()) {
            const cli::BatchVideo& video = videos[mine[next]];
            const double start = Now();
            // What a run killed part-way left is removed first, whatever is decided.
            cli::RemoveTree(cli::StagingFolder(root, video.name));
            const cli::Json parameters = cli::BatchParameters(job, rank, video);
            const cli::BatchDecision decision = cli::DecideVideo(root + "/" + video.name,
                                                                 cli::ParametersHash(parameters),
                                                                 cli::SourceStamp(video.path), force);
            if (decision.action == cli::BatchAction::Skip) {
                count(cli::SkippedLine(video, decision.recorded, Now() - start), cli::kExitOk);
                ++next;
                continue;
            }
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) break;
            std::fflush(nullptr);
            const pid_t pid = ::fork();
            if (pid < 0) {
                ::close(fds[0]);
                ::close(fds[1]);
                break;
            }
            if (pid == 0) {
                ::close(fds[0]);
                // A signal ends the video at once (its writing loop stops cleanly on its own), and the
                // video ends with the batch, whatever ends that.
                for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
                ::prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (::getppid() == 1) ::_exit(cli::kExitTempFail);
                cli::Json reported;
                const int status = cli::RunBatchVideo(job, rank, video, root, &reported);
                const std::string text = cli::JsonText(reported, cli::JsonLayout::Compact);
                for (size_t at = 0; at < text.size();) {
                    const ssize_t n = ::write(fds[1], text.data() + at, text.size() - at);
                    if (n <= 0 && errno != EINTR) break;
                    if (n > 0) at += size_t(n);
                }
                std::fflush(nullptr);
                ::_exit(status);
            }
            ::close(fds[1]);
            running.push_back({pid, fds[0], mine[next], std::string()});
            ++next;
        }
        if (running.empty()) break;
        if (cli::StopSignals::Requested() && !forwarded) {
            for (const Running& child : running) ::kill(child.pid, SIGTERM);
            forwarded = true;
        }
        std::vector<pollfd> fds;
        for (const Running& child : running) fds.push_back({child.pipe, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 500) <= 0) continue;
        for (size_t i = running.size(); i-- > 0;) {
            if (!fds[i].revents) continue;
            char buffer[65536];
            const ssize_t n = ::read(running[i].pipe, buffer, sizeof buffer);
            if (n > 0) {
                running[i].line.append(buffer, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                Running child = std::move(running[i]);
                running.erase(running.begin() + std::ptrdiff_t(i));
                finish(child);
            }
        }
    }
    if (terminal) std::fputs("\r\033[K", stderr);
    if (next < mine.size()) {
        cli::Fail("batch",
                  std::to_string(mine.size() - next) + (mine.size() - next == 1 ? " video" : " videos") +
                      " not started: " +
                      (cli::StopSignals::Requested() ? "stopped by a signal"
                                                     : std::string("cannot start a process: ") + std::strerror(errno)),
                  cli::kExitTempFail);
        return cli::kExitTempFail;
    }
    if (tally.retry || cli::StopSignals::Requested()) return cli::kExitTempFail;
    return tally.failed ? cli::kExitFailed : cli::kExitOk;
}
