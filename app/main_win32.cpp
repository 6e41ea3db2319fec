// The Windows program: the Win32 host and services around the portable application, or the
// console host for "-quietcheck" and "-unattended".

#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/app.h"
#include "app/builtin_keys.h"
#include "app/console_mode.h"
#include "platform/interrupts.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/dialog_backend_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/http_client_win32.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/system_win32.h"

namespace {

int RunConsole(const fw::ConsoleOptions& options) {
    fw::AttachParentConsole();
    std::unique_ptr<fw::InterruptWatch> interrupts = fw::WatchInterrupts();
    fw::ConsolePolicy policy = fw::DefaultConsolePolicy();
    if (interrupts) policy.interrupted = [&interrupts] { return interrupts->Requested(); };
    fw::Win32HttpClient http;
    fw::Win32Registry registry;
    fw::Win32Files files;
    fw::Win32Processes hostProcesses;
    fw::Win32System hostSystem;
    fw::ConsoleHost host(options, hostProcesses, hostSystem, std::cout, std::cerr, policy);
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    const fw::Platform platform{host.ui(), http, registry, files, host.processes(), host.system(),
                                trustedKeys};
    return host.Run(platform, __argc, __argv);
}

}  // namespace

int main() {
    fw::ConsoleOptions console = fw::ScanConsoleOptions(__argc, __argv);
    if (console.mode != fw::ConsoleMode::kWindow) return RunConsole(console);
    fw::Win32Backend ui;
    fw::Win32HttpClient http;
    fw::Win32Registry registry;
    fw::Win32Files files;
    fw::Win32Processes processes;
    fw::Win32System system;
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    const fw::Platform platform{ui, http, registry, files, processes, system, trustedKeys};
    // The runtime's own split of the command line, argument 0 being the program.
    fw::CUpdateDownloaderApp app(platform, __argc, __argv);
    app.InitInstance();
    return 0;
}
