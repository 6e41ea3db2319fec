#include "tests/support/nginx_posix.h"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace fw::test {
namespace {

namespace fs = std::filesystem;

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

Nginx::Nginx(const std::string& root, const std::string& runDir, const std::string& serverLines)
    : runDir(runDir) {
    fs::create_directories(runDir);
    port = FreePort();
    std::ofstream conf(runDir + "/nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "error_log " << runDir << "/error.log;\npid " << runDir << "/nginx.pid;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n  log_format counted '$request_uri $status $body_bytes_sent';\n"
         << "  access_log " << runDir << "/access.log counted;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        conf << "  " << kind << "_temp_path " << runDir << "/" << kind << ";\n";
    }
    conf << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root << ";\n"
         << serverLines << "  }\n}\n";
    conf.close();
    std::string confPath = runDir + "/nginx.conf";
    std::string prefix = runDir + "/";
    const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", confPath.c_str(), nullptr};
    if (::posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        pid = -1;
        return;
    }
    for (int i = 0; i < 100 && !Accepts(port); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Nginx::~Nginx() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

bool Nginx::Running() const {
    return pid > 0 && Accepts(port);
}

std::vector<std::string> Nginx::Answers() const {
    std::ifstream log(runDir + "/access.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

}  // namespace fw::test
