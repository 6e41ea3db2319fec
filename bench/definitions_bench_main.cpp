// fw-definitions-bench: the check and the pruning of the largest definitions the program
// accepts, on the headless host with the real HTTP layer and files, against the loopback update
// server. Every record is for an installed template, so every one is listed.
//
//   fw-definitions-bench [--mib N] [--distinct]
//
// Definitions of N MiB (default 16, the limit, less a few bytes) of "update" records for the
// product's own system; with --distinct each record is for a template of its own, made
// installed by an "equiv" record. Prints the time of the Check click, the time from the
// Download click to the first transfer's message (the pruning), and the peak resident size.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/curl/http_client_curl.h"
#include "platform/headless/headless_backend.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/system_posix.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"
#include "tools/update-server/update_server.h"

namespace fw::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long StatusKiB(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
    }
    return 0;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int Run(std::uint64_t mib, bool distinct) {
    fs::path work = fs::temp_directory_path() / ("fw-definitions-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "install");
    fs::create_directories(work / "server/UpDefs");
    std::ofstream(work / "install/Fablewright.exe") << "MZ";
    {
        std::ofstream out(work / "server/UpDefs/FablewrightUpdates.txt", std::ios::binary);
        const std::uint64_t limit = mib * 1024 * 1024 - 64;
        std::uint64_t written = 0;
        std::string text;
        for (std::uint64_t i = 0;; ++i) {
            text.clear();
            std::string name = distinct ? "T" + std::to_string(i) : "Fablewright";
            if (distinct) text += "equiv~" + name + "~Fablewright\n";
            text += "update~" + name + "~files/u.exe~1000~1\n";
            if (written + text.size() > limit) break;
            out << text;
            written += text.size();
        }
        std::printf("definitions_bytes=%llu\n", static_cast<unsigned long long>(written));
    }

    UpdateServer server((work / "server").string());
    if (!server.Start(0)) return 1;
    HeadlessBackend ui;
    CurlHttpClient http;
    PosixFiles files;
    PosixRegistry registry((work / "registry.reg").string());
    PosixProcesses processes;
    PosixSystem system;
    Platform platform{ui, http, registry, files, processes, system, NoTrustedKeys()};
    if (!http.Startup()) return 1;
    registry.CreateKey("Software\\Corvallen\\Fablewright")
        ->SetValue("InstallDir", (work / "install").string());

    std::string host = server.HostText();
    const char* argv[] = {"fablewright-update", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    CUpdateDownloaderDlg dlg(platform, 5, argv);
    long before = StatusKiB("VmHWM:");
    Clock::time_point start;
    Clock::duration check{}, prune{};
    std::size_t listed = 0;
    ui.ExpectMessageBox([&](const ShownMessageBox&) {
        prune = Clock::now() - start;
        return IDOK;
    });
    ui.ExpectMessageBox(IDNO);
    ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
        start = Clock::now();
        w.Click(res::kIdCheck);
        check = Clock::now() - start;
        listed = w.Items(res::kIdUpdateList).size();
        std::printf("check_peak_resident_kib=%ld\n", StatusKiB("VmHWM:"));
        start = Clock::now();
        w.Click(res::kIdDownload);
        w.Click(res::kIdExit);
    });
    dlg.DoModal();
    server.Stop();
    fs::remove_all(work);
    std::printf("listed=%zu\ncheck_seconds=%.3f\nprune_seconds=%.3f\n", listed, Seconds(check),
                Seconds(prune));
    std::printf("peak_resident_kib_before=%ld\npeak_resident_kib=%ld\n", before,
                StatusKiB("VmHWM:"));
    return ui.unexpected.empty() ? 0 : 1;
}

}  // namespace
}  // namespace fw::bench

int main(int argc, char** argv) {
    std::uint64_t mib = 16;
    bool distinct = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--mib" && i + 1 < argc) {
            mib = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--distinct") {
            distinct = true;
        } else {
            std::fprintf(stderr, "usage: fw-definitions-bench [--mib N] [--distinct]\n");
            return 2;
        }
    }
    if (mib == 0 || mib > 16) return 2;
    return fw::bench::Run(mib, distinct);
}
