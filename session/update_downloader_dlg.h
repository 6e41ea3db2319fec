#pragma once
// The main dialog: the owner of every piece of state of an update run, and the workflow whose
// steps are its handlers. The handlers live in the subsystem that owns each behaviour.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/progress.h"
#include "platform/http_client.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/ui/dialog.h"
#include "platform/ui/format.h"
#include "session/update_entry.h"

namespace fw {

enum class WorkflowState : std::int32_t {
    Initial = 0,
    Checking = 1,
    Listed = 2,
    Downloaded = 3,
    Complete = 4,
};

inline constexpr std::size_t kMaxPath = 260;  // the platform's path length limit

// Shows a message box owned by `owner` with the caption string `captionId` and the text string
// `textId` formatted with `args`; returns the button pressed (IDYES is 6).
int ShowMessageV(CDialog& owner, int captionId, unsigned type, int textId,
                 const std::vector<FormatArg>& args);
template <class... Args>
int ShowMessage(CDialog& owner, int captionId, unsigned type, int textId, const Args&... args) {
    return ShowMessageV(owner, captionId, type, textId, std::vector<FormatArg>{FormatArg(args)...});
}

class CUpdateDownloaderDlg : public CDialog {
public:
    CUpdateDownloaderDlg(const Platform& platform, int argc, const char* const* argv);
    ~CUpdateDownloaderDlg() override;

    bool DestroyWindow() override;
    void DoDataExchange(CDataExchange* dx) override;
    bool OnInitDialog() override;
    void OnOK() override;  // the Download step: RunDownloads
    void OnCancel() override;

    // Handlers of the message table.
    void OnSysCommand(unsigned command, std::intptr_t param);
    void OnPaint();
    IconHandle OnQueryDragIcon();
    void OnExit();
    void OnDblclkUpdateList();

    // The steps, each defined by the subsystem that owns it.
    void TakeInventory();                // discovery/inventory.cpp
    void CheckForUpdates();              // discovery/check.cpp
    void SendUpdateRequest(bool beta);   // discovery/update_request.cpp
    void RunDownloads();                 // download/driver.cpp
    // True when the updater is at `localPath`, complete and verified (download/transfer.cpp);
    // with an expected digest (signed definitions) its SHA-256 must match as well.
    bool TransferFile(const std::string& sourceUrl, const std::string& localPath,
                      std::int32_t expectedSize, std::uint32_t expectedChecksum,
                      const std::optional<Sha256Digest>& expectedDigest = std::nullopt);
    // After a block: both bars and the time-remaining text (download/progress_display.cpp).
    // `receivedBytes` and `expectedSize` are the current file's; `lastShownSeconds` is the
    // transfer's last shown estimate, -1 at the start of each file.
    void UpdateProgressDisplay(std::int64_t receivedBytes, std::int32_t expectedSize,
                               std::int32_t& lastShownSeconds);
    void OnInstall();                    // install/install.cpp
    void OnTimer(unsigned timerId);      // install/install.cpp
    // True when the user accepted a beta folder, now in betaDir (install/beta_dir.cpp).
    bool SelectBetaInstallDir();

    // The install folder as text (the buffer is always terminated).
    std::string InstallFolder() const { return std::string(installFolder.data()); }
    void SetInstallFolder(std::string_view folder);

    // Start-up: the command-line scan over the arguments after the program itself.
    void ScanCommandLine(int argc, const char* const* argv);

    // --- state, in declaration order ---
    std::array<char, kMaxPath> installFolder{};
    TextList installedSystems;
    std::size_t inventorySize = 0;  // how many of installedSystems the inventory found
    TextList downloadedFiles;
    std::unique_ptr<HttpSession> internetSession;
    std::unique_ptr<HttpConnection> serverConnection;  // to the update server that answered
    std::string tempFolder;
    std::int32_t cancelRequested = 0;
    EntryArray updateEntries;
    std::string availableVersion;
    std::string updateServer;  // one server, or a comma-separated list of mirrors
    // Which server of the list gave the definitions; updaters are asked of it first.
    std::size_t mirrorIndex = 0;
    std::string releaseDefinitionsFile;
    std::string betaDefinitionsFile;
    std::string infoServer;
    std::string infoPath;
    std::string betaDir;
    bool startOnBeta = false;  // "-betachannel": "&Beta Version" ticked at the start
    std::int32_t totalBytes = 0;
    std::int32_t transferredBytes = 0;
    // Set by a transfer that a busy server (503, 429) turned away with a Retry-After.
    std::optional<std::uint32_t> busyWaitSeconds;
    RateWindow rateWindow;
    std::uint32_t remainingShownTick = 0;  // when the time-remaining text last changed
    static constexpr std::uint32_t kRemainingPeriodMs = 1000;
    std::int32_t stepNumber = 0;
    bool autoInstall = false;
    // The check tells the information server what is installed; a check that no person asked
    // for (the notifying console run) does not.
    bool sendUpdateRequest = true;
    std::int32_t allInstalled = 0;
    WorkflowState workflowState = WorkflowState::Initial;
    StartupInfo startupInfo;
    ProcessInfo processInfo;
    CStatic folderText;         // 1010
    CButton betaCheckBox;       // 1008
    CProgressCtrl totalProgress;  // 1005
    CButton exitButton;         // 1004
    CButton checkButton;        // 4
    CButton downloadButton;     // 1
    CButton installButton;      // 3
    CButton cancelButton;       // 2
    CStatic statusText;         // 1002
    CProgressCtrl fileProgress;  // 1003
    CListBox updateList;        // 1000
    std::string instructionsText;
    std::string timeRemainingText;
    IconHandle appIcon = nullptr;

    const Platform& platform;

    FW_DECLARE_MESSAGE_MAP(CUpdateDownloaderDlg)

private:
    int argc;
    const char* const* argv;
};

}  // namespace fw
