// fw-download-gtk-bench: what the GTK host costs a download at full loopback speed. The main
// dialog downloads one large updater from the in-process loopback server, on the headless host
// and on the GTK host (a real window on the X display; run it under xvfb-run), taking turns to
// go first, in the same run. The transfer pumps the host before every 4096-byte block, so the
// difference of the two transfer times over the number of pumps is the GTK pump's cost per
// block. PumpMessages alone on the idle window (back to back, and 6 ms apart so that each call
// makes a whole pass), and a progress position that does not change, are timed too.
//
//   fw-download-gtk-bench [--repetitions N] [--size-mib N] [--dir DIR] [--json FILE]
//
// Each transfer is timed from the Download command to the last pump before the read that finds
// the end (the checksum of the whole file that follows is the same on both hosts). On the GTK
// host the command comes a timer tick after Check, when the window shows the list.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/download_stats.h"
#include "download/checksum.h"
#include "platform/curl/http_client_curl.h"
#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/gtk/system_gtk.h"
#include "platform/headless/headless_backend.h"
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

constexpr unsigned kStartTimer = 920;
constexpr std::size_t kBlock = 4096;
constexpr long kIdlePumps = 200000;
constexpr long kProgressCalls = 200000;
// Calls far enough apart that the host cannot skip any (it looks at most every 5 ms).
constexpr long kSpacedPumps = 300;
constexpr auto kPumpSpacing = std::chrono::milliseconds(6);

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool WriteAll(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

// A host, noting when it was last pumped and how often. Both hosts are timed through this
// same wrapper, so that the two clock readings around every pump weigh on both alike.
template <class Host>
class Timed : public Host {
  public:
    void PumpMessages() override {
        Clock::time_point before = Clock::now();
        Host::PumpMessages();
        ++pumps;
        lastPump = Clock::now();
        Clock::duration spent = lastPump - before;
        inPump += spent;
        // A call that returns at once takes well under a microsecond; anything longer made a
        // pass over the main context.
        if (spent > std::chrono::microseconds(2)) ++passes;
    }
    long pumps = 0;
    long passes = 0;
    Clock::duration inPump{};
    Clock::time_point lastPump{};
};

// The main dialog, started by a timer of its own once the window is on screen: the host's
// events are then being dispatched as in the program.
class BenchDownloaderDlg : public CUpdateDownloaderDlg {
  public:
    using CUpdateDownloaderDlg::CUpdateDownloaderDlg;
    std::function<bool()> onStart;  // true: done, the timer goes

    bool OnInitDialog() override {
        bool result = CUpdateDownloaderDlg::OnInitDialog();
        if (onStart) SetTimer(kStartTimer, 20);
        return result;
    }

  protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind == MessageKind::kTimer && message.id == static_cast<int>(kStartTimer)) {
            if (onStart && onStart()) KillTimer(kStartTimer);
            return {true, nullptr};
        }
        return CUpdateDownloaderDlg::DispatchMessageMap(message);
    }
};

struct Workbench {
    std::string root;
    std::uint64_t bytes = 0;

    bool Prepare(const std::string& parent, std::uint64_t sizeMiB) {
        bytes = sizeMiB << 20;
        std::random_device seed;
        root = (fs::path(parent) / ("fw-download-gtk-bench-" + std::to_string(seed()))).string();
        std::error_code error;
        fs::create_directories(root + "/server/UpDefs", error);
        fs::create_directories(root + "/server/files", error);
        fs::create_directories(root + "/install", error);
        if (error) return false;
        std::string served = root + "/server/files/bench.exe";
        {
            std::ofstream out(served, std::ios::binary);
            std::mt19937_64 random(42);
            std::vector<std::uint64_t> block((1u << 20) / sizeof(std::uint64_t));
            for (std::uint64_t done = 0; done < bytes; done += 1u << 20) {
                for (auto& word : block) word = random();
                out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
            }
            if (!out.flush()) return false;
        }
        PosixFiles files;
        std::uint32_t checksum = 0;
        if (!FileChecksum(files, served, checksum)) return false;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", checksum);
        PosixRegistry registry(root + "/registry.reg");
        std::unique_ptr<RegistryKey> key =
            registry.CreateKey(res::LoadString(res::kStrRegistryKey));
        return WriteAll(root + "/server/UpDefs/FablewrightUpdates.txt",
                        "version~4\nupdate~Bench~files/bench.exe~" + std::to_string(bytes) + "~" +
                            hex + "\n") &&
               WriteAll(root + "/install/Bench.gsi", "[Configuration]\r\nGameSystem=Bench\r\n") &&
               key && key->SetValue(res::LoadString(res::kStrInstallDirKey), root + "/install");
    }
    ~Workbench() {
        std::error_code ignored;
        if (!root.empty()) fs::remove_all(root, ignored);
    }
};

struct Services {
    CurlHttpClient http;
    PosixFiles files;
    PosixProcesses processes;
    std::unique_ptr<PosixRegistry> registry;
    GtkSystem system;
};

struct TransferRun {
    bool ok = false;
    double seconds = 0;  // Download command to the last pump
    long pumps = 0;
    double pumpSeconds = 0;  // GTK: inside PumpMessages
    long passes = 0;         // GTK: calls that made a pass over the main context
};

const Message kCheck{MessageKind::kCommand, res::kIdCheck, BN_CLICKED, 0};
const Message kDownload{MessageKind::kCommand, res::kIdDownload, BN_CLICKED, 0};

bool Downloaded(CUpdateDownloaderDlg& dlg) {
    return dlg.workflowState == WorkflowState::Downloaded && dlg.downloadedFiles.size() == 1;
}

TransferRun RunHeadless(Services& s, const std::string& host) {
    Timed<HeadlessBackend> ui;
    Platform platform{ui, s.http, *s.registry, s.files, s.processes, s.system, NoTrustedKeys()};
    const char* argv[] = {"fablewright-update", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    BenchDownloaderDlg dlg(platform, 5, argv);
    TransferRun run;
    ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow&) {
        dlg.HandleMessage(kCheck);
        long before = ui.pumps;
        Clock::time_point start = Clock::now();
        dlg.HandleMessage(kDownload);
        run.seconds = Seconds(ui.lastPump - start);
        run.pumps = ui.pumps - before;
        run.ok = Downloaded(dlg) && ui.unexpected.empty();
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    return run;
}

TransferRun RunGtk(Services& s, const std::string& host) {
    Timed<GtkBackend> ui;
    Platform platform{ui, s.http, *s.registry, s.files, s.processes, s.system, NoTrustedKeys()};
    const char* argv[] = {"fablewright-update", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    BenchDownloaderDlg dlg(platform, 5, argv);
    TransferRun run;
    bool checked = false;
    dlg.onStart = [&] {
        WindowHandle w = dlg.GetSafeHwnd();
        auto layout = ui.DescribeLayout(w);
        if (!ui.IsShown(w) || layout.empty() || layout.front().width <= 1) return false;
        // As a user would, Download comes a tick after Check, once the window has laid out and
        // painted the list: that frame is the check's, not the transfer's.
        if (!checked) {
            dlg.HandleMessage(kCheck);
            checked = true;
            return false;
        }
        long before = ui.pumps;
        long passesBefore = ui.passes;
        Clock::duration inPumpBefore = ui.inPump;
        Clock::time_point start = Clock::now();
        dlg.HandleMessage(kDownload);
        run.seconds = Seconds(ui.lastPump - start);
        run.pumps = ui.pumps - before;
        run.passes = ui.passes - passesBefore;
        run.pumpSeconds = Seconds(ui.inPump - inPumpBefore);
        run.ok = Downloaded(dlg) && !ui.ActiveMessageBox();
        dlg.EndDialog(IDCANCEL);
        return true;
    };
    dlg.DoModal();
    return run;
}

struct IdleCosts {
    double gtkPumpNs = 0;      // back to back, as a fast transfer calls it
    double gtkFullPassNs = 0;  // each call after a pause: a whole pass over the main context
    double headlessPumpNs = 0;
    double gtkProgressNs = 0;  // ProgressSetPos to the position the bar already has
};

// PumpMessages alone, on the main window shown and idle, and an unchanged progress position.
IdleCosts MeasureIdle(Services& s, const std::string& host) {
    IdleCosts costs;
    GtkBackend ui;
    Platform platform{ui, s.http, *s.registry, s.files, s.processes, s.system, NoTrustedKeys()};
    const char* argv[] = {"fablewright-update", "-server", host.c_str(), "-infoserver",
                          host.c_str()};
    BenchDownloaderDlg dlg(platform, 5, argv);
    int settled = 0;
    dlg.onStart = [&] {
        WindowHandle w = dlg.GetSafeHwnd();
        auto layout = ui.DescribeLayout(w);
        if (!ui.IsShown(w) || layout.empty() || layout.front().width <= 1) return false;
        if (++settled < 10) return false;  // the first frames have been drawn
        Clock::time_point start = Clock::now();
        for (long i = 0; i < kIdlePumps; ++i) ui.PumpMessages();
        costs.gtkPumpNs = Seconds(Clock::now() - start) * 1e9 / kIdlePumps;
        Clock::duration spent{};
        for (long i = 0; i < kSpacedPumps; ++i) {
            std::this_thread::sleep_for(kPumpSpacing);
            Clock::time_point before = Clock::now();
            ui.PumpMessages();
            spent += Clock::now() - before;
        }
        costs.gtkFullPassNs = Seconds(spent) * 1e9 / kSpacedPumps;
        start = Clock::now();
        for (long i = 0; i < kProgressCalls; ++i) ui.ProgressSetPos(w, res::kIdFileProgress, 0);
        costs.gtkProgressNs = Seconds(Clock::now() - start) * 1e9 / kProgressCalls;
        ui.PumpMessages();
        dlg.EndDialog(IDCANCEL);
        return true;
    };
    dlg.DoModal();

    HeadlessBackend headless;
    Clock::time_point start = Clock::now();
    for (long i = 0; i < kIdlePumps; ++i) headless.PumpMessages();
    costs.headlessPumpNs = Seconds(Clock::now() - start) * 1e9 / kIdlePumps;
    return costs;
}

// One row in the shape of a Google Benchmark median, for bench/run.sh's table; `rateName` empty:
// a row without a rate.
std::string Row(const std::string& name, int repetitions, double realTime, const char* unit,
                const std::string& rateName, double rate) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "{\"run_name\":\"BM_%s\",\"aggregate_name\":\"median\",\"repetitions\":%d,"
                  "\"real_time\":%.3f,\"time_unit\":\"%s\"",
                  name.c_str(), repetitions, realTime, unit);
    std::string row = text;
    if (!rateName.empty()) {
        std::snprintf(text, sizeof text, ",\"%s\":%.0f", rateName.c_str(), rate);
        row += text;
    }
    return row + "}";
}

struct Options {
    int repetitions = 5;
    std::uint64_t sizeMiB = 256;
    std::string dir;
    std::string jsonFile;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        if (i + 1 >= argc) return false;
        std::string_view value = argv[++i];
        std::optional<double> number = ParseSeconds(value);
        if (flag == "--repetitions") {
            if (!number || *number < 1 || *number > 1000) return false;
            options.repetitions = static_cast<int>(*number);
        } else if (flag == "--size-mib") {
            if (!number || *number < 1 || *number > 2047) return false;  // signed 32-bit sizes
            options.sizeMiB = static_cast<std::uint64_t>(*number);
        } else if (flag == "--dir") {
            options.dir = value;
        } else if (flag == "--json") {
            options.jsonFile = value;
        } else {
            return false;
        }
    }
    return true;
}

int Run(const Options& options) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0' || !GtkBackend::InitToolkit(nullptr, nullptr)) {
        std::fputs("fw-download-gtk-bench: no X display; run it under xvfb-run\n", stderr);
        return 1;
    }
    Workbench bench;
    std::string parent = options.dir.empty() ? fs::temp_directory_path().string() : options.dir;
    if (!bench.Prepare(parent, options.sizeMiB)) {
        std::fprintf(stderr, "cannot prepare %s\n", bench.root.c_str());
        return 1;
    }
    UpdateServer server(bench.root + "/server");
    if (!server.Start(0)) {
        std::fputs("the loopback server did not start\n", stderr);
        return 1;
    }
    Services s;
    s.registry = std::make_unique<PosixRegistry>(bench.root + "/registry.reg");
    if (!s.http.Startup()) return 1;
    std::string host = server.HostText();

    std::vector<double> headless;
    std::vector<double> gtk;
    std::vector<double> ratios;      // GTK rate / headless rate, per repetition
    std::vector<double> perBlockUs;  // (GTK - headless) / pumps, per repetition
    std::vector<double> pumpsPerRun;
    std::vector<double> pumpMs;  // GTK: time inside PumpMessages per transfer
    std::vector<double> passesPerRun;
    for (int i = 0; i < options.repetitions; ++i) {
        TransferRun h;
        TransferRun g;
        auto one = [&](bool onGtk) {
            std::error_code ignored;
            fs::remove_all(bench.root + "/install/temp", ignored);
            TransferRun run = onGtk ? RunGtk(s, host) : RunHeadless(s, host);
            (onGtk ? g : h) = run;
            return run.ok;
        };
        bool gtkFirst = i % 2 == 1;
        if (!(one(gtkFirst) && one(!gtkFirst))) {
            std::fputs("a download did not complete\n", stderr);
            return 1;
        }
        headless.push_back(h.seconds);
        gtk.push_back(g.seconds);
        ratios.push_back(h.seconds / g.seconds);
        perBlockUs.push_back((g.seconds - h.seconds) * 1e6 / static_cast<double>(g.pumps));
        pumpsPerRun.push_back(static_cast<double>(g.pumps));
        pumpMs.push_back(g.pumpSeconds * 1e3);
        passesPerRun.push_back(static_cast<double>(g.passes));
    }
    std::error_code ignored;
    fs::remove_all(bench.root + "/install/temp", ignored);
    IdleCosts idle = MeasureIdle(s, host);
    server.Stop();

    std::string size = std::to_string(options.sizeMiB) + "MiB";
    Spread hs = SpreadOf(headless);
    Spread gs = SpreadOf(gtk);
    Spread ratio = SpreadOf(ratios);
    Spread cost = SpreadOf(perBlockUs);
    Spread pumps = SpreadOf(pumpsPerRun);
    Spread inPump = SpreadOf(pumpMs);
    Spread passes = SpreadOf(passesPerRun);
    std::printf("%s transfer over loopback, %d repetitions, medians (spread of the rates):\n",
                size.c_str(), options.repetitions);
    std::printf("  %-36s %9.1f ms  %7.0f MB/s  (%.0f to %.0f)\n", "headless host", hs.median * 1e3,
                MegabytesPerSecond(bench.bytes, hs.median),
                MegabytesPerSecond(bench.bytes, hs.high), MegabytesPerSecond(bench.bytes, hs.low));
    std::printf("  %-36s %9.1f ms  %7.0f MB/s  (%.0f to %.0f)\n", "GTK host", gs.median * 1e3,
                MegabytesPerSecond(bench.bytes, gs.median),
                MegabytesPerSecond(bench.bytes, gs.high), MegabytesPerSecond(bench.bytes, gs.low));
    std::printf("  %-36s %9.2fx  (%.2f to %.2f)\n", "GTK / headless rate", ratio.median, ratio.low,
                ratio.high);
    std::printf("  %-36s %9.3f us (%.3f to %.3f), %.0f pumps (%zu blocks)\n",
                "GTK cost per pumped block", cost.median, cost.low, cost.high, pumps.median,
                static_cast<std::size_t>(bench.bytes / kBlock));
    std::printf("  %-36s %9.1f ms (%.1f to %.1f) in %.0f passes over the main context\n",
                "GTK transfer: time inside the pump", inPump.median, inPump.low, inPump.high,
                passes.median);
    std::printf("  %-36s %9.3f us\n", "GTK PumpMessages, idle window", idle.gtkPumpNs / 1e3);
    std::printf("  %-36s %9.3f us\n", "GTK PumpMessages, idle, 6 ms apart",
                idle.gtkFullPassNs / 1e3);
    std::printf("  %-36s %9.3f us\n", "headless PumpMessages", idle.headlessPumpNs / 1e3);
    std::printf("  %-36s %9.3f us\n", "GTK ProgressSetPos, unchanged", idle.gtkProgressNs / 1e3);
    std::fflush(stdout);

    if (!options.jsonFile.empty()) {
        int r = options.repetitions;
        std::vector<std::string> rows = {
            Row("GtkDownload" + size + "_Headless", r, hs.median * 1e3, "ms", "bytes_per_second",
                MegabytesPerSecond(bench.bytes, hs.median) * 1e6),
            Row("GtkDownload" + size + "_Gtk", r, gs.median * 1e3, "ms", "bytes_per_second",
                MegabytesPerSecond(bench.bytes, gs.median) * 1e6),
            Row("GtkDownload" + size + "_CostPerBlock", r, cost.median, "us", "", 0),
            Row("GtkDownload" + size + "_TimeInPump", r, inPump.median, "ms", "", 0),
            Row("GtkPumpIdle", 1, idle.gtkPumpNs, "ns", "items_per_second",
                idle.gtkPumpNs > 0 ? 1e9 / idle.gtkPumpNs : 0),
            Row("GtkPumpIdleFullPass", 1, idle.gtkFullPassNs, "ns", "items_per_second",
                idle.gtkFullPassNs > 0 ? 1e9 / idle.gtkFullPassNs : 0),
            Row("GtkProgressSetPosUnchanged", 1, idle.gtkProgressNs, "ns", "items_per_second",
                idle.gtkProgressNs > 0 ? 1e9 / idle.gtkProgressNs : 0),
        };
        char date[64];
        std::time_t now = std::time(nullptr);
        std::tm utc{};
        if (const std::tm* t = std::gmtime(&now)) utc = *t;
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
        std::string json = "{\"context\":{\"date\":\"" + std::string(date) + "\"},\"benchmarks\":[";
        for (std::size_t i = 0; i < rows.size(); ++i) json += (i ? ",\n" : "\n") + rows[i];
        json += "\n]}\n";
        if (!WriteAll(options.jsonFile, json)) return 1;
    }
    return 0;
}

}  // namespace
}  // namespace fw::bench

int main(int argc, char** argv) {
    fw::bench::Options options;
    if (!fw::bench::ParseOptions(argc, argv, options)) {
        std::fputs(
            "usage: fw-download-gtk-bench [--repetitions N] [--size-mib N] [--dir DIR] "
            "[--json FILE]\n",
            stderr);
        return 2;
    }
    return fw::bench::Run(options);
}
