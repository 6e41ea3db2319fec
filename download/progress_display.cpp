#include "download/progress.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"

namespace fw {

void CUpdateDownloaderDlg::UpdateProgressDisplay(std::int64_t receivedBytes,
                                                 std::int32_t expectedSize,
                                                 std::int32_t& lastShownSeconds) {
    ProgressView view = ComputeProgress(receivedBytes, expectedSize, transferredBytes, totalBytes,
                                        rateWindow.BytesPerSecond(), lastShownSeconds);
    fileProgress.SetPos(view.filePercent);
    totalProgress.SetPos(view.totalPercent);
    if (view.textChanged) {
        // The member follows the control, so a later data exchange does not bring back an old
        // estimate.
        timeRemainingText = view.text;
        SetDlgItemText(res::kIdTimeRemaining, view.text);
    }
}

}  // namespace fw
