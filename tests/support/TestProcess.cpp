#include "tests/support/TestProcess.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <csignal>
#include <cstring>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestFiles.h"

namespace testsupport {
namespace {

int ExitStatus(int status) { return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

int RunCommand(const std::string& command) { return ExitStatus(std::system(command.c_str())); }

bool RunQuiet(const std::string& command) { return RunCommand(command + " >/dev/null 2>&1") == 0; }

CommandRun RunCapture(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    run.status = ExitStatus(::pclose(pipe));
    return run;
}

CommandRun RunCaptureAll(const std::string& command) {
    static std::atomic<int> counter{0};
    const std::string stem = Scratch("run-" + std::to_string(counter++));
    const std::string out = stem + ".out", err = stem + ".err";
    CommandRun run;
    run.status = RunCommand(command + " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null");
    run.out = ReadFileText(out);
    run.err = ReadFileText(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}

int RunInChildRaw(void* result, size_t size, long fileSizeLimit, const std::function<void(void*)>& body) {
    void* shared = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return -1;
    std::memcpy(shared, result, size);
    const pid_t child = ::fork();
    if (child == 0) {
        if (fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        body(shared);
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) status = -1;
    std::memcpy(result, shared, size);
    ::munmap(shared, size);
    return ExitStatus(status);
}

}  // namespace testsupport
