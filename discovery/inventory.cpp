#include "discovery/inventory.h"

#include "platform/path.h"
#include "session/update_downloader_dlg.h"

namespace fw {

bool ContainsName(const TextList& list, std::string_view name) {
    for (const std::string& entry : list) {
        if (EqualsNoCase(entry, name)) return true;
    }
    return false;
}

void CUpdateDownloaderDlg::TakeInventory() {
    updateList.ResetContent();
    installedSystems.clear();

    const std::string folder = InstallFolder();
    if (!platform.files.FindFiles(JoinPath(folder, kProductExecutable)).empty()) {
        installedSystems.emplace_back(kProductSystemName);
    }
    for (const std::string& name : platform.files.FindFiles(JoinPath(folder, kTemplatePattern))) {
        std::string system = platform.files.GetProfileString(
            JoinPath(folder, name), kTemplateSection, kTemplateKey, "", kTemplateNameBuffer);
        if (!system.empty()) installedSystems.push_back(std::move(system));
    }
    // A check that fails part way may have appended "equiv" names; the next check goes back to
    // this many.
    inventorySize = installedSystems.size();
}

}  // namespace fw
