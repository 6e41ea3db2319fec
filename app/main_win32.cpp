// The Windows program: the Win32 host and services around the portable application.

#include <cstdlib>

#include "app/app.h"
#include "app/builtin_keys.h"
#include "platform/win32/dialog_backend_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/http_client_win32.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/system_win32.h"

int main() {
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
