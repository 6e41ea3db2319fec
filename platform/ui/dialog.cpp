#include "platform/ui/dialog.h"

namespace fw {

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    CDialog& d = dx->dialog;
    control.Attach(&d.backend(), d.GetSafeHwnd(), id);
}

void DDX_Text(CDataExchange* dx, int id, std::string& value) {
    CDialog& d = dx->dialog;
    dx->lastControlId = id;
    if (dx->saveAndValidate) {
        value = d.GetDlgItemText(id);
    } else {
        d.SetDlgItemText(id, value);
    }
}

void DDV_MaxChars(CDataExchange* dx, const std::string& value, int maxChars) {
    if (dx->saveAndValidate) {
        if (maxChars >= 0 && value.size() > static_cast<size_t>(maxChars)) dx->failed = true;
    } else if (dx->lastControlId != 0) {
        CDialog& d = dx->dialog;
        d.backend().EditSetLimit(d.GetSafeHwnd(), dx->lastControlId, maxChars);
    }
}

void CMenu::AppendMenu(unsigned flags, unsigned id, std::string_view text) {
    backend.AppendSystemMenu(dialog, flags, id, text);
}

CDialog::CDialog(DialogBackend& backend, const DialogTemplate& dialogTemplate,
                 const CDialog* parent)
    : dialogBackend(&backend), dialogTemplate(dialogTemplate), parent(parent) {}

CDialog::~CDialog() = default;

std::intptr_t CDialog::DoModal() {
    WindowHandle owner = parent ? parent->GetSafeHwnd() : nullptr;
    std::intptr_t result = dialogBackend->RunModal(*this, dialogTemplate, owner);
    if (dialog != nullptr) DestroyWindow();
    return result;
}

void CDialog::EndDialog(std::intptr_t result) {
    if (dialog != nullptr) dialogBackend->EndModal(dialog, result);
}

bool CDialog::DestroyWindow() {
    if (dialog == nullptr) return false;
    WindowHandle window = dialog;
    dialog = nullptr;
    systemMenu.reset();
    dialogBackend->DestroyDialog(window);
    return true;
}

bool CDialog::OnInitDialog() { return UpdateData(false); }

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(&dx);
    return !dx.failed;
}

void CDialog::SetDlgItemText(int id, std::string_view text) {
    if (dialog != nullptr) dialogBackend->SetText(dialog, id, text);
}

std::string CDialog::GetDlgItemText(int id) const {
    return dialog != nullptr ? dialogBackend->GetText(dialog, id) : std::string();
}

void CDialog::GotoDlgCtrl(const CWnd& control) {
    if (dialog != nullptr) dialogBackend->SetFocus(dialog, control.GetDlgCtrlID());
}

unsigned CDialog::SetTimer(unsigned timerId, unsigned milliseconds) {
    if (dialog == nullptr) return 0;
    return dialogBackend->SetTimer(dialog, timerId, milliseconds) ? timerId : 0;
}

bool CDialog::KillTimer(unsigned timerId) {
    return dialog != nullptr && dialogBackend->KillTimer(dialog, timerId);
}

CMenu* CDialog::GetSystemMenu(bool) {
    if (dialog == nullptr || !dialogBackend->HasSystemMenu(dialog)) return nullptr;
    if (!systemMenu) systemMenu.emplace(*dialogBackend, dialog);
    return &*systemMenu;
}

int CDialog::MessageBox(std::string_view text, std::string_view caption, unsigned type) {
    return dialogBackend->MessageBox(dialog, text, caption, type);
}

bool CDialog::IsIconic() const { return dialog != nullptr && dialogBackend->IsIconic(dialog); }

void CDialog::AttachWindow(WindowHandle window) {
    dialog = window;
    Attach(dialogBackend, window, 0);
}

bool CDialog::HandleInitDialog() { return OnInitDialog(); }

IconHandle CDialog::HandleMessage(const Message& message) {
    DispatchResult r = DispatchMessageMap(message);
    if (r.handled) return r.icon;
    switch (message.kind) {
        case MessageKind::kCommand:
            if (message.code == BN_CLICKED && message.id == IDOK) OnOK();
            if (message.code == BN_CLICKED && message.id == IDCANCEL) OnCancel();
            break;
        case MessageKind::kSysCommand:
            DefaultSysCommand(static_cast<unsigned>(message.id), message.param);
            break;
        case MessageKind::kPaint:
            DefaultPaint();
            break;
        case MessageKind::kTimer:
        case MessageKind::kQueryDragIcon:
            break;
    }
    return nullptr;
}

void CDialog::DefaultSysCommand(unsigned command, std::intptr_t param) {
    if (dialog == nullptr) return;
    // A dialog's close box is its cancel command, whatever the host.
    if ((command & 0xFFF0u) == SC_CLOSE) {
        OnCancel();
        return;
    }
    dialogBackend->DefaultSysCommand(dialog, command, param);
}

void CDialog::DefaultPaint() {
    if (dialog != nullptr) dialogBackend->DefaultPaint(dialog);
}

}  // namespace fw
