// SIGINT and SIGTERM, blocked and read from a signalfd: no handler runs, so nothing needs a
// global, and a request is simply a readable descriptor. Threads started later inherit the
// mask; started programs get an empty one (processes_posix.cpp). A second request, seen at the
// next look, ends the process at once with 130, as a shell counts an interrupted program; an
// updater that is running is left to finish on its own.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <memory>

#include "platform/interrupts.h"

namespace fw {
namespace {

constexpr int kSecondRequestExitCode = 130;

class SignalWatch : public InterruptWatch {
  public:
    SignalWatch(int fd, const sigset_t& previous) : fd(fd), previous(previous) {}
    ~SignalWatch() override {
        // What came since the last look is taken now, so that unblocking does not deliver it.
        Requested();
        ::close(fd);
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    bool Requested() override {
        signalfd_siginfo info;
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            // Asked twice: the user will not wait for the safe point.
            if (requested) ::_exit(kSecondRequestExitCode);
            requested = true;
        }
        return requested;
    }

  private:
    int fd;
    sigset_t previous;
    bool requested = false;
};

}  // namespace

std::unique_ptr<InterruptWatch> WatchInterrupts() {
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &watched, &previous) != 0) return nullptr;
    int fd = ::signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) {
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return nullptr;
    }
    return std::make_unique<SignalWatch>(fd, previous);
}

}  // namespace fw
