#include "download/progress.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"

namespace fw {

void CUpdateDownloaderDlg::UpdateProgressDisplay(std::int64_t receivedBytes,
                                                 std::int32_t expectedSize,
                                                 std::int32_t& lastShownSeconds) {
    const std::int32_t shownBefore = lastShownSeconds;
    ProgressView view = ComputeProgress(receivedBytes, expectedSize, transferredBytes, totalBytes,
                                        rateWindow.BytesPerSecond(), lastShownSeconds);
    fileProgress.SetPos(view.filePercent);
    totalProgress.SetPos(view.totalPercent);
    if (view.textChanged && view.hasEstimate && shownBefore >= 0 && lastShownSeconds != 0) {
        // A screen reader speaks the text each time it changes: a new estimate shows at most
        // once a second, and a rise of one second (the rate's jitter) never shows, so the text
        // does not flip between two values. An empty text and the first or last estimate
        // show at once.
        std::uint32_t now = platform.system.GetTickCount();
        if (now - remainingShownTick < kRemainingPeriodMs || lastShownSeconds == shownBefore + 1) {
            lastShownSeconds = shownBefore;
            return;
        }
    }
    if (view.textChanged) {
        remainingShownTick = platform.system.GetTickCount();
        // The member follows the control, so a later data exchange does not bring back an old
        // estimate.
        timeRemainingText = view.text;
        SetDlgItemText(res::kIdTimeRemaining, view.text);
    }
}

}  // namespace fw
