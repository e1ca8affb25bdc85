#include "tests/robustness/ChildProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cerrno>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace robustness {

namespace {

std::string ReadAll(int fd) {
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    return text;
}

int TempFile() {
    char pattern[] = "/tmp/tessaron-child-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0) ::unlink(pattern);
    return fd;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options) {
    ChildResult result;
    // Everything the child needs is built before the fork: after it only async-signal-safe calls run.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq ? size_t(eq - *e) : std::strlen(*e));
        bool replaced = false;
        for (const std::string& s : options.setEnv)
            if (s.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) env.emplace_back(*e);
    }
    env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
    std::vector<char*> envp, argv;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    for (std::string& s : words) argv.push_back(s.data());
    argv.push_back(nullptr);

    const int outFd = TempFile(), errFd = TempFile();
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (outFd < 0 || errFd < 0 || nullFd < 0) {
        for (int fd : {outFd, errFd, nullFd})
            if (fd >= 0) ::close(fd);
        return result;
    }
    const bool dropToNobody = options.unprivileged && ::geteuid() == 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(nullFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (options.fileSizeLimit >= 0) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGXFSZ, &ignore, nullptr);
            rlimit limit{rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(125);
        }
        if (dropToNobody && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (child > 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result.status = 128 + WTERMSIG(status);
        result.out = ReadAll(outFd);
        result.err = ReadAll(errFd);
    }
    ::close(outFd);
    ::close(errFd);
    ::close(nullFd);
    return result;
}

}  // namespace robustness
