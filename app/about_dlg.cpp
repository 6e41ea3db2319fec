#include "app/about_dlg.h"

#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

namespace fw {

CAboutDlg::CAboutDlg(DialogBackend& backend) : CDialog(backend, res::AboutDialogTemplate()) {}

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The template's own text carries the format, so a translated template keeps its wording.
    std::string format = GetDlgItemText(res::kIdVersion);
    SetDlgItemText(res::kIdVersion, Format(format, res::kAppVersion));
    return true;
}

}  // namespace fw
