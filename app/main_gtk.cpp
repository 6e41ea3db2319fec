// The Linux desktop program: the portable dialog on the GTK host with the POSIX services.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "platform/curl/http_client_curl.h"
#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/gtk/system_gtk.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"

int main(int argc, char** argv) {
    if (!fw::GtkBackend::InitToolkit(&argc, &argv)) {
        std::fprintf(stderr, "fablewright-update: cannot open the display\n");
        return 1;
    }
    fw::GtkBackend ui;
    fw::GtkSystem system;
#ifdef FW_DEMO_AUTHORITY_VARIABLE
    // Only the demo's build (app/CMakeLists.txt) reads this.
    const char* demoAuthority = std::getenv(FW_DEMO_AUTHORITY_VARIABLE);
    fw::CurlHttpClient http(demoAuthority != nullptr ? demoAuthority : "");
#else
    fw::CurlHttpClient http;
#endif
    fw::PosixRegistry registry(fw::PosixRegistry::DefaultPath());
    fw::PosixFiles files;
    fw::PosixProcesses processes;
    fw::Platform platform{ui, http, registry, files, processes, system};
    fw::CUpdateDownloaderApp app(platform, argc, argv);
    app.InitInstance();
    return 0;
}
