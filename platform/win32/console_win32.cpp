#include "platform/win32/console_win32.h"

#include <cstdio>

#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

// Redirected output arrives as a valid handle even in a windowed program; leave it alone.
bool GoesSomewhere(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void AttachParentConsole() {
    bool outElsewhere = GoesSomewhere(STD_OUTPUT_HANDLE);
    bool errElsewhere = GoesSomewhere(STD_ERROR_HANDLE);
    if (outElsewhere && errElsewhere) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    // The streams stay open until the program ends; the runtime closes them then.
    if (!outElsewhere && std::freopen("CONOUT$", "w", stdout) == nullptr) return;
    if (!errElsewhere) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace fw
