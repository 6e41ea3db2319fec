#pragma once
// Choosing the folder a beta version installs into: the "Select Beta Installation Directory"
// dialog and the folder browser behind its "&Browse" button. The selection procedure itself is
// CUpdateDownloaderDlg::SelectBetaInstallDir (install/beta_dir.cpp).

#include <string>
#include <string_view>

#include "platform/ui/dialog.h"

namespace fw {

class CBetaDirDlg : public CDialog {
public:
    // `resultDir` receives the confirmed text on OK; `releaseDir` is shown in the label.
    CBetaDirDlg(DialogBackend& backend, std::string& resultDir, std::string_view releaseDir,
                const CDialog* parent = nullptr);

    void DoDataExchange(CDataExchange* dx) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnBrowse();

    std::string editDir;
    std::string& resultDir;
    std::string releaseDir;

    FW_DECLARE_MESSAGE_MAP(CBetaDirDlg)
};

// Lets the user pick a folder, owned by `owner`. `path` holds the initial folder (cut to the
// platform's path limit) and receives the chosen one; true when a folder with a file-system
// path was chosen, otherwise `path` is left as it was.
bool BrowseForFolder(const CDialog& owner, std::string_view title, std::string& path);

}  // namespace fw
