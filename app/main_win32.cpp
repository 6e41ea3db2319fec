// The Windows program: the Win32 host and services around the portable application, or the
// console host for "-quietcheck" and "-unattended".

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/builtin_keys.h"
#include "app/console_mode.h"
#include "app/notify_mode.h"
#include "platform/interrupts.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/daily_task_win32.h"
#include "platform/win32/dialog_backend_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/http_client_win32.h"
#include "platform/win32/notifier_win32.h"
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
    fw::Win32System hostSystem(fw::UserCacheFolder());
    fw::ConsoleHost host(options, hostProcesses, hostSystem, std::cout, std::cerr, policy);
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    const fw::Platform platform{host.ui(), http, registry, files, host.processes(), host.system(),
                                trustedKeys};
    if (options.notify || options.scheduled) {
        fw::Win32Notifier notifier;
        fw::NotifyRun run{notifier, policy.interrupted, std::cout, std::cerr,
                          fw::kNotificationWaitMs};
        return fw::RunNotifyingCheck(host, platform, options, run, __argc, __argv);
    }
    return host.Run(platform, __argc, __argv);
}

// "-schedule on|off": the daily notifying check as the current user's task.
int SetSchedule(const std::string& value) {
    fw::AttachParentConsole();
    std::string error;
    if (value != "on" && value != "off") {
        std::cerr << "-schedule takes on or off.\n";
        return fw::kExitFailure;
    }
    bool on = value == "on";
    if (on ? !fw::RegisterDailyTask("-quietcheck -notify -scheduled", error)
           : !fw::RemoveDailyTask(error)) {
        std::cerr << "The daily check could not be turned " << value << ": " << error << '\n';
        return fw::kExitFailure;
    }
    std::cout << "The daily check (task \"" << fw::DailyTaskName() << "\") is " << value
              << ".\n";
    return fw::kExitSuccess;
}

}  // namespace

int main() {
    fw::ConsoleOptions console = fw::ScanConsoleOptions(__argc, __argv);
    if (console.schedule) return SetSchedule(*console.schedule);
    if (console.mode != fw::ConsoleMode::kWindow || console.notify || console.scheduled) {
        return RunConsole(console);
    }
    fw::Win32Backend ui;
    fw::Win32HttpClient http;
    fw::Win32Registry registry;
    fw::Win32Files files;
    fw::Win32Processes processes;
    fw::Win32System system(fw::UserCacheFolder());
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    const fw::Platform platform{ui, http, registry, files, processes, system, trustedKeys};
    // The runtime's own split of the command line, argument 0 being the program.
    fw::CUpdateDownloaderApp app(platform, __argc, __argv);
    app.InitInstance();
    return 0;
}
