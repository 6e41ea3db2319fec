#include "platform/ui/wnd.h"

#include <algorithm>
#include <cctype>

namespace fw {

bool CWnd::EnableWindow(bool enable) {
    if (!IsBound()) return false;
    bool wasDisabled = !backend->IsEnabled(dialog, id);
    backend->Enable(dialog, id, enable);
    return wasDisabled;
}

bool CWnd::IsWindowEnabled() const { return IsBound() && backend->IsEnabled(dialog, id); }

void CWnd::SetFocus() {
    if (IsBound()) backend->SetFocus(dialog, id);
}

void CWnd::SetWindowText(std::string_view text) {
    if (IsBound()) backend->SetText(dialog, id, text);
}

std::string CWnd::GetWindowText() const { return IsBound() ? backend->GetText(dialog, id) : ""; }

int CButton::GetState() const { return IsBound() ? backend->GetButtonState(dialog, id) : 0; }

int CButton::GetCheck() const { return GetState() & BST_CHECKED; }

void CButton::SetCheck(int check) {
    if (IsBound()) backend->SetCheck(dialog, id, check);
}

void CButton::SetButtonStyle(unsigned style, bool redraw) {
    if (IsBound()) backend->SetButtonStyle(dialog, id, style, redraw);
}

unsigned CButton::GetButtonStyle() const {
    return IsBound() ? backend->GetButtonStyle(dialog, id) : 0;
}

int CListBox::InsertString(int index, std::string_view text) {
    return IsBound() ? backend->ListInsert(dialog, id, index, text) : LB_ERR;
}

int CListBox::DeleteString(int index) {
    return IsBound() ? backend->ListDelete(dialog, id, index) : LB_ERR;
}

void CListBox::ResetContent() {
    if (IsBound()) backend->ListReset(dialog, id);
}

int CListBox::GetCount() const { return IsBound() ? backend->ListCount(dialog, id) : LB_ERR; }

int CListBox::GetText(int index, std::string& text) const {
    return IsBound() ? backend->ListGetText(dialog, id, index, text) : LB_ERR;
}

int CListBox::GetCurSel() const { return IsBound() ? backend->ListGetCurSel(dialog, id) : LB_ERR; }

int CListBox::SetCurSel(int index) {
    return IsBound() ? backend->ListSetCurSel(dialog, id, index) : LB_ERR;
}

namespace {
bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

int CListBox::FindStringExact(int startAfter, std::string_view text) const {
    int count = GetCount();
    if (count <= 0) return LB_ERR;
    int first = (startAfter < 0 || startAfter >= count) ? 0 : startAfter + 1;
    for (int n = 0; n < count; ++n) {
        int index = (first + n) % count;
        std::string item;
        if (GetText(index, item) != LB_ERR && EqualNoCase(item, text)) return index;
    }
    return LB_ERR;
}

void CProgressCtrl::SetRange(short lower, short upper) {
    if (IsBound()) backend->ProgressSetRange(dialog, id, lower, upper);
}

int CProgressCtrl::SetPos(int pos) {
    return IsBound() ? backend->ProgressSetPos(dialog, id, pos) : 0;
}

void CEdit::SetLimitText(int maxChars) {
    if (IsBound()) backend->EditSetLimit(dialog, id, maxChars);
}

}  // namespace fw
