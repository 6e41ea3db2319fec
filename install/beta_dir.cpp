#include "install/beta_dir.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/registry.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

constexpr std::string_view kBetaInstallDirKey = "BetaInstallDir";
constexpr std::string_view kInstallPathOverrideVariable = "InstallPathOverride";
constexpr std::size_t kBetaDirValueSize = kMaxPath + 1;
constexpr int kMaxBetaDirChars = 255;

// Such a name cannot be stored in the settings, and is hardly what anyone meant.
bool HasControlCharacter(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

}  // namespace

// clang-format off
FW_BEGIN_MESSAGE_MAP(CBetaDirDlg)
    MessageEntry<CBetaDirDlg>::Command(res::kIdBrowse, BN_CLICKED, &CBetaDirDlg::OnBrowse),
FW_END_MESSAGE_MAP(CBetaDirDlg)
// clang-format on

CBetaDirDlg::CBetaDirDlg(DialogBackend& backend, std::string& resultDir,
                         std::string_view releaseDir, const CDialog* parent)
    : CDialog(backend, res::BetaDirDialogTemplate(), parent),
      editDir(resultDir),
      resultDir(resultDir),
      releaseDir(releaseDir) {}

void CBetaDirDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, res::kIdBetaDirEdit, editDir);
    DDV_MaxChars(dx, editDir, kMaxBetaDirChars);
}

bool CBetaDirDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The template's own text carries the format, so a translated template keeps its wording.
    std::string label = GetDlgItemText(res::kIdReleaseDirLabel);
    SetDlgItemText(res::kIdReleaseDirLabel, Format(label, releaseDir));
    return true;
}

void CBetaDirDlg::OnBrowse() {
    UpdateData(true);
    std::string title(res::LoadString(res::kStrBrowseTitle));
    std::string path = editDir.substr(0, kMaxPath - 1);
    if (BrowseForFolder(*this, title, path)) {
        editDir = path;
        UpdateData(false);
    }
}

void CBetaDirDlg::OnOK() {
    CDialog::OnOK();
    resultDir = editDir;
}

void CBetaDirDlg::OnCancel() { EndDialog(IDCANCEL); }

bool BrowseForFolder(const CDialog& owner, std::string_view title, std::string& path) {
    // The host may write into its buffer even when no folder is chosen.
    std::string buffer = path.substr(0, kMaxPath - 1);
    if (!owner.backend().BrowseForFolder(owner.GetSafeHwnd(), title, buffer)) return false;
    path = buffer;
    return true;
}

bool CUpdateDownloaderDlg::SelectBetaInstallDir() {
    std::unique_ptr<RegistryKey> key =
        platform.registry.CreateKey(res::LoadString(res::kStrRegistryKey));
    betaDir.clear();
    if (key) {
        std::string remembered;
        if (key->QueryValue(kBetaInstallDirKey, remembered, kBetaDirValueSize)) {
            betaDir = remembered.substr(0, remembered.find('\0'));
        }
    }
    if (betaDir.empty()) betaDir = InstallFolder() + " Beta";

    for (;;) {
        // Each pass runs a dialog of its own, which shows the text last confirmed.
        std::intptr_t result;
        {
            CBetaDirDlg dialog(backend(), betaDir, InstallFolder(), this);
            result = dialog.DoModal();
        }
        if (result != IDOK) break;

        int problem = 0;
        if (HasControlCharacter(betaDir)) {
            problem = res::kStrBetaControlChar;
        } else {
            // The folder the text means: checked in full, and remembered in full when it was
            // typed relative to wherever the program happened to run from. The text as typed
            // stays in the dialog and its messages.
            std::string full = platform.files.FullPath(betaDir);
            if (full.empty()) full = betaDir;
            if (platform.files.SameFolder(full, InstallFolder())) {
                problem = res::kStrBetaSameDir;
            } else if (std::optional<FileStatus> status = platform.files.Stat(full); !status) {
                if (!platform.files.CreateDirectory(full)) problem = res::kStrBetaCannotCreate;
            } else if (!status->isDirectory) {
                problem = res::kStrBetaNotDir;
            }
            if (problem == 0 && !std::filesystem::path(betaDir).is_absolute()) betaDir = full;
        }

        if (problem == 0) {
            platform.processes.SetEnvironmentVariable(kInstallPathOverrideVariable, betaDir);
            if (!key || !key->SetValue(kBetaInstallDirKey, betaDir)) {
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrBetaNotRemembered, betaDir);
            }
            return true;
        }
        int answer = problem == res::kStrBetaSameDir || problem == res::kStrBetaControlChar
                         ? ShowMessage(*this, res::kStrError, MB_OKCANCEL, problem)
                         : ShowMessage(*this, res::kStrError, MB_OKCANCEL, problem, betaDir);
        if (answer != IDOK) break;
    }
    betaDir.clear();
    return false;
}

}  // namespace fw
