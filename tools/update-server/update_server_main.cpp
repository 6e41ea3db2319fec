// fablewright-update-server: serves a folder as the update server (and accepts the update
// request) on the loopback interface until SIGINT or SIGTERM.

#include <charconv>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/update-server/server_posix.h"
#include "tools/update-server/test_authority.h"
#include "tools/update-server/update_server.h"
#include "tools/update-server/update_server_control.h"

namespace {

constexpr char kUsage[] =
    "usage: fablewright-update-server [--root DIR] [--port N] [--port-file FILE] [--log FILE]\n"
    "                                 [--fault PATH:SWITCH[,SWITCH...]]...\n"
    "                                 [--control PORT_FILE [--wine-prefix DIR]]\n"
    "                                 [--authority-out FILE [--tls CERTIFICATE]]\n"
    "  --root DIR        folder whose files are served (default: the current folder)\n"
    "  --port N          port on 127.0.0.1; 0 picks a free one (default: 0)\n"
    "  --port-file FILE  write the port listened on to FILE\n"
    "  --log FILE        append one JSON line per request to FILE\n"
    "  --fault SPEC      misbehave on one path; switches: status=N, truncate=N,\n"
    "                    stall=SECONDS@N, rate=BYTES_PER_SECOND, length=N, drop,\n"
    "                    endless, redirect=URL, retry-after=TEXT, ignore-range,\n"
    "                    wrong-range, no-validators, first=N (only the first N\n"
    "                    requests for PATH meet the fault)\n"
    "  --control FILE    for tests: also open a control port on 127.0.0.1 that creates\n"
    "                    and drives more servers; its port is written to FILE\n"
    "  --wine-prefix DIR the control clients run in this Wine prefix: their Windows\n"
    "                    paths are found through its drive letters\n"
    "  --authority-out FILE  make a test authority for this run and write its\n"
    "                    certificate to FILE (its key never leaves this process)\n"
    "  --tls CERTIFICATE serve over TLS with a certificate from that authority:\n"
    "                    trusted (for localhost), other-name, expired, unknown-authority\n";

struct Options {
    std::string root = ".";
    int port = 0;
    std::string portFile;
    std::string logFile;
    std::vector<std::pair<std::string, fw::ServerFault>> faults;
    std::string controlPortFile;
    std::string winePrefix;
    std::string authorityFile;
    fw::ServerCertificate tls = fw::ServerCertificate::kNone;
};

bool ParsePort(std::string_view text, int& port) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc{} && end == text.data() + text.size() && port >= 0 &&
           port <= 65535;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        if (i + 1 >= argc) return false;
        std::string_view value = argv[++i];
        if (flag == "--root") {
            options.root = value;
        } else if (flag == "--port") {
            if (!ParsePort(value, options.port)) return false;
        } else if (flag == "--port-file") {
            options.portFile = value;
        } else if (flag == "--log") {
            options.logFile = value;
        } else if (flag == "--control") {
            options.controlPortFile = value;
        } else if (flag == "--wine-prefix") {
            options.winePrefix = value;
        } else if (flag == "--authority-out") {
            options.authorityFile = value;
        } else if (flag == "--tls") {
            auto kind = fw::ParseServerCertificate(value);
            if (!kind) return false;
            options.tls = *kind;
        } else if (flag == "--fault") {
            auto fault = fw::ParseFaultSpec(value);
            if (!fault) {
                std::fprintf(stderr, "bad fault: %s\n", argv[i]);
                return false;
            }
            options.faults.push_back(std::move(*fault));
        } else {
            return false;
        }
    }
    // A prefix means nothing without the control port it serves, TLS nothing without an
    // authority.
    return (options.winePrefix.empty() || !options.controlPortFile.empty()) &&
           (options.tls == fw::ServerCertificate::kNone || !options.authorityFile.empty());
}

// Written whole under another name first, so a reader never sees a partial number.
bool WritePortFile(const std::string& file, int port) {
    std::string partial = file + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(partial.c_str(), file.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!fw::server::BlockStopSignals()) return 1;
    std::shared_ptr<const fw::TestAuthority> authority;
    if (!options.authorityFile.empty()) {
        authority = fw::TestAuthority::Create();
        if (!authority || !authority->WriteCertificate(options.authorityFile)) {
            std::fprintf(stderr, "cannot make the test authority\n");
            return 1;
        }
    }
    fw::UpdateServer server(options.root, options.logFile);
    server.UseTls(options.tls, authority);
    for (const auto& [path, fault] : options.faults) server.SetFault(path, fault);
    if (!server.Start(options.port)) {
        std::fprintf(stderr, "cannot serve %s on port %d\n", options.root.c_str(), options.port);
        return 1;
    }
    if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port())) return 1;
    fw::UpdateServerControl control(options.winePrefix, authority);
    if (!options.controlPortFile.empty()) {
        if (!control.Start(0)) {
            std::fputs("cannot open the control port\n", stderr);
            return 1;
        }
        if (!WritePortFile(options.controlPortFile, control.Port())) return 1;
        std::printf("control port %d\n", control.Port());
    }
    std::string address = server.HostText();
    if (address.find("://") == std::string::npos) address = "http://" + address;
    std::printf("serving %s on %s/\n", options.root.c_str(), address.c_str());
    std::fflush(stdout);
    fw::server::WaitForStopSignal();
    control.Stop();
    server.Stop();
    return 0;
}
