#include "platform/path.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"

namespace fw {

void CUpdateDownloaderDlg::TakeInventory() {
    updateList.ResetContent();
    installedSystems.clear();

    std::string folder = InstallFolder();
    if (!platform.files.FindFiles(JoinPath(folder, "Fablewright.exe")).empty()) {
        installedSystems.push_back("Fablewright");
    }
    for (const std::string& name : platform.files.FindFiles(JoinPath(folder, "*.gsi"))) {
        std::string system = platform.files.GetProfileString(JoinPath(folder, name),
                                                             "Configuration", "GameSystem", "", 256);
        if (!system.empty()) installedSystems.push_back(system);
    }
}

}  // namespace fw
