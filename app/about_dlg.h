#pragma once
// The about box: the program's icon, its version line and the maker's notice.

#include "platform/ui/dialog.h"

namespace fw {

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(DialogBackend& backend);
    bool OnInitDialog() override;
};

}  // namespace fw
