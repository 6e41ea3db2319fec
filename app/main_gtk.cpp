// The Linux desktop program: the portable dialog on the GTK host with the POSIX services, or
// on the console host for "-quietcheck" and "-unattended", which need no display.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/builtin_keys.h"
#include "app/console_mode.h"
#include "app/notify_mode.h"
#include "platform/curl/http_client_curl.h"
#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/gtk/notifier_gio.h"
#include "platform/gtk/system_gtk.h"
#include "platform/interrupts.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/system_posix.h"
#include "platform/posix/user_folders_posix.h"

namespace {

// The program's HTTP client. Only the demo's build (app/CMakeLists.txt) reads the demo's
// certificate authority; the program itself trusts the system's.
std::string Authority() {
#ifdef FW_DEMO_AUTHORITY_VARIABLE
    const char* demoAuthority = std::getenv(FW_DEMO_AUTHORITY_VARIABLE);
    return demoAuthority != nullptr ? demoAuthority : "";
#else
    return {};
#endif
}

int RunConsole(const fw::ConsoleOptions& options, int argc, char** argv) {
    // Before the network library can start a thread: threads inherit the blocked signals.
    std::unique_ptr<fw::InterruptWatch> interrupts = fw::WatchInterrupts();
    fw::ConsolePolicy policy = fw::DefaultConsolePolicy();
    if (interrupts) policy.interrupted = [&interrupts] { return interrupts->Requested(); };
    fw::PosixSystem hostSystem(fw::UserCacheFolder());
    fw::CurlHttpClient http(Authority());
    // A settings lock held elsewhere is not waited for once the run was asked to stop.
    fw::PosixRegistry registry(fw::PosixRegistry::DefaultPath(),
                               [&interrupts] { return interrupts && interrupts->Requested(); });
    fw::PosixFiles files;
    fw::PosixProcesses hostProcesses;
    fw::ConsoleHost host(options, hostProcesses, hostSystem, std::cout, std::cerr, policy);
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    fw::Platform platform{host.ui(), http, registry, files, host.processes(), host.system(),
                          trustedKeys};
    if (options.notify || options.scheduled) {
        fw::GioNotifier notifier;
        fw::NotifyRun run{notifier, policy.interrupted, std::cout, std::cerr,
                          fw::kNotificationWaitMs};
        return fw::RunNotifyingCheck(host, platform, options, run, argc, argv);
    }
    return host.Run(platform, argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    fw::ConsoleOptions console = fw::ScanConsoleOptions(argc, argv);
    if (console.schedule) {
        std::fprintf(stderr,
                     "fablewright-update: on Linux the daily check is the systemd user timer: "
                     "systemctl --user unmask|mask --now fablewright-update.timer\n");
        return 1;
    }
    if (console.mode != fw::ConsoleMode::kWindow || console.notify || console.scheduled) {
        return RunConsole(console, argc, argv);
    }
    if (!fw::GtkBackend::InitToolkit(&argc, &argv)) {
        std::fprintf(stderr, "fablewright-update: cannot open the display\n");
        return 1;
    }
    fw::GtkBackend ui;
    fw::GtkSystem system(fw::UserCacheFolder());
    fw::CurlHttpClient http(Authority());
    fw::PosixRegistry registry(fw::PosixRegistry::DefaultPath());
    fw::PosixFiles files;
    fw::PosixProcesses processes;
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    fw::Platform platform{ui, http, registry, files, processes, system, trustedKeys};
    fw::CUpdateDownloaderApp app(platform, argc, argv);
    app.InitInstance();
    return 0;
}
