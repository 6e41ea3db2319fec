// fw-download-wine-bench: the Windows build's side of bench/run_wine.sh. One measurement per
// process, reported as name=value lines on standard output:
//
//   fw-download-wine-bench prepare SERVER_ROOT INSTALL
//       definitions for SERVER_ROOT\files\bench.exe (its true size and checksum), a template
//       "Bench" in INSTALL, and the registry's install folder pointing there
//   fw-download-wine-bench product HOST:PORT
//       the real main dialog on the Win32 host, with the Win32 services: Check, then the timed
//       Download of the one update (request, transfer, the final checksum); the window is shown
//   fw-download-wine-bench loop HOST:PORT OBJECT BLOCK_BYTES
//       the plain WinInet read loop, timed
//
// The exit code is 0 only when the download was complete (and, for the product, verified).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "bench/wininet_loop_win32.h"
#include "download/checksum.h"
#include "platform/win32/dialog_backend_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/http_client_win32.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/system_win32.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"

namespace fw::bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

bool WriteText(Files& files, const std::string& path, std::string_view text) {
    std::unique_ptr<WritableFile> file = files.CreateFile(path);
    return file && file->Write(text.data(), text.size()) && file->Close();
}

int Prepare(const std::string& serverRoot, const std::string& install) {
    Win32Files files;
    std::string served = serverRoot + "\\files\\bench.exe";
    std::optional<FileStatus> status = files.Stat(served);
    std::uint32_t checksum = 0;
    if (!status || !FileChecksum(files, served, checksum)) {
        std::printf("error=cannot read %s\n", served.c_str());
        return 1;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", checksum);
    std::string definitions = "version~4\nupdate~Bench~files/bench.exe~" +
                              std::to_string(status->size) + "~" + hex + "\n";
    Win32Registry registry;
    std::unique_ptr<RegistryKey> key = registry.CreateKey(res::LoadString(res::kStrRegistryKey));
    if (!WriteText(files, serverRoot + "\\UpDefs\\FablewrightUpdates.txt", definitions) ||
        !WriteText(files, install + "\\Bench.gsi", "[Configuration]\r\nGameSystem=Bench\r\n") ||
        !key || !key->SetValue(res::LoadString(res::kStrInstallDirKey), install)) {
        std::puts("error=cannot write the definitions, the template or the registry");
        return 1;
    }
    std::printf("bytes=%lld\nchecksum=%s\n", static_cast<long long>(status->size), hex);
    return 0;
}

// The Win32 host as the program has it, noting when the transfer last pumped the window.
class TimedBackend : public Win32Backend {
public:
    void PumpMessages() override {
        if (downloading) lastPump = Clock::now();
        Win32Backend::PumpMessages();
    }
    bool downloading = false;
    Clock::time_point lastPump{};
};

// The main dialog with a script: once the window is up, a timer of its own clicks Check and
// then Download, as the dialog's own events, and ends the dialog.
class ScriptedDialog : public CUpdateDownloaderDlg {
public:
    ScriptedDialog(const Platform& platform, int argc, const char* const* argv, TimedBackend& ui)
        : CUpdateDownloaderDlg(platform, argc, argv), ui(ui) {}

    bool OnInitDialog() override {
        bool result = CUpdateDownloaderDlg::OnInitDialog();
        SetTimer(kScriptTimer, 50);
        return result;
    }

    bool listed = false;
    bool complete = false;
    Clock::time_point clicked{};
    Clock::time_point ended{};

protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind != MessageKind::kTimer || message.id != static_cast<int>(kScriptTimer)) {
            return CUpdateDownloaderDlg::DispatchMessageMap(message);
        }
        KillTimer(kScriptTimer);
        HandleMessage(Message{MessageKind::kCommand, res::kIdCheck, 0, 0});
        listed = workflowState == WorkflowState::Listed;
        if (listed) {
            ui.downloading = true;
            clicked = Clock::now();
            HandleMessage(Message{MessageKind::kCommand, res::kIdDownload, 0, 0});
            ended = Clock::now();
            ui.downloading = false;
            complete = workflowState == WorkflowState::Downloaded &&
                       GetDlgItemText(res::kIdStatus) == "Download complete.";
        }
        EndDialog(IDCANCEL);
        return DispatchResult{true, nullptr};
    }

private:
    static constexpr unsigned kScriptTimer = 0xB37C;
    TimedBackend& ui;
};

int RunProduct(const std::string& host) {
    TimedBackend ui;
    Win32HttpClient http;
    Win32Registry registry;
    Win32Files files;
    Win32Processes processes;
    Win32System system;
    const Platform platform{ui, http, registry, files, processes, system, NoTrustedKeys()};
    if (!http.Startup()) {
        std::puts("error=the HTTP layer did not start");
        return 1;
    }
    const char* argv[] = {"FablewrightUpdate.exe", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    ScriptedDialog dlg(platform, 5, argv, ui);
    dlg.DoModal();
    if (!dlg.listed || !dlg.complete || ui.lastPump < dlg.clicked) {
        std::printf("error=the download did not complete (listed %d, complete %d)\n",
                    dlg.listed ? 1 : 0, dlg.complete ? 1 : 0);
        return 1;
    }
    std::printf("total_seconds=%.6f\n", SecondsBetween(dlg.clicked, dlg.ended));
    std::printf("transfer_seconds=%.6f\n", SecondsBetween(dlg.clicked, ui.lastPump));
    return 0;
}

int RunLoop(const std::string& hostText, const std::string& object, std::uint32_t block) {
    std::string host;
    unsigned short port = 0;
    if (!SplitHostPort(hostText, host, port)) return 2;
    std::uint64_t bytes = 0;
    Clock::time_point start = Clock::now();
    bool ok = PlainWinInetLoop(host, port, object, block, bytes);
    Clock::time_point end = Clock::now();
    if (!ok) {
        std::puts("error=the plain WinInet loop failed");
        return 1;
    }
    std::printf("total_seconds=%.6f\nbytes=%llu\n", SecondsBetween(start, end),
                static_cast<unsigned long long>(bytes));
    return 0;
}

}  // namespace
}  // namespace fw::bench

int main(int argc, char** argv) {
    std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "prepare" && argc == 4) return fw::bench::Prepare(argv[2], argv[3]);
    if (mode == "product" && argc == 3) return fw::bench::RunProduct(argv[2]);
    if (mode == "loop" && argc == 5) {
        long block = std::atol(argv[4]);
        if (block < 1 || block > (16L << 20)) return 2;
        return fw::bench::RunLoop(argv[2], argv[3], static_cast<std::uint32_t>(block));
    }
    std::fputs("usage: fw-download-wine-bench prepare SERVER_ROOT INSTALL | product HOST:PORT |\n"
               "       loop HOST:PORT OBJECT BLOCK_BYTES\n",
               stderr);
    return 2;
}
