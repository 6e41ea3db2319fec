#pragma once
// Our dialogs as native Win32 dialog boxes: each template becomes an in-memory DLGTEMPLATE
// that the dialog manager runs with DialogBoxIndirectParamA, and the dialog procedure turns
// window messages into the framework's events.
//
// The dialog manager destroys a modal dialog's window when DialogBoxIndirectParamA returns, so
// the window is already gone when RunModal returns; DestroyDialog then has nothing left to do.

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "platform/ui/dialog_backend.h"

namespace fw {

class Win32Backend : public DialogBackend {
public:
    Win32Backend();
    ~Win32Backend() override;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;

    std::intptr_t RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                           WindowHandle owner) override;
    void EndModal(WindowHandle dialog, std::intptr_t result) override;
    void DestroyDialog(WindowHandle dialog) override;

    void SetText(WindowHandle dialog, int id, std::string_view text) override;
    std::string GetText(WindowHandle dialog, int id) override;
    void Enable(WindowHandle dialog, int id, bool enable) override;
    bool IsEnabled(WindowHandle dialog, int id) override;
    void SetFocus(WindowHandle dialog, int id) override;
    int GetFocus(WindowHandle dialog) override;

    void SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool redraw) override;
    unsigned GetButtonStyle(WindowHandle dialog, int id) override;
    int GetButtonState(WindowHandle dialog, int id) override;
    void SetCheck(WindowHandle dialog, int id, int check) override;

    int ListInsert(WindowHandle dialog, int id, int index, std::string_view text) override;
    int ListDelete(WindowHandle dialog, int id, int index) override;
    void ListReset(WindowHandle dialog, int id) override;
    int ListCount(WindowHandle dialog, int id) override;
    int ListGetText(WindowHandle dialog, int id, int index, std::string& text) override;
    int ListGetCurSel(WindowHandle dialog, int id) override;
    int ListSetCurSel(WindowHandle dialog, int id, int index) override;

    void ProgressSetRange(WindowHandle dialog, int id, int low, int high) override;
    int ProgressSetPos(WindowHandle dialog, int id, int pos) override;
    void EditSetLimit(WindowHandle dialog, int id, int maxChars) override;

    bool SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) override;
    bool KillTimer(WindowHandle dialog, unsigned timerId) override;

    int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                   unsigned type) override;
    void PumpMessages() override;
    void RepaintPending() override;

    bool HasSystemMenu(WindowHandle dialog) override;
    void AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                          std::string_view text) override;
    void DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t param) override;

    IconHandle LoadIcon(int resourceId) override;
    void SetIcon(WindowHandle dialog, IconHandle icon, bool big) override;
    bool IsIconic(WindowHandle dialog) override;
    ClientRect GetClientRect(WindowHandle dialog) override;
    IconMetrics GetIconMetrics() override;
    void PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) override;
    void DefaultPaint(WindowHandle dialog) override;

    bool BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) override;

    // The dialog procedure's side: a window that this backend runs appears and disappears.
    void WindowCreated(WindowHandle dialog) { liveDialogs.insert(dialog); }
    void WindowDestroyed(WindowHandle dialog);
    bool IsLive(WindowHandle dialog) const { return liveDialogs.count(dialog) != 0; }
    // The text of the item under the mouse in `list` when the list box cuts it off, else empty;
    // valid until the next call.
    const std::string& ListTipText(WindowHandle list);
    // The dialog's bar timer: shows the positions whose pace allows it, and waits again for
    // the others.
    void ShowDueBars(WindowHandle dialog);
    // Not one of the dialog's own timers (those have small ids).
    static constexpr unsigned kBarTimer = 0xFB0BA12u;

private:
    // What a bar shows changes at most this often (each change is a value event for a screen
    // reader); the position the dialog set is kept and answered at once.
    struct PacedBar {
        int pos = 0;    // as set, within the range
        int shown = 0;  // what the control has
        int low = 0;
        int high = 0;
        std::chrono::steady_clock::time_point shownAt{};
        bool pending = false;
    };
    static constexpr std::chrono::milliseconds kBarPeriod{250};
    void ShowBar(WindowHandle dialog, int id, PacedBar& bar);

    static constexpr std::chrono::milliseconds kPumpInterval{5};
    static constexpr int kMaxRepaints = 64;
    // Text is never shrunk below this height in pixels to make it fit.
    static constexpr int kSmallestFontPixels = 8;
    // Removes and dispatches every pending message.
    void PumpAll();
    // The control `id` of a dialog that this backend runs; id 0 is the dialog itself.
    WindowHandle Child(WindowHandle dialog, int id);
    // Keeps the text of a static readable in the space the template gives it: wrapped text in a
    // slightly smaller font, one line with an ellipsis, and the whole text as a tooltip when it
    // still does not fit.
    void FitText(WindowHandle dialog, WindowHandle control, const std::string& text);
    // The dialog's font at `percent` of its size, made once per dialog.
    WindowHandle ScaledFont(WindowHandle dialog, WindowHandle baseFont, int percent);
    // Shows `text` when the mouse rests on `control` (none: empty text); with `askForText` the
    // tooltip asks the dialog for the text each time it shows.
    void SetToolTip(WindowHandle dialog, WindowHandle control, std::string_view text,
                    bool askForText = false);

    std::set<WindowHandle> liveDialogs;
    std::map<std::pair<WindowHandle, int>, WindowHandle> controls;  // of the live dialogs
    std::map<std::pair<WindowHandle, int>, WindowHandle> fonts;     // (dialog, percent), owned
    std::map<WindowHandle, WindowHandle> tooltips;                   // per dialog, which owns it
    std::map<std::pair<WindowHandle, int>, PacedBar> bars;  // of the live dialogs
    std::set<WindowHandle> tippedLists;
    std::string tipText;
    std::chrono::steady_clock::time_point lastPumpEnd{};  // of the last whole pass
};

}  // namespace fw
