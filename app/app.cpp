#include "app/app.h"

#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"

namespace fw {

bool CUpdateDownloaderApp::InitInstance() {
    if (!platform.http.Startup()) {
        platform.ui.MessageBox(nullptr, res::LoadString(res::kStrSocketsFailed), res::kAppName,
                               MB_OK);
        return false;
    }
    CUpdateDownloaderDlg dialog(platform, argc, argv);
    dialog.DoModal();
    return false;
}

}  // namespace fw
