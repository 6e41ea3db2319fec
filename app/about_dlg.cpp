#include "app/about_dlg.h"

#include "discovery/signed_definitions.h"
#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

namespace fw {

CAboutDlg::CAboutDlg(DialogBackend& backend, const TrustedKeys& keys)
    : CDialog(backend, res::AboutDialogTemplate()), keys(keys) {}

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The template's own text carries the format, so a translated template keeps its wording.
    std::string format = GetDlgItemText(res::kIdVersion);
    SetDlgItemText(res::kIdVersion, Format(format, res::kAppVersion));
    std::string ids;
    for (const Bytes& key : keys) ids += (ids.empty() ? "" : ", ") + KeyIdOf(key);
    SetDlgItemText(res::kIdTrust, keys.empty() ? std::string(res::LoadString(res::kStrTrustsNothing))
                                               : Format(res::LoadString(res::kStrTrustsKeys), ids));
    return true;
}

}  // namespace fw
