// The progress display on the main dialog, as the user sees it after each block.

#include <gtest/gtest.h>

#include <functional>

#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/test_platform.h"

namespace fw {
namespace {

using test::CommandLine;
using test::TestPlatform;

class ProgressDisplayTest : public ::testing::Test {
protected:
    // Runs the dialog (nothing installed, so it only shows its start) with `script` acting
    // while it is open.
    void Run(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script) {
        CommandLine cl{};
        CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
        tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) { script(w, dlg); });
        dlg.DoModal();
    }
    TestPlatform tp;
};

std::string Text121(int h, int m, int s, const char* done, const char* total) {
    return Format(res::LoadString(res::kStrTimeRemaining), h, m, s, done, total);
}

TEST_F(ProgressDisplayTest, TheFirstBlockMovesTheBarsWithoutAnEstimate) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        dlg.totalBytes = 100000;
        dlg.transferredBytes = 4096;
        dlg.rateWindow.AddSample(0, 4096);
        std::int32_t last = -1;
        dlg.UpdateProgressDisplay(4096, 40960, last);
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 10);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 4);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), "");
        EXPECT_EQ(last, -1);
    });
}

TEST_F(ProgressDisplayTest, AnEstimateIsWrittenOnlyWhenItChanges) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        dlg.totalBytes = 1000000;
        dlg.transferredBytes = 199950;
        dlg.rateWindow.AddSample(0, 10000);
        dlg.rateWindow.AddSample(1000, 4096);
        std::int32_t last = -1;
        dlg.UpdateProgressDisplay(49950, 100000, last);
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 49);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 19);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), Text121(0, 1, 20, "195.3K", "976.6K"));
        EXPECT_EQ(dlg.timeRemainingText, w.Text(res::kIdTimeRemaining));
        EXPECT_EQ(last, 80);

        // The same whole estimate a block later moves the bars but leaves the text alone.
        dlg.SetDlgItemText(res::kIdTimeRemaining, "as it was");
        dlg.transferredBytes += 50;
        dlg.UpdateProgressDisplay(50000, 100000, last);
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 50);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 20);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), "as it was");
        EXPECT_EQ(last, 80);

        // Bytes that arrive in no time leave no rate: the text empties, the estimate is kept.
        dlg.rateWindow.Reset();
        dlg.rateWindow.AddSample(5000, 4096);
        dlg.rateWindow.AddSample(5000, 4096);
        dlg.UpdateProgressDisplay(60000, 100000, last);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), "");
        EXPECT_EQ(dlg.timeRemainingText, "");
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 60);
        EXPECT_EQ(last, 80);
    });
}

TEST_F(ProgressDisplayTest, SizesThatAnnounceNothingOrTooLittleKeepTheBarsInRange) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        dlg.totalBytes = 10000;
        dlg.transferredBytes = 5000;
        dlg.rateWindow.AddSample(0, 1000);
        dlg.rateWindow.AddSample(1000, 1000);
        std::int32_t last = -1;
        dlg.UpdateProgressDisplay(5000, 10000, last);
        ASSERT_EQ(w.ProgressPos(res::kIdFileProgress), 50);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), Text121(0, 0, 5, "4.9K", "9.8K"));

        dlg.totalBytes = 0;
        dlg.UpdateProgressDisplay(5000, 0, last);
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 0);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 0);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), Text121(0, 0, 0, "4.9K", "0"));

        dlg.totalBytes = 4000;  // more bytes than announced
        dlg.UpdateProgressDisplay(std::int64_t{3} << 31, 4000, last);
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 100);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 100);
        EXPECT_EQ(last, 0);
    });
}

// Estimates that jitter between blocks: the text changes at most once a second and never goes
// back up by the one second of jitter.
TEST_F(ProgressDisplayTest, TheEstimateChangesAtMostOnceASecondAndDoesNotFlipBack) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        dlg.totalBytes = 1000000;
        std::int32_t last = -1;
        // Each step: the clock, the bytes so far at a rate of 10000 bytes a second (an estimate
        // of (1000000 - done) / 10000 seconds), and the estimate the text shows afterwards.
        // `shownDone` is the byte count of the text shown.
        struct Step {
            std::uint32_t tick;
            std::int32_t done;
            int shown;
            const char* shownDone;
        };
        const Step steps[] = {
            {0, 870000, 13, "849.6K"},     // the first estimate shows at once
            {100, 880000, 13, "849.6K"},   // 12, within the second
            {1100, 870000, 13, "849.6K"},  // 13 again
            {1200, 880000, 12, "859.4K"},  // a second after the last change
            {2300, 870000, 12, "859.4K"},  // back up by one: jitter
            {3400, 860000, 14, "839.8K"},  // up by two: the download really slowed
        };
        dlg.rateWindow.AddSample(0, 10000);
        dlg.rateWindow.AddSample(1000, 10000);
        for (const Step& s : steps) {
            SCOPED_TRACE(s.tick);
            tp.system.tick = s.tick;
            dlg.transferredBytes = s.done;
            dlg.UpdateProgressDisplay(0, 100, last);
            EXPECT_EQ(w.Text(res::kIdTimeRemaining), Text121(0, 0, s.shown, s.shownDone, "976.6K"));
            EXPECT_EQ(last, s.shown);
        }
    });
}

}  // namespace
}  // namespace fw
