#include <optional>

#include "download/transfer.h"
#include "platform/path.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/name_set.h"
#include "session/update_downloader_dlg.h"

namespace fw {

void CUpdateDownloaderDlg::OnOK() { RunDownloads(); }

void CUpdateDownloaderDlg::RunDownloads() {
    downloadButton.EnableWindow(false);
    tempFolder = JoinPath(InstallFolder(), "temp");
    platform.files.CreateDirectory(tempFolder);  // an existing folder is fine; a missing one shows at the first file

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
    for (std::size_t i = 0; i < updateEntries.GetSize() && complete; ++i) {
        UpdateEntry& entry = updateEntries[i];
        entry.localPath = JoinPath(tempFolder, UpdaterFileName(entry.sourceUrl));
        for (busyWaitSeconds.reset();
             !TransferFile(entry.sourceUrl, entry.localPath, entry.expectedSize,
                           entry.expectedChecksum,
                           entry.expectedDigest ? std::optional(*entry.expectedDigest)
                                                : std::nullopt);
             busyWaitSeconds.reset()) {
            int answer = busyWaitSeconds
                             ? ShowMessage(*this, res::kStrRetryCaption, MB_YESNO,
                                           res::kStrRetryBusyQuestion,
                                           static_cast<int>(*busyWaitSeconds), entry.localPath)
                             : ShowMessage(*this, res::kStrRetryCaption, MB_YESNO,
                                           res::kStrRetryQuestion, entry.localPath);
            if (answer != IDYES) {
                complete = false;
                break;
            }
        }
        if (complete) downloadedFiles.push_back(entry.localPath);
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
