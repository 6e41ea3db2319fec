#pragma once
// Thin typed wrappers over the controls of a dialog. A wrapper is bound to its control by id in
// the dialog's DoDataExchange (DDX_Control); before that it addresses nothing and does nothing.

#include <string>
#include <string_view>

#include "platform/ui/dialog_backend.h"
#include "platform/ui/win_constants.h"

namespace fw {

class CWnd {
public:
    CWnd() = default;
    CWnd(DialogBackend* backend, WindowHandle dialog, int id)
        : backend(backend), dialog(dialog), id(id) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = default;
    CWnd& operator=(const CWnd&) = default;

    void Attach(DialogBackend* newBackend, WindowHandle newDialog, int newId) {
        backend = newBackend;
        dialog = newDialog;
        id = newId;
    }
    bool IsBound() const { return backend != nullptr && dialog != nullptr; }
    int GetDlgCtrlID() const { return id; }
    WindowHandle GetDialogHandle() const { return dialog; }

    // Returns whether the window was disabled before, as EnableWindow does.
    bool EnableWindow(bool enable = true);
    bool IsWindowEnabled() const;
    void SetFocus();
    void SetWindowText(std::string_view text);
    std::string GetWindowText() const;

protected:
    DialogBackend* backend = nullptr;
    WindowHandle dialog = nullptr;
    int id = 0;
};

class CStatic : public CWnd {};

class CButton : public CWnd {
public:
    int GetState() const;
    int GetCheck() const;
    void SetCheck(int check);
    void SetButtonStyle(unsigned style, bool redraw = true);
    unsigned GetButtonStyle() const;
};

class CListBox : public CWnd {
public:
    int InsertString(int index, std::string_view text);
    int AddString(std::string_view text) { return InsertString(-1, text); }
    int DeleteString(int index);  // remaining count, or LB_ERR
    void ResetContent();
    int GetCount() const;
    int GetText(int index, std::string& text) const;  // length, or LB_ERR
    int GetCurSel() const;
    int SetCurSel(int index);
    // Index of the first item at or after `startAfter + 1` (wrapping) whose text equals `text`
    // without regard to case, or LB_ERR; `startAfter` -1 searches from the top.
    int FindStringExact(int startAfter, std::string_view text) const;
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper);
    int SetPos(int pos);
};

class CEdit : public CWnd {
public:
    void SetLimitText(int maxChars);
};

}  // namespace fw
