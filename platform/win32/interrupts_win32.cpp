// Ctrl+C and Ctrl+Break at the console. The system calls the control handler on a thread of
// its own and gives it nothing but the event's kind, so the handler finds the watch's event by
// a name made of the process id: no global is needed. The console's close, a logoff and a
// shutdown keep their default handling (the process ends).

#include <cstdio>
#include <memory>

#include "platform/interrupts.h"
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

constexpr UINT kSecondRequestExitCode = 130;

void EventName(char (&name)[64]) {
    std::snprintf(name, sizeof name, "Local\\FablewrightUpdateInterrupt-%lu",
                  static_cast<unsigned long>(GetCurrentProcessId()));
}

BOOL WINAPI OnConsoleControl(DWORD kind) {
    if (kind != CTRL_C_EVENT && kind != CTRL_BREAK_EVENT) return FALSE;
    char name[64];
    EventName(name);
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
    if (event == nullptr) return FALSE;
    // Asked twice: the user will not wait for the safe point. The process ends at once with
    // the code a shell gives an interrupted program; an updater that runs is left alone.
    bool again = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    if (!again) SetEvent(event);
    CloseHandle(event);
    if (again) ExitProcess(kSecondRequestExitCode);
    return TRUE;
}

class ConsoleControlWatch : public InterruptWatch {
  public:
    explicit ConsoleControlWatch(HANDLE event) : event(event) {}
    ~ConsoleControlWatch() override {
        SetConsoleCtrlHandler(OnConsoleControl, FALSE);
        CloseHandle(event);
    }
    ConsoleControlWatch(const ConsoleControlWatch&) = delete;
    ConsoleControlWatch& operator=(const ConsoleControlWatch&) = delete;

    bool Requested() override { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

  private:
    HANDLE event;
};

}  // namespace

std::unique_ptr<InterruptWatch> WatchInterrupts() {
    char name[64];
    EventName(name);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name);
    if (event == nullptr) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS || !SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        CloseHandle(event);
        return nullptr;
    }
    return std::make_unique<ConsoleControlWatch>(event);
}

}  // namespace fw
