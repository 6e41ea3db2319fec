#include "tests/support/install_scenario.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/path.h"
#include "res/resource.h"
#include "res/strings.h"

namespace fw::test {

InstallScenario::InstallScenario()
    : environment(*tp.processes, UpdaterVariables()),
      installFolder(tp.dir.Path("Fablewright")),
      logPath(tp.dir.Path("updater-log.txt")) {
    std::filesystem::create_directories(installFolder);
    tp.dir.Write("Fablewright/Fablewright.exe", "MZ");
    tp.RegisterInstallFolder(installFolder);
    // This program was not started with any of the updaters' variables.
    for (const std::string& name : UpdaterVariables()) tp.processes->UnsetEnvironmentVariable(name);
    tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_LOG", logPath);
}

std::intptr_t InstallScenario::Run(
    std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script, const CommandLine& args) {
    CUpdateDownloaderDlg dlg(tp.platform(), args.argc(), args.argv());
    tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) { script(w, dlg); });
    return dlg.DoModal();
}

std::string InstallScenario::TempPath(const std::string& file) const {
    return JoinPath(JoinPath(installFolder, "temp"), file);
}

void InstallScenario::Downloaded(HeadlessWindow& w, CUpdateDownloaderDlg& dlg,
                                 const std::vector<Updater>& updaters,
                                 const std::vector<std::string>& listed) {
    dlg.tempFolder = JoinPath(installFolder, "temp");
    std::filesystem::create_directories(dlg.tempFolder);
    for (const Updater& u : updaters) {
        std::string path = TempPath(u.file);
        if (u.copy) CopyTestUpdater(path);
        dlg.updateEntries.Add(UpdateEntry{u.name, "http://updates.test/files/" + u.file,
                                          std::make_shared<const std::string>(path), 0, 0});
        if (std::find(dlg.downloadedFiles.begin(), dlg.downloadedFiles.end(), path) ==
            dlg.downloadedFiles.end()) {
            dlg.downloadedFiles.push_back(path);
        }
    }
    int i = 0;
    for (const std::string& name : listed) dlg.updateList.InsertString(i++, name);
    dlg.workflowState = WorkflowState::Downloaded;
    dlg.stepNumber = 3;
    dlg.SetDlgItemText(res::kIdInstructions, Format(Text(res::kStrDownloaded), 3));
    dlg.statusText.SetWindowText("Download complete.");
    dlg.checkButton.EnableWindow(false);
    dlg.checkButton.SetButtonStyle(BS_PUSHBUTTON, true);
    dlg.installButton.EnableWindow(true);
    dlg.installButton.SetButtonStyle(BS_DEFPUSHBUTTON, true);
    dlg.installButton.SetFocus();
    ASSERT_EQ(w.focus, res::kIdInstall);
}

void InstallScenario::FinishUpdater(HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
    if (dlg.processInfo.process) {
        ASSERT_TRUE(WaitForExit(*dlg.processInfo.process)) << "the updater did not end";
    }
    ASSERT_TRUE(w.TickTimer(1)) << "the poll timer is not armed";
}

void InstallScenario::InstallNext(HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
    ASSERT_TRUE(w.Click(res::kIdInstall));
    FinishUpdater(w, dlg);
}

std::string InstallScenario::Text(int id) { return std::string(res::LoadString(id)); }

}  // namespace fw::test
