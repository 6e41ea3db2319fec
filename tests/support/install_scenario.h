#pragma once
// The Install step without a server: the dialog is put where a completed download leaves it,
// with copies of the test updater as the downloaded updaters, and the user clicks Install.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "session/update_downloader_dlg.h"
#include "tests/support/test_platform.h"
#include "tests/support/test_updater.h"

namespace fw::test {

class InstallScenario : public ::testing::Test {
protected:
    InstallScenario();

    struct Updater {
        std::string name;  // templateName
        std::string file;  // below the temp folder; copied from the test updater when `copy`
        bool copy = true;
    };

    // Runs the main dialog; `script` acts as the user while it is open. With `args` empty the
    // install folder comes from the registry.
    std::intptr_t Run(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script,
                      const CommandLine& args = CommandLine{});

    // The state a download of `updaters` leaves, with `listed` in the list box: the entries with
    // their local paths, downloadedFiles, step 3 with text 106, "&Install" enabled, default and
    // focused, the state Downloaded.
    void Downloaded(HeadlessWindow& w, CUpdateDownloaderDlg& dlg,
                    const std::vector<Updater>& updaters, const std::vector<std::string>& listed);

    // Waits (bounded) for the updater that the click started to end, then fires the timer.
    void FinishUpdater(HeadlessWindow& w, CUpdateDownloaderDlg& dlg);
    // Clicks Install and lets the updater run to its end.
    void InstallNext(HeadlessWindow& w, CUpdateDownloaderDlg& dlg);

    std::string TempPath(const std::string& file) const;
    std::vector<UpdaterRun> Runs() const { return ReadUpdaterLog(logPath); }
    static std::string Text(int id);

    TestPlatform tp;
    EnvironmentGuard environment;
    std::string installFolder;
    std::string logPath;
};

}  // namespace fw::test
