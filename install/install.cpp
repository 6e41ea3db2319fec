// The Install step: one updater per click, in list order, polled once a second until it ends.
// The updaters learn how to install from our own environment, which they inherit.

#include <string>

#include "download/verify.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

constexpr unsigned kPollTimer = 1;
constexpr unsigned kPollPeriodMs = 1000;
constexpr std::string_view kAutoInstallVariable = "FABLEWRIGHTAUTOINSTALL";
constexpr std::string_view kInstallFlagsVariable = "InstallFlags";

}  // namespace

void CUpdateDownloaderDlg::OnInstall() {
    bool beta = (betaCheckBox.GetState() & 0x3) == BST_CHECKED;
    installButton.EnableWindow(false);

    if (beta && betaDir.empty() && !SelectBetaInstallDir()) {
        installButton.EnableWindow(true);
        return;
    }
    if (updateList.GetCount() <= 0) {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrNothingToInstall);
        installButton.EnableWindow(true);
        return;
    }
    updateList.EnableWindow(false);
    processInfo.Clear();

    Processes& processes = platform.processes;
    if (platform.system.IsShiftDown()) {
        autoInstall = !autoInstall;
        if (autoInstall) {
            processes.SetEnvironmentVariable(kAutoInstallVariable, "TRUE");
        } else {
            processes.UnsetEnvironmentVariable(kAutoInstallVariable);
        }
    }
    // Present, if empty, for a release installation: the updater tells the two apart by value.
    processes.SetEnvironmentVariable(kInstallFlagsVariable, beta ? "Beta" : "");

    std::string name;
    updateList.GetText(0, name);
    if (UpdateEntry* entry = updateEntries.FindByName(name)) {
        startupInfo = StartupInfo{};
        startupInfo.size = kStartupInfoSize;
        processInfo.Clear();
        std::string error;
        bool altered = false;
        // The updater must still be what the definitions named: the digest is taken from the
        // very file that then starts.
        ProgramCheck check;
        if (entry->expectedDigest) {
            check = [&](ReadableFile& program) {
                return ReadableHasDigest(program, *entry->expectedDigest);
            };
        }
        processInfo.process = processes.StartChecked(entry->LocalPath(), check, altered, error);
        if (!processInfo.process) {
            // Nothing ran, so nothing counts as installed: the template stays first in the list
            // and the environment stays as the next try should find it.
            if (altered) {
                platform.files.Remove(entry->LocalPath());
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrUpdaterAltered,
                            entry->LocalPath());
            } else {
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrUpdaterNotStarted,
                            entry->LocalPath());
            }
            updateList.EnableWindow(true);
            installButton.EnableWindow(true);
            installButton.SetFocus();
            return;
        }
        processInfo.processId = processInfo.process->ProcessId();
    }
    // Without a matching record nothing is started; the first tick drops the name as if its
    // updater had run.

    // From now on every updater gets the variable; the one just started did not, unless this
    // program inherited it or the click was made with Shift held.
    if (autoInstall) processes.SetEnvironmentVariable(kAutoInstallVariable, "TRUE");

    SetTimer(kPollTimer, kPollPeriodMs);
    statusText.SetWindowText(Format(res::LoadString(res::kStrInstalling), name));
}

void CUpdateDownloaderDlg::OnTimer(unsigned) {
    std::uint32_t code = 0;
    if (processInfo.process && processInfo.process->GetExitCode(code) && code == STILL_ACTIVE) {
        return;
    }
    // Ended, whatever its exit code: the code only tells running from ended.
    KillTimer(kPollTimer);
    processInfo.Clear();
    updateList.DeleteString(0);

    if (updateList.GetCount() > 0) {
        installButton.EnableWindow(true);
        installButton.SetFocus();
        updateList.EnableWindow(true);
        std::string next;
        updateList.GetText(0, next);
        statusText.SetWindowText(Format(res::LoadString(res::kStrClickInstall), next));
        ++stepNumber;
        SetDlgItemText(res::kIdInstructions,
                       Format(res::LoadString(res::kStrInstallNext), stepNumber, next));
        return;
    }
    allInstalled = 1;
    exitButton.SetFocus();
    installButton.EnableWindow(false);
    installButton.SetButtonStyle(BS_PUSHBUTTON, true);
    exitButton.SetButtonStyle(BS_DEFPUSHBUTTON, true);
    workflowState = WorkflowState::Complete;
    statusText.SetWindowText("Update complete.");
    SetDlgItemText(res::kIdInstructions, res::LoadString(res::kStrComplete));
}

}  // namespace fw
