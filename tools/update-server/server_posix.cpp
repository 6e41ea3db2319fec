#include "tools/update-server/server_posix.h"

#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace fw::server {
namespace {

int PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &address, sizeof v4);
        return ntohs(v4.sin_port);
    }
    if (address.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &address, sizeof v6);
        return ntohs(v6.sin6_port);
    }
    return -1;
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void IgnoreBrokenPipes() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

void SetListeningSocketOptions(int socket) {
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool ShutDownConnection(int localPort, int remotePort) {
    // The HTTP library does not hand its sockets to request handlers, so the connection is
    // found among the process's open descriptors by its two ports.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::string name = entry.path().filename().string();
        int fd = -1;
        auto [end, status] = std::from_chars(name.data(), name.data() + name.size(), fd);
        if (status != std::errc{} || end != name.data() + name.size()) continue;
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localSize = sizeof local;
        socklen_t peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) continue;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) continue;
        if (PortOf(local) == localPort && PortOf(peer) == remotePort) {
            return shutdown(fd, SHUT_RDWR) == 0;
        }
    }
    return false;
}

bool BlockStopSignals() {
    sigset_t set = StopSignals();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForStopSignal() {
    sigset_t set = StopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

}  // namespace fw::server
