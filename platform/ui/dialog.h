#pragma once
// The dialog base class. A dialog knows its template, runs modally through its backend and
// receives the host's events through HandleMessage, which dispatches them through the derived
// class's static message table, with the classic defaults for OK, Cancel, system commands and
// painting.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/dialog_backend.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/message_map.h"
#include "platform/ui/wnd.h"

namespace fw {

class CDialog;

// The data exchange between a dialog's members and its controls.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate)
        : dialog(dialog), saveAndValidate(saveAndValidate) {}
    CDialog& dialog;
    const bool saveAndValidate;  // true: controls to members; false: members to controls
    bool failed = false;
    int lastControlId = 0;  // the control of the latest DDX_Text, which DDV_ checks refer to
};

void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, std::string& value);
// Follows the DDX_Text of an edit box: loading sets the box's limit; saving fails the exchange
// when the text is longer.
void DDV_MaxChars(CDataExchange* dx, const std::string& value, int maxChars);

// The dialog's system menu, as GetSystemMenu hands it out.
class CMenu {
public:
    CMenu(DialogBackend& backend, WindowHandle dialog) : backend(backend), dialog(dialog) {}
    void AppendMenu(unsigned flags, unsigned id = 0, std::string_view text = {});

private:
    DialogBackend& backend;
    WindowHandle dialog;
};

class CDialog : public CWnd {
public:
    CDialog(DialogBackend& backend, const DialogTemplate& dialogTemplate,
            const CDialog* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns the value given to EndDialog, or -1 when the window
    // could not be created. The window is destroyed (DestroyWindow) before this returns.
    virtual std::intptr_t DoModal();
    void EndDialog(std::intptr_t result);
    virtual bool DestroyWindow();

    virtual bool OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    virtual void OnOK();
    virtual void OnCancel();
    bool UpdateData(bool saveAndValidate = true);

    void SetDlgItemText(int id, std::string_view text);
    std::string GetDlgItemText(int id) const;
    CWnd GetDlgItem(int id) const { return CWnd(&backend(), dialog, id); }
    void GotoDlgCtrl(const CWnd& control);
    unsigned SetTimer(unsigned timerId, unsigned milliseconds);
    bool KillTimer(unsigned timerId);
    // The system menu, or nullptr when the window has none. The menu lives as long as the dialog.
    CMenu* GetSystemMenu(bool revert);
    int MessageBox(std::string_view text, std::string_view caption, unsigned type);
    bool IsIconic() const;

    const DialogTemplate& GetTemplate() const { return dialogTemplate; }
    DialogBackend& backend() const { return *dialogBackend; }
    WindowHandle GetSafeHwnd() const { return dialog; }

    // Host side: binds the window, lets the dialog initialise, reports events.
    void AttachWindow(WindowHandle window);
    bool HandleInitDialog();  // returns OnInitDialog's result
    // Returns the icon for kQueryDragIcon, nullptr otherwise.
    IconHandle HandleMessage(const Message& message);

protected:
    virtual DispatchResult DispatchMessageMap(const Message&) { return {}; }
    // Defaults for events that the table does not handle.
    virtual void DefaultSysCommand(unsigned command, std::intptr_t param);
    virtual void DefaultPaint();

private:
    DialogBackend* dialogBackend;
    const DialogTemplate& dialogTemplate;
    const CDialog* parent;
    std::optional<CMenu> systemMenu;
};

}  // namespace fw
