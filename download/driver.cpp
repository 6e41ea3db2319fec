#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "download/transfer.h"
#include "platform/path.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/name_set.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

// Records that expect the same file find it already there, and checking it again is quick; with
// hundreds of thousands of them the window is still asked to answer this often.
constexpr std::uint32_t kPumpIntervalMs = 50;

}  // namespace

void CUpdateDownloaderDlg::OnOK() { RunDownloads(); }

void CUpdateDownloaderDlg::RunDownloads() {
    downloadButton.EnableWindow(false);
    tempFolder = JoinPath(InstallFolder(), "temp");
    // Updaters wait here until they run: nobody else may put a file in their place. A folder
    // that cannot be made shows at the first file.
    if (platform.files.MakePrivateDirectory(tempFolder) == PrivateFolder::kNotPrivate) {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrTempNotPrivate, tempFolder);
        downloadButton.EnableWindow(true);
        return;
    }

    totalProgress.SetRange(0, 100);
    transferredBytes = 0;
    totalBytes = 0;
    // The updates still wanted are those whose names the list shows (the user may have taken
    // some off). The list is read once, so that many templates cost linear time.
    NameSet listed;
    std::string shown;
    const int count = updateList.GetCount();
    if (count > 0) listed.Reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (updateList.GetText(i, shown) != LB_ERR) listed.Insert(shown);
    }
    updateEntries.RemoveIf(
        [&](const UpdateEntry& entry) { return !listed.Contains(entry.templateName); });
    for (std::size_t i = 0; i < updateEntries.GetSize(); ++i) {
        totalBytes = WrappingAdd(totalBytes, updateEntries[i].expectedSize);
    }
    rateWindow.Reset();

    bool complete = true;
    cancelRequested = 0;
    std::uint32_t lastPump = platform.system.GetTickCount();
    // One path text per file, however many records expect it; the keys view the shared texts.
    std::unordered_map<std::string_view, std::shared_ptr<const std::string>> paths;
    // Each file listed once.
    std::unordered_set<const std::string*> listedFiles;
    for (std::size_t i = 0; i < updateEntries.GetSize() && complete; ++i) {
        if (std::uint32_t now = platform.system.GetTickCount(); now - lastPump >= kPumpIntervalMs) {
            lastPump = now;
            platform.ui.PumpMessages();
            // Escape, and Yes to the question: no download runs to cancel, so stop here.
            if (cancelRequested != 0) {
                complete = false;
                break;
            }
        }
        UpdateEntry& entry = updateEntries[i];
        std::string path = JoinPath(tempFolder, UpdaterFileName(entry.sourceUrl));
        if (auto found = paths.find(path); found != paths.end()) {
            entry.localPath = found->second;
        } else {
            entry.localPath = std::make_shared<const std::string>(std::move(path));
            paths.emplace(*entry.localPath, entry.localPath);
        }
        const std::string& localPath = *entry.localPath;
        for (busyWaitSeconds.reset();
             !TransferFile(entry.sourceUrl, localPath, entry.expectedSize,
                           entry.expectedChecksum,
                           entry.expectedDigest ? std::optional(*entry.expectedDigest)
                                                : std::nullopt);
             busyWaitSeconds.reset()) {
            int answer = busyWaitSeconds
                             ? ShowMessage(*this, res::kStrRetryCaption, MB_YESNO,
                                           res::kStrRetryBusyQuestion,
                                           static_cast<int>(*busyWaitSeconds), localPath)
                             : ShowMessage(*this, res::kStrRetryCaption, MB_YESNO,
                                           res::kStrRetryQuestion, localPath);
            if (answer != IDYES) {
                complete = false;
                break;
            }
        }
        if (complete && listedFiles.insert(&localPath).second) {
            downloadedFiles.push_back(localPath);
        }
    }

    if (complete) {
        statusText.SetWindowText("Download complete.");
        workflowState = WorkflowState::Downloaded;
        timeRemainingText.clear();
        SetDlgItemText(res::kIdTimeRemaining, "");
        fileProgress.SetPos(0);
        totalProgress.SetPos(0);
        ++stepNumber;
        SetDlgItemText(res::kIdInstructions, Format(res::LoadString(res::kStrDownloaded), stepNumber));
        downloadButton.SetButtonStyle(BS_PUSHBUTTON, true);
        installButton.SetButtonStyle(BS_DEFPUSHBUTTON, true);
        installButton.EnableWindow(true);
        installButton.SetFocus();
    }
    serverConnection.reset();
    internetSession.reset();
}

}  // namespace fw
