#pragma once
// The one interface a host implements to show our dialogs. The dialogs never see a toolkit
// type: a window is an opaque handle, a control is addressed by its dialog and its id.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui/dialog_template.h"

namespace fw {

class CDialog;

using WindowHandle = void*;    // a dialog window of the host; nullptr is none
using IconHandle = const void*;  // an icon loaded by the host; nullptr is none

struct ClientRect {
    int width = 0;
    int height = 0;
};

struct IconMetrics {
    int width = 32;
    int height = 32;
};

class DialogBackend {
public:
    virtual ~DialogBackend() = default;

    // Creates the dialog window from its template, owned by `owner` (may be none), binds it to
    // `dialog` with CDialog::AttachWindow, lets the dialog initialise (CDialog::HandleInitDialog)
    // and runs the modal loop until EndModal. The window still exists when this returns; the
    // dialog destroys it with DestroyDialog. Returns -1 when the window cannot be created.
    virtual std::intptr_t RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                                   WindowHandle owner) = 0;
    virtual void EndModal(WindowHandle dialog, std::intptr_t result) = 0;
    virtual void DestroyDialog(WindowHandle dialog) = 0;

    // Controls, addressed by dialog and control id. Id 0 is the dialog window itself.
    virtual void SetText(WindowHandle dialog, int id, std::string_view text) = 0;
    virtual std::string GetText(WindowHandle dialog, int id) = 0;
    virtual void Enable(WindowHandle dialog, int id, bool enable) = 0;
    virtual bool IsEnabled(WindowHandle dialog, int id) = 0;
    virtual void SetFocus(WindowHandle dialog, int id) = 0;
    virtual int GetFocus(WindowHandle dialog) = 0;  // id of the focused control, 0 when none

    // Push buttons and check boxes.
    virtual void SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool redraw) = 0;
    virtual unsigned GetButtonStyle(WindowHandle dialog, int id) = 0;
    virtual int GetButtonState(WindowHandle dialog, int id) = 0;  // BST_* bits
    virtual void SetCheck(WindowHandle dialog, int id, int check) = 0;

    // List boxes. Results as LB_* messages give them (LB_ERR is -1).
    virtual int ListInsert(WindowHandle dialog, int id, int index, std::string_view text) = 0;
    virtual int ListDelete(WindowHandle dialog, int id, int index) = 0;
    virtual void ListReset(WindowHandle dialog, int id) = 0;
    virtual int ListCount(WindowHandle dialog, int id) = 0;
    virtual int ListGetText(WindowHandle dialog, int id, int index, std::string& text) = 0;
    virtual int ListGetCurSel(WindowHandle dialog, int id) = 0;
    virtual int ListSetCurSel(WindowHandle dialog, int id, int index) = 0;

    // Progress bars (PBM_SETRANGE takes 16-bit limits) and edit boxes.
    virtual void ProgressSetRange(WindowHandle dialog, int id, int low, int high) = 0;
    virtual int ProgressSetPos(WindowHandle dialog, int id, int pos) = 0;  // previous position
    virtual void EditSetLimit(WindowHandle dialog, int id, int maxChars) = 0;

    // Timers report through CDialog::HandleMessage with MessageKind::kTimer.
    virtual bool SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) = 0;
    virtual bool KillTimer(WindowHandle dialog, unsigned timerId) = 0;

    // A modal message box owned by `owner` (may be none); returns the IDxxx of the answer.
    virtual int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                           unsigned type) = 0;

    // Removes and dispatches every pending event, then returns.
    virtual void PumpMessages() = 0;
    // Repaints whatever needs it and returns without taking any input: for waits on a server
    // during which the window must not look frozen, yet must not act on a click either. Hosts
    // without a screen have nothing to do.
    virtual void RepaintPending() {}
    // True once the user of a host without a window has asked the run to stop: a wait on a
    // server then ends at once. A window takes no input while it waits, so it never asks.
    virtual bool StopRequested() { return false; }

    // The system menu (the window menu). Choosing an item that we appended reaches the dialog
    // as MessageKind::kSysCommand with the item's id.
    virtual bool HasSystemMenu(WindowHandle dialog) = 0;
    virtual void AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                                  std::string_view text) = 0;
    virtual void DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t param) = 0;

    // Icons and painting.
    virtual IconHandle LoadIcon(int resourceId) = 0;
    virtual void SetIcon(WindowHandle dialog, IconHandle icon, bool big) = 0;
    virtual bool IsIconic(WindowHandle dialog) = 0;
    virtual ClientRect GetClientRect(WindowHandle dialog) = 0;
    virtual IconMetrics GetIconMetrics() = 0;
    // Paints the minimised window: erases the icon background and draws `icon` at x, y.
    virtual void PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) = 0;
    virtual void DefaultPaint(WindowHandle dialog) = 0;

    // The folder browser. `path` holds the initial folder (at most 259 characters) and
    // receives the chosen one; returns true when a folder with a file-system path was chosen.
    virtual bool BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) = 0;
};

}  // namespace fw
