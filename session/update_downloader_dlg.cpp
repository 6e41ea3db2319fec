#include "session/update_downloader_dlg.h"

#include <algorithm>
#include <cstring>

#include "app/about_dlg.h"
#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

namespace fw {

int ShowMessageV(CDialog& owner, int captionId, unsigned type, int textId,
                 const std::vector<FormatArg>& args) {
    std::string text = FormatV(res::LoadString(textId), args);
    std::string caption(res::LoadString(captionId));
    return owner.MessageBox(text, caption, type);
}

// clang-format off
FW_BEGIN_MESSAGE_MAP(CUpdateDownloaderDlg)
    MessageEntry<CUpdateDownloaderDlg>::OnSysCommand(&CUpdateDownloaderDlg::OnSysCommand),
    MessageEntry<CUpdateDownloaderDlg>::OnPaint(&CUpdateDownloaderDlg::OnPaint),
    MessageEntry<CUpdateDownloaderDlg>::OnQueryDragIcon(&CUpdateDownloaderDlg::OnQueryDragIcon),
    MessageEntry<CUpdateDownloaderDlg>::Command(res::kIdExit, BN_CLICKED, &CUpdateDownloaderDlg::OnExit),
    MessageEntry<CUpdateDownloaderDlg>::Command(res::kIdInstall, BN_CLICKED, &CUpdateDownloaderDlg::OnInstall),
    MessageEntry<CUpdateDownloaderDlg>::Command(res::kIdCheck, BN_CLICKED, &CUpdateDownloaderDlg::CheckForUpdates),
    MessageEntry<CUpdateDownloaderDlg>::Command(res::kIdUpdateList, LBN_DBLCLK, &CUpdateDownloaderDlg::OnDblclkUpdateList),
    MessageEntry<CUpdateDownloaderDlg>::OnTimer(&CUpdateDownloaderDlg::OnTimer),
FW_END_MESSAGE_MAP(CUpdateDownloaderDlg)
// clang-format on

CUpdateDownloaderDlg::CUpdateDownloaderDlg(const Platform& platform, int argc,
                                           const char* const* argv)
    : CDialog(platform.ui, res::MainDialogTemplate()),
      platform(platform),
      argc(argc),
      argv(argv) {
    appIcon = platform.ui.LoadIcon(res::kAppIcon);
}

CUpdateDownloaderDlg::~CUpdateDownloaderDlg() = default;

void CUpdateDownloaderDlg::SetInstallFolder(std::string_view folder) {
    std::size_t n = std::min(folder.size(), installFolder.size() - 1);
    std::memcpy(installFolder.data(), folder.data(), n);
    installFolder[n] = '\0';
}

void CUpdateDownloaderDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, res::kIdFolder, folderText);
    DDX_Control(dx, res::kIdBetaVersion, betaCheckBox);
    DDX_Control(dx, res::kIdTotalProgress, totalProgress);
    DDX_Control(dx, res::kIdExit, exitButton);
    DDX_Control(dx, res::kIdCheck, checkButton);
    DDX_Control(dx, res::kIdDownload, downloadButton);
    DDX_Control(dx, res::kIdInstall, installButton);
    DDX_Control(dx, res::kIdCancel, cancelButton);
    DDX_Control(dx, res::kIdStatus, statusText);
    DDX_Control(dx, res::kIdFileProgress, fileProgress);
    DDX_Control(dx, res::kIdUpdateList, updateList);
    DDX_Text(dx, res::kIdInstructions, instructionsText);
    DDX_Text(dx, res::kIdTimeRemaining, timeRemainingText);
}

void CUpdateDownloaderDlg::ScanCommandLine(int count, const char* const* args) {
    struct Option {
        std::string_view name;
        std::string* target;
    };
    const Option options[] = {
        {"-server", &updateServer},           {"-infourl", &infoPath},
        {"-infoserver", &infoServer},         {"-updates", &releaseDefinitionsFile},
        {"-beta", &betaDefinitionsFile},
    };
    int i = 1;
    while (i < count) {
        // The one switch: the window opens on the beta channel, as a check of that channel
        // that offered an update asks it to.
        if (args[i] && std::string_view(args[i]) == "-betachannel") {
            startOnBeta = true;
            ++i;
            continue;
        }
        if (i == count - 1) break;  // the last argument never has a value after it
        std::string_view arg = args[i] ? args[i] : "";
        std::string_view value = args[i + 1] ? args[i + 1] : "";
        bool matched = false;
        if (arg == "-dir") {
            SetInstallFolder(value);
            matched = true;
        } else {
            for (const Option& o : options) {
                if (arg == o.name) {
                    *o.target = std::string(value);
                    matched = true;
                    break;
                }
            }
        }
        i += matched ? 2 : 1;
    }
}

bool CUpdateDownloaderDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    autoInstall = true;
    startupInfo = StartupInfo{};
    startupInfo.size = kStartupInfoSize;
    processInfo.Clear();
    workflowState = WorkflowState::Initial;

    if (CMenu* menu = GetSystemMenu(false)) {
        std::string_view about = res::LoadString(res::kStrAboutMenu);
        if (!about.empty()) {
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, res::kIdmAboutBox, about);
        }
    }
    backend().SetIcon(GetSafeHwnd(), appIcon, true);
    backend().SetIcon(GetSafeHwnd(), appIcon, false);

    allInstalled = 0;
    updateServer = std::string(res::LoadString(res::kStrUpdateServer));
    releaseDefinitionsFile = std::string(res::LoadString(res::kStrReleaseDefinitions));
    betaDefinitionsFile = std::string(res::LoadString(res::kStrBetaDefinitions));
    internetSession.reset();
    serverConnection.reset();
    stepNumber = 0;

    bool found = false;
    if (std::unique_ptr<RegistryKey> key =
            platform.registry.CreateKey(res::LoadString(res::kStrRegistryKey))) {
        std::string folder;
        // An empty value names no folder: taken as one, it would be the root of the disk.
        if ((key->QueryValue(res::LoadString(res::kStrInstallDirKey), folder, kMaxPath) &&
             !folder.empty()) ||
            (key->QueryValue(res::LoadString(res::kStrSourceDirKey), folder, kMaxPath) &&
             !folder.empty())) {
            SetInstallFolder(folder);
            found = true;
        }
    }

    infoPath = std::string(res::kDefaultInfoPath);
    infoServer = std::string(res::kDefaultInfoServer);
    ScanCommandLine(argc, argv);
    if (InstallFolder().empty()) found = false;  // "-dir" with an empty value
    if (startOnBeta) betaCheckBox.SetCheck(BST_CHECKED);

    checkButton.EnableWindow(false);
    downloadButton.EnableWindow(false);
    installButton.EnableWindow(false);
    cancelButton.EnableWindow(false);

    if (!found) {
        SetDlgItemText(res::kIdInstructions, res::LoadString(res::kStrNotInstalled));
        folderText.SetWindowText("--");
        exitButton.SetFocus();
        return false;
    }
    TakeInventory();
    folderText.SetWindowText(InstallFolder());
    ++stepNumber;
    SetDlgItemText(res::kIdInstructions, Format(res::LoadString(res::kStrStep1), stepNumber));
    checkButton.EnableWindow(true);
    checkButton.SetButtonStyle(BS_DEFPUSHBUTTON, true);
    checkButton.SetFocus();
    return false;
}

void CUpdateDownloaderDlg::OnDblclkUpdateList() {
    int selected = updateList.GetCurSel();
    if (selected != LB_ERR) updateList.DeleteString(selected);
    if (updateList.GetCount() <= 0) {
        installButton.EnableWindow(false);
        statusText.SetWindowText("Update complete.");
        SetDlgItemText(res::kIdInstructions, res::LoadString(res::kStrComplete));
        workflowState = WorkflowState::Complete;
        return;
    }
    if (workflowState != WorkflowState::Downloaded) return;
    std::string first;
    updateList.GetText(0, first);
    statusText.SetWindowText(Format(res::LoadString(res::kStrClickInstall), first));
    SetDlgItemText(res::kIdInstructions,
                   Format(res::LoadString(res::kStrInstallNext), stepNumber, first));
}

void CUpdateDownloaderDlg::OnCancel() {
    if (ShowMessage(*this, res::kStrCancelCaption, MB_YESNO, res::kStrCancelQuestion) == IDYES) {
        cancelRequested = 1;
    }
}

void CUpdateDownloaderDlg::OnExit() {
    if (workflowState == WorkflowState::Downloaded && updateList.GetCount() > 0) {
        int answer = ShowMessage(*this, res::kStrExitCaption, MB_YESNOCANCEL | MB_DEFBUTTON2,
                                 res::kStrExitQuestion);
        if (answer != IDYES) return;
    }
    if (allInstalled) {
        for (const std::string& file : downloadedFiles) platform.files.Remove(file);
    }
    EndDialog(IDCANCEL);
}

void CUpdateDownloaderDlg::OnSysCommand(unsigned command, std::intptr_t param) {
    if ((command & 0xFFF0u) == res::kIdmAboutBox) {
        CAboutDlg about(backend(), platform.trustedKeys);
        about.DoModal();
        return;
    }
    DefaultSysCommand(command, param);
}

void CUpdateDownloaderDlg::OnPaint() {
    if (!IsIconic()) {
        DefaultPaint();
        return;
    }
    ClientRect rect = backend().GetClientRect(GetSafeHwnd());
    IconMetrics icon = backend().GetIconMetrics();
    int x = (rect.width - icon.width + 1) / 2;
    int y = (rect.height - icon.height + 1) / 2;
    backend().PaintIcon(GetSafeHwnd(), appIcon, x, y);
}

IconHandle CUpdateDownloaderDlg::OnQueryDragIcon() { return appIcon; }

bool CUpdateDownloaderDlg::DestroyWindow() {
    // A running updater keeps running; only our handles to it are closed.
    processInfo.Clear();
    return CDialog::DestroyWindow();
}

}  // namespace fw
