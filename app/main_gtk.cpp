// The Linux desktop program: the portable dialog on the GTK host with the POSIX services.

#include <cstdio>

#include "app/app.h"
#include "app/builtin_keys.h"
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
    fw::CurlHttpClient http;
    fw::PosixRegistry registry(fw::PosixRegistry::DefaultPath());
    fw::PosixFiles files;
    fw::PosixProcesses processes;
    const fw::TrustedKeys trustedKeys = fw::BuiltInTrustedKeys();
    fw::Platform platform{ui, http, registry, files, processes, system, trustedKeys};
    fw::CUpdateDownloaderApp app(platform, argc, argv);
    app.InitInstance();
    return 0;
}
