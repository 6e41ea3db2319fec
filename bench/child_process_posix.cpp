#include "bench/child_process_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace fw::bench {
namespace {

class FileActions {
public:
    FileActions() { ok = posix_spawn_file_actions_init(&actions) == 0; }
    ~FileActions() {
        if (ok) posix_spawn_file_actions_destroy(&actions);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t actions;
    bool ok = false;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

}  // namespace

ChildRun RunChild(const std::vector<std::string>& argv, const std::string& stdoutFile) {
    ChildRun run;
    if (argv.empty()) return run;
    FileActions files;
    if (!files.ok) return run;
    if (!stdoutFile.empty() &&
        posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644) != 0) {
        return run;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &files.actions, nullptr, args.data(), environ) != 0) {
        return run;
    }
    run.started = true;
    int status = 0;
    rusage usage{};
    pid_t waited = 0;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    run.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (waited != pid) return run;
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.peakResidentKiB = usage.ru_maxrss;  // kilobytes on Linux
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    return run;
}

}  // namespace fw::bench
