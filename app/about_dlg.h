#pragma once
// The about box: the program's icon, its version line, what it trusts and the maker's notice.

#include "platform/crypto.h"
#include "platform/ui/dialog.h"

namespace fw {

class CAboutDlg : public CDialog {
public:
    CAboutDlg(DialogBackend& backend, const TrustedKeys& keys);
    bool OnInitDialog() override;

private:
    const TrustedKeys& keys;
};

}  // namespace fw
