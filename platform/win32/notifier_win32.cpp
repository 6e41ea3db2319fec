#include "platform/win32/notifier_win32.h"

#include <cstring>

#include "platform/win32/error_win32.h"
#include "platform/win32/windows_win32.h"
#include <shellapi.h>

namespace fw {
namespace {

constexpr UINT kIconMessage = WM_APP + 1;
constexpr UINT kIconId = 1;
constexpr UINT_PTR kWaitTimer = 1;
constexpr UINT_PTR kInterruptTimer = 2;
constexpr UINT kInterruptLookMs = 200;
constexpr int kAppIconId = 128;
constexpr const char* kWindowClass = "FablewrightUpdateNotifier";
enum : UINT { kMenuUpdateNow = 1, kMenuLater, kMenuSkip };

struct NotifyState {
    const Notification* notification = nullptr;
    const std::function<bool()>* interrupted = nullptr;
    bool done = false;
    NotificationChoice choice = NotificationChoice::kNone;
};

void Choose(NotifyState& state, NotificationChoice choice) {
    state.choice = choice;
    state.done = true;
}

void ShowMenu(HWND window, NotifyState& state) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_STRING, kMenuUpdateNow, state.notification->updateNow.c_str());
    AppendMenuA(menu, MF_STRING, kMenuLater, state.notification->later.c_str());
    AppendMenuA(menu, MF_STRING, kMenuSkip, state.notification->skipVersion.c_str());
    SetMenuDefaultItem(menu, kMenuUpdateNow, FALSE);
    POINT at{};
    GetCursorPos(&at);
    // A menu of a notification icon closes when it loses the focus only if its owner is in
    // front; the message after it lets the menu go at once.
    SetForegroundWindow(window);
    UINT picked = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x,
                                                   at.y, 0, window, nullptr));
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    switch (picked) {
        case kMenuUpdateNow: Choose(state, NotificationChoice::kUpdateNow); break;
        case kMenuLater: Choose(state, NotificationChoice::kLater); break;
        case kMenuSkip: Choose(state, NotificationChoice::kSkipVersion); break;
        default: break;
    }
}

LRESULT CALLBACK NotifierProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<NotifyState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case kIconMessage:
            // The classic callback: the event is the low word of lParam.
            switch (LOWORD(lParam)) {
                case NIN_BALLOONUSERCLICK:
                case NIN_SELECT:
                case NIN_KEYSELECT:
                case WM_LBUTTONUP:
                    Choose(*state, NotificationChoice::kUpdateNow);
                    break;
                case WM_CONTEXTMENU:
                case WM_RBUTTONUP:
                    ShowMenu(window, *state);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_TIMER:
            if (wParam == kWaitTimer) state->done = true;
            if (wParam == kInterruptTimer && *state->interrupted && (*state->interrupted)()) {
                state->done = true;
            }
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void CopyText(char* target, std::size_t size, const std::string& text) {
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

// A command-line argument as the C runtime splits it again.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace

NetworkState Win32Notifier::Network() {
    // Whether a connection is metered is not something WinInet knows; the scheduled task runs
    // only when a network is available in any case.
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) ? NetworkState::kAvailable : NetworkState::kNone;
}

bool Win32Notifier::Show(const Notification& notification, std::uint32_t waitMs,
                         const std::function<bool()>& interrupted, NotificationChoice& choice,
                         std::string& error) {
    choice = NotificationChoice::kNone;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = NotifierProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when it is already registered
    NotifyState state;
    state.notification = &notification;
    state.interrupted = &interrupted;
    // A hidden window of our own receives the icon's messages.
    HWND window = CreateWindowExA(0, kWindowClass, notification.title.c_str(), WS_OVERLAPPED,
                                  0, 0, 0, 0, nullptr, nullptr, instance, &state);
    if (window == nullptr) {
        error = "no window for the notification icon: " + LastErrorText();
        return false;
    }
    struct WindowOwner {
        HWND window;
        ~WindowOwner() { DestroyWindow(window); }
    } owner{window};

    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = kIconId;
    icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE | NIF_INFO;
    icon.uCallbackMessage = kIconMessage;
    icon.hIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kAppIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    CopyText(icon.szTip, sizeof icon.szTip, notification.title);
    CopyText(icon.szInfoTitle, sizeof icon.szInfoTitle, notification.title);
    CopyText(icon.szInfo, sizeof icon.szInfo, notification.body);
    icon.dwInfoFlags = NIIF_INFO;
    if (!Shell_NotifyIconA(NIM_ADD, &icon)) {
        error = "the notification area took no icon";
        if (icon.hIcon != nullptr) DestroyIcon(icon.hIcon);
        return false;
    }
    SetTimer(window, kWaitTimer, waitMs, nullptr);
    SetTimer(window, kInterruptTimer, kInterruptLookMs, nullptr);
    MSG message;
    while (!state.done && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(window, kWaitTimer);
    KillTimer(window, kInterruptTimer);
    Shell_NotifyIconA(NIM_DELETE, &icon);
    if (icon.hIcon != nullptr) DestroyIcon(icon.hIcon);
    choice = state.choice;
    return true;
}

bool Win32Notifier::OpenWindow(const std::vector<std::string>& arguments, std::string& error) {
    char self[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = "the program's own file is unknown";
        return false;
    }
    std::string commandLine = Quoted(self);
    for (const std::string& a : arguments) commandLine += " " + Quoted(a);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        error = LastErrorText();
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

}  // namespace fw
