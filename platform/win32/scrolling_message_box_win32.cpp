#include "platform/win32/scrolling_message_box_win32.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace fw {
namespace {

constexpr int kTextId = 100;
constexpr int kIconId = 101;

struct Button {
    int id;
    const char* label;
};

// What the dialog procedure needs; it lives on ScrollingMessageBox's stack while the box runs.
struct Box {
    std::string text;  // with CR LF line ends, as the edit control wants them
    std::vector<Button> buttons;
    std::size_t defaultButton = 0;
    int escapeAnswer = 0;  // 0: Esc does nothing
    WORD icon = 0;         // a system icon's id, or 0
};

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 64);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool Describe(unsigned type, Box& box) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            box.buttons = {{IDOK, "OK"}};
            box.escapeAnswer = IDOK;
            break;
        case MB_OKCANCEL:
            box.buttons = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
            box.escapeAnswer = IDCANCEL;
            break;
        case MB_YESNO:
            box.buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}};
            box.escapeAnswer = IDNO;  // a keyboard user's way out of a question
            break;
        case MB_YESNOCANCEL:
            box.buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
            box.escapeAnswer = IDCANCEL;
            break;
        default:
            return false;
    }
    std::size_t wanted = (type & MB_DEFMASK) >> 8;
    box.defaultButton = wanted < box.buttons.size() ? wanted : 0;
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND: box.icon = 32513; break;         // IDI_HAND
        case MB_ICONQUESTION: box.icon = 32514; break;     // IDI_QUESTION
        case MB_ICONEXCLAMATION: box.icon = 32515; break;  // IDI_EXCLAMATION
        case MB_ICONASTERISK: box.icon = 32516; break;     // IDI_ASTERISK
        default: break;
    }
    return true;
}

// A dialog template without controls: they are made once the box knows the screen and the
// font's size.
std::vector<WORD> Template(std::string_view caption, DWORD style) {
    std::vector<WORD> words;
    auto dword = [&](DWORD d) {
        words.push_back(static_cast<WORD>(d & 0xFFFFu));
        words.push_back(static_cast<WORD>(d >> 16));
    };
    auto text = [&](std::string_view s) {
        if (!s.empty() && s.size() < static_cast<std::size_t>(INT_MAX)) {
            int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
            std::vector<wchar_t> wide(static_cast<std::size_t>(std::max(n, 0)));
            MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), wide.data(), n);
            for (wchar_t c : wide) words.push_back(static_cast<WORD>(c));
        }
        words.push_back(0);
    };
    dword(style);
    dword(0);
    words.insert(words.end(), {0, 0, 0, 200, 100});  // no controls; x, y, cx, cy
    words.insert(words.end(), {0, 0});                // no menu, the dialog class
    text(caption);
    words.push_back(8);
    text("MS Shell Dlg");
    return words;
}

HWND Child(HWND dialog, const char* windowClass, const char* text, DWORD style, int id) {
    HWND child = CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                                 dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleA(nullptr), nullptr);
    SendMessageA(child, WM_SETFONT, static_cast<WPARAM>(SendMessageA(dialog, WM_GETFONT, 0, 0)),
                 FALSE);
    return child;
}

int Pixels(HWND dialog, int dialogUnits) {
    RECT r{0, 0, dialogUnits, dialogUnits};
    MapDialogRect(dialog, &r);
    return r.right;
}

// Lays the box out within two thirds of the work area of the screen it opens on: the text as
// wide as that allows, as tall as it needs up to that height (then it scrolls), the buttons
// centred below it.
void Lay(HWND dialog, const Box& box) {
    HMONITOR monitor = MonitorFromWindow(GetParent(dialog) != nullptr ? GetParent(dialog) : dialog,
                                         MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoA(monitor, &info);
    const RECT& work = info.rcWork;
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
    int frameWidth = frame.right - frame.left;
    int frameHeight = frame.bottom - frame.top;
    int clientWidth = (work.right - work.left) * 2 / 3 - frameWidth;
    int maxClientHeight = (work.bottom - work.top) * 2 / 3 - frameHeight;

    int margin = Pixels(dialog, 7);
    int gap = Pixels(dialog, 4);
    int buttonWidth = Pixels(dialog, 50);
    RECT buttonRect{0, 0, 50, 14};
    MapDialogRect(dialog, &buttonRect);
    int buttonHeight = buttonRect.bottom;
    int iconSize = box.icon != 0 ? GetSystemMetrics(SM_CYICON) : 0;
    int textLeft = margin + (iconSize > 0 ? iconSize + margin : 0);
    int textWidth = std::max(clientWidth - textLeft - margin, 1);

    HWND text = GetDlgItem(dialog, kTextId);
    MoveWindow(text, textLeft, margin, textWidth, maxClientHeight, FALSE);
    SetWindowTextA(text, box.text.c_str());
    // The height the wrapped text needs, line by line in the dialog's font.
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(text, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    LRESULT lines = SendMessageA(text, EM_GETLINECOUNT, 0, 0);
    int needed = static_cast<int>(std::min<LRESULT>(lines, 10000)) * metrics.tmHeight +
                 4 * GetSystemMetrics(SM_CYEDGE) + 2;
    int textHeight = std::max(std::min(needed, maxClientHeight - 3 * margin - buttonHeight),
                              iconSize);
    MoveWindow(text, textLeft, margin, textWidth, textHeight, FALSE);
    if (iconSize > 0) MoveWindow(GetDlgItem(dialog, kIconId), margin, margin, iconSize, iconSize, FALSE);

    int buttonTop = margin + textHeight + margin;
    int count = static_cast<int>(box.buttons.size());
    int left = (clientWidth - count * buttonWidth - (count - 1) * gap) / 2;
    for (const Button& b : box.buttons) {
        MoveWindow(GetDlgItem(dialog, b.id), left, buttonTop, buttonWidth, buttonHeight, FALSE);
        left += buttonWidth + gap;
    }
    int width = clientWidth + frameWidth;
    int height = buttonTop + buttonHeight + margin + frameHeight;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK BoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const Box* box = reinterpret_cast<const Box*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            box = reinterpret_cast<const Box*>(lParam);
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            if (box->icon != 0) {
                HWND icon = Child(dialog, "STATIC", nullptr, SS_ICON, kIconId);
                SendMessageA(icon, STM_SETICON,
                             reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(box->icon))),
                             0);
            }
            // No Tab stop, as the system box's text is none: a screen reader would find it
            // unnamed (under Wine nothing names an edit). A click still gives it the focus.
            HWND text = Child(dialog, "EDIT", nullptr,
                              WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                              kTextId);
            SendMessageA(text, EM_SETLIMITTEXT, 0, 0);
            for (std::size_t i = 0; i < box->buttons.size(); ++i) {
                const Button& b = box->buttons[i];
                DWORD style = WS_TABSTOP | (i == 0 ? WS_GROUP : 0) |
                              (i == box->defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
                Child(dialog, "BUTTON", b.label, style, b.id);
            }
            Lay(dialog, *box);
            int defaultId = box->buttons[box->defaultButton].id;
            SendMessageA(dialog, DM_SETDEFID, static_cast<WPARAM>(defaultId), 0);
            SetFocus(GetDlgItem(dialog, defaultId));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND: {
            if (box == nullptr) return FALSE;
            int id = LOWORD(wParam);
            // Esc and the close button come as IDCANCEL.
            if (id == IDCANCEL) {
                if (box->escapeAnswer != 0) EndDialog(dialog, box->escapeAnswer);
                return TRUE;
            }
            for (const Button& b : box->buttons) {
                if (b.id == id && HIWORD(wParam) == BN_CLICKED) {
                    EndDialog(dialog, id);
                    return TRUE;
                }
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

int ScrollingMessageBox(HWND owner, std::string_view text, std::string_view caption,
                        unsigned type) {
    Box box;
    if (!Describe(type, box)) return -1;
    box.text = WithCrLf(text);
    // Without Esc there is no close button either, as in the system's box.
    DWORD style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION |
                  (box.escapeAnswer != 0 ? WS_SYSMENU : 0);
    std::vector<WORD> words = Template(caption, style);
    INT_PTR answer = DialogBoxIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(words.data()), owner,
        BoxProc, reinterpret_cast<LPARAM>(&box));
    return answer > 0 && answer <= INT_MAX ? static_cast<int>(answer) : -1;
}

}  // namespace fw
