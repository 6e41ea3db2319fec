#pragma once
// The application object: starts the HTTP layer, runs the main dialog modally and ends.

#include "platform/platform.h"

namespace fw {

class CUpdateDownloaderApp {
public:
    CUpdateDownloaderApp(const Platform& platform, int argc, const char* const* argv)
        : platform(platform), argc(argc), argv(argv) {}
    // Always false: the program ends when the dialog ends, without a message loop of its own.
    bool InitInstance();

private:
    const Platform& platform;
    int argc;
    const char* const* argv;
};

}  // namespace fw
