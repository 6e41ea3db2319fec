// fw-large-definitions-gtk: the main dialog on the GTK host (a real window on the X display; run
// it under xvfb-run) against definitions near their 16 MiB limit, every record for an installed
// template. It times the Check, the pruning at the start of Download (up to the first updater
// request, which the server answers with 404), and how long the window takes after each to
// have nothing left to do (a lowest-priority idle call runs), and reports the peak resident
// size of the process.
//
// With --download the updater is on the server, so that Download fetches it once and checks it
// again for every later record: the bench then times the whole Download, the longest the
// window went without answering its timer meanwhile, and the peak resident size after it.
//
//   fw-large-definitions-gtk [--lines N] [--served-by HOST DIR] [--download] [--short]
//
// --short writes the shortest records that name an installed template and a served updater
// ("update~B~b~100~<checksum>"), so that the most records fit in the 16 MiB limit.
//
// --lines defaults to 500000. With --served-by, the definitions are written under DIR (the root
// of a fablewright-update-server listening at HOST) instead of being served from this process,
// so that the peak resident size is the program's alone.

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "download/checksum.h"
#include "platform/curl/http_client_curl.h"
#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/gtk/system_gtk.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/ui/win_constants.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tools/update-server/update_server.h"

namespace fw::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kDriveTimer = 930;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

class DrivenDlg : public CUpdateDownloaderDlg {
  public:
    using CUpdateDownloaderDlg::CUpdateDownloaderDlg;
    std::function<void()> onDrive;

    bool OnInitDialog() override {
        bool result = CUpdateDownloaderDlg::OnInitDialog();
        SetTimer(kDriveTimer, 20);
        return result;
    }

  protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind == MessageKind::kTimer && message.id == static_cast<int>(kDriveTimer)) {
            if (onDrive) onDrive();
            return {true, nullptr};
        }
        return CUpdateDownloaderDlg::DispatchMessageMap(message);
    }
};

// Notes when the main context next has nothing else to do.
struct Settled {
    bool done = false;
    Clock::time_point at{};
    void Arm() {
        done = false;
        g_idle_add_full(
            G_PRIORITY_LOW,
            [](gpointer data) -> gboolean {
                auto* self = static_cast<Settled*>(data);
                self->done = true;
                self->at = Clock::now();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
    }
};

int Run(long lines, const std::string& externalHost, const std::string& externalRoot,
        bool download, bool shortRecords) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0' || !GtkBackend::InitToolkit(nullptr, nullptr)) {
        std::fputs("fw-large-definitions-gtk: no X display; run it under xvfb-run\n", stderr);
        return 1;
    }
    std::random_device seed;
    std::string root =
        (fs::temp_directory_path() / ("fw-large-definitions-" + std::to_string(seed()))).string();
    std::string served = externalRoot.empty() ? root + "/server" : externalRoot;
    fs::create_directories(served + "/UpDefs");
    fs::create_directories(root + "/install");
    PosixFiles files;
    {
        std::string checksum = "1";
        const std::string updater = shortRecords ? "b" : "files/b.exe";
        if (download) {
            fs::create_directories(served + "/files");
            std::ofstream(served + "/" + updater, std::ios::binary) << std::string(100, 'b');
            std::uint32_t sum = 0;
            if (!FileChecksum(files, served + "/" + updater, sum)) return 1;
            char hex[16];
            std::snprintf(hex, sizeof hex, "%x", sum);
            checksum = hex;
        }
        std::ofstream out(served + "/UpDefs/FablewrightUpdates.txt", std::ios::binary);
        out << "version~4\n";
        const std::string record = shortRecords ? "update~B~b~100~" + checksum + "\n"
                                                : "update~Bench~files/b.exe~100~" + checksum + "\n";
        for (long i = 0; i < lines; ++i) out << record;
        std::ofstream gsi(root + "/install/Bench.gsi", std::ios::binary);
        gsi << "[Configuration]\r\nGameSystem=" << (shortRecords ? "B" : "Bench") << "\r\n";
    }
    std::uintmax_t definitionsBytes = fs::file_size(served + "/UpDefs/FablewrightUpdates.txt");
    CurlHttpClient http;
    PosixProcesses processes;
    GtkSystem system;
    PosixRegistry registry(root + "/registry.reg");
    {
        std::unique_ptr<RegistryKey> key =
            registry.CreateKey(res::LoadString(res::kStrRegistryKey));
        if (!key || !key->SetValue(res::LoadString(res::kStrInstallDirKey), root + "/install")) {
            return 1;
        }
    }
    UpdateServer server(served);
    if (!http.Startup() || (externalHost.empty() && !server.Start(0))) return 1;
    std::string host = externalHost.empty() ? server.HostText() : externalHost;
    long baseKiB = PeakResidentKiB();

    GtkBackend gtk;
    Platform platform{gtk, http, registry, files, processes, system, NoTrustedKeys()};
    const char* argv[] = {"fablewright-update", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    DrivenDlg dlg(platform, 5, argv);
    enum class Step { kShown, kChecked, kPruning, kAnswered, kDone } step = Step::kShown;
    Settled settled;
    Clock::time_point checkStart{}, checkEnd{}, pruneStart{}, pruneEnd{};
    double checkSettle = 0, pruneSettle = 0;
    long rows = 0, checkKiB = 0;
    Clock::time_point lastDrive = Clock::now();
    Clock::duration longestGap{};
    dlg.onDrive = [&] {
        WindowHandle w = dlg.GetSafeHwnd();
        Clock::time_point now = Clock::now();
        if (step == Step::kPruning) longestGap = std::max(longestGap, now - lastDrive);
        lastDrive = now;
        switch (step) {
            case Step::kShown:
                if (!gtk.IsShown(w)) return;
                checkStart = Clock::now();
                dlg.HandleMessage({MessageKind::kCommand, res::kIdCheck, BN_CLICKED, 0});
                checkEnd = Clock::now();
                rows = gtk.ListCount(w, res::kIdUpdateList);
                settled.Arm();
                step = Step::kChecked;
                return;
            case Step::kChecked:
                if (!settled.done) return;
                checkSettle = Seconds(settled.at - checkEnd);
                checkKiB = PeakResidentKiB();
                // A real click: the driver runs from the window's event, and this timer goes on
                // firing in the loop of its first message box.
                if (!gtk.SimulateClick(w, res::kIdDownload)) return;
                pruneStart = Clock::now();
                step = Step::kPruning;
                return;
            case Step::kPruning:
                if (download ? !gtk.IsEnabled(w, res::kIdInstall) : !gtk.ActiveMessageBox()) {
                    return;
                }
                pruneEnd = Clock::now();
                step = Step::kAnswered;
                return;
            case Step::kAnswered:
                if (std::optional<GtkMessageBoxView> box = gtk.ActiveMessageBox()) {
                    gtk.AnswerMessageBox(box->answers.back());  // OK, No
                    return;
                }
                settled.Arm();
                step = Step::kDone;
                return;
            case Step::kDone:
                if (!settled.done) return;
                pruneSettle = Seconds(settled.at - pruneEnd);
                dlg.EndDialog(IDCANCEL);
                return;
        }
    };
    dlg.DoModal();
    if (externalHost.empty()) server.Stop();
    std::error_code ignored;
    fs::remove_all(root, ignored);
    std::printf("definitions: %ld update records, %.1f MiB; %ld rows listed\n", lines,
                static_cast<double>(definitionsBytes) / (1 << 20), rows);
    std::printf("  check (click to list filled)            %8.3f s\n",
                Seconds(checkEnd - checkStart));
    std::printf("  window idle after the check             %8.3f s later\n", checkSettle);
    std::printf(download ? "  download (click to Install enabled)     %8.3f s\n"
                         : "  prune (Download click to first request) %8.3f s\n",
                Seconds(pruneEnd - pruneStart));
    std::printf("  longest the window did not answer       %8.3f s\n", Seconds(longestGap));
    std::printf("  window idle after the first answer      %8.3f s later\n", pruneSettle);
    std::printf(
        "  peak resident: before the window %.1f MiB, after the check %.1f MiB, "
        "at the end %.1f MiB\n",
        static_cast<double>(baseKiB) / 1024, static_cast<double>(checkKiB) / 1024,
        static_cast<double>(PeakResidentKiB()) / 1024);
    return step == Step::kDone ? 0 : 1;
}

}  // namespace
}  // namespace fw::bench

int main(int argc, char** argv) {
    long lines = 500000;
    std::string host;
    std::string root;
    bool download = false;
    bool shortRecords = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        if (flag == "--lines" && i + 1 < argc) {
            lines = std::atol(argv[++i]);
        } else if (flag == "--served-by" && i + 2 < argc) {
            host = argv[++i];
            root = argv[++i];
        } else if (flag == "--download") {
            download = true;
        } else if (flag == "--short") {
            shortRecords = true;
        } else {
            lines = 0;
        }
    }
    if (lines <= 0) {
        std::fputs("usage: fw-large-definitions-gtk [--lines N] [--served-by HOST DIR] "
                   "[--download] [--short]\n",
                   stderr);
        return 2;
    }
    return fw::bench::Run(lines, host, root, download, shortRecords);
}
