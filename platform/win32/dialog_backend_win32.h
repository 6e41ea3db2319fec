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

private:
    static constexpr std::chrono::milliseconds kPumpInterval{5};
    // Removes and dispatches every pending message.
    void PumpAll();
    // The control `id` of a dialog that this backend runs; id 0 is the dialog itself.
    WindowHandle Child(WindowHandle dialog, int id);

    std::set<WindowHandle> liveDialogs;
    std::map<std::pair<WindowHandle, int>, WindowHandle> controls;  // of the live dialogs
    std::chrono::steady_clock::time_point lastPumpEnd{};  // of the last whole pass
};

}  // namespace fw
