#include "tests/support/fault_env.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace fw::test {

struct FileSizeLimit::Saved {
    rlimit limit{};
    struct sigaction action {};
};

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    auto previous = std::make_unique<Saved>();
    if (getrlimit(RLIMIT_FSIZE, &previous->limit) != 0) return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGXFSZ, &ignore, &previous->action) != 0) return;
    rlimit limit = previous->limit;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        sigaction(SIGXFSZ, &previous->action, nullptr);
        return;
    }
    saved = std::move(previous);
}

FileSizeLimit::~FileSizeLimit() {
    if (!saved) return;
    setrlimit(RLIMIT_FSIZE, &saved->limit);
    sigaction(SIGXFSZ, &saved->action, nullptr);
}

bool RunningAsRoot() { return geteuid() == 0; }

int RunUnprivileged(const std::function<void()>& body) {
    // The user "nobody" on Debian; no lookup, so the child needs no name service.
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kNogroup = 65534;
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0)) {
            _exit(2);
        }
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace fw::test
