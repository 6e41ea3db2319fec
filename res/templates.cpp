#include "res/templates.h"

#include "platform/ui/win_constants.h"
#include "res/resource.h"

namespace fw::res {
namespace {

using K = ControlKind;
constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kTab = kChild | WS_TABSTOP;
constexpr std::uint32_t kModalStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION |
                                      WS_SYSMENU;

constexpr ControlTemplate kAboutControls[] = {
    {kNoControlId, K::kIcon, "", kChild | SS_ICON, {11, 17, 21, 20}, kAppIcon},
    {kIdVersion, K::kStatic, "Version %d.", kChild | SS_LEFT | SS_NOPREFIX, {41, 10, 224, 8}},
    {kIdTrust, K::kStatic, "", kChild | SS_LEFT | SS_NOPREFIX, {41, 21, 244, 8}},
    {kNoControlId, K::kStatic, "Copyright (C) Corvallen. All rights reserved.",
     kChild | SS_LEFT, {41, 33, 207, 8}},
    {IDOK, K::kPushButton, "OK", kTab | WS_GROUP | BS_DEFPUSHBUTTON, {127, 52, 50, 14}},
};

constexpr ControlTemplate kMainControls[] = {
    {kNoControlId, K::kGroupBox, "Instructions", kChild | BS_GROUPBOX, {7, 7, 297, 47}},
    {kIdInstructions, K::kStatic, "", kChild | SS_LEFT, {13, 16, 285, 33}, 0, kNoControlId,
     true},
    {kNoControlId, K::kStatic, "Fablewright Folder:", kChild | SS_LEFT, {7, 59, 62, 8}},
    {kIdFolder, K::kStatic, "Folder", kChild | SS_LEFT | SS_NOPREFIX, {74, 59, 230, 8}},
    {kNoControlId, K::kStatic, "&Available Updates", kChild | SS_LEFT, {7, 70, 58, 8}},
    {kIdUpdateList, K::kListBox, "",
     kTab | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT,
     {7, 80, 297, 46}, 0, kIdInstructions},
    {kIdCheck, K::kPushButton, "&Check", kTab | BS_PUSHBUTTON, {7, 132, 35, 14}},
    {kIdDownload, K::kPushButton, "&Download", kTab | BS_PUSHBUTTON, {52, 132, 40, 14}},
    {kIdInstall, K::kPushButton, "&Install", kTab | BS_PUSHBUTTON, {102, 132, 35, 14}},
    {kIdCancel, K::kPushButton, "Cancel", kTab | BS_PUSHBUTTON, {147, 132, 36, 14}},
    {kIdExit, K::kPushButton, "E&xit", kTab | BS_PUSHBUTTON, {193, 132, 32, 14}},
    {kIdBetaVersion, K::kCheckBox, "&Beta Version", kTab | BS_AUTOCHECKBOX, {232, 135, 72, 10}},
    {kIdStatus, K::kStatic, "", kChild | SS_LEFT, {7, 151, 207, 8}, 0, kNoControlId, true},
    // Hidden labels: they name the bars, as the static before a control names it on Windows.
    {kNoControlId, K::kStatic, "Current file progress", WS_CHILD | SS_LEFT, {224, 151, 80, 9}},
    {kIdFileProgress, K::kProgress, "", kChild | PBS_BORDERED, {224, 151, 80, 9}, 0, kIdStatus},
    {kIdTimeRemaining, K::kStatic, "Total Time Remaining: %s", kChild | SS_LEFT,
     {7, 165, 212, 9}},
    {kNoControlId, K::kStatic, "Whole download progress", WS_CHILD | SS_LEFT, {224, 165, 80, 9}},
    {kIdTotalProgress, K::kProgress, "", kChild | PBS_BORDERED, {224, 165, 80, 9}, 0,
     kIdTimeRemaining},
};

// The explanation comes first, so that a screen reader reads it before the controls.
constexpr ControlTemplate kBetaDirControls[] = {
    {kIdReleaseDirLabel, K::kStatic,
     "The release version of Fablewright is installed in %s. The beta version must be "
     "installed in a separate directory, which you must select below.",
     kChild | SS_LEFT, {7, 7, 259, 25}},
    {kNoControlId, K::kStatic,
     "The release version will be left intact. The registry and file extension associations "
     "will remain with the release version. You will be able to independently run and "
     "uninstall the release and beta versions.",
     kChild | SS_LEFT, {7, 38, 259, 28}},
    {kNoControlId, K::kStatic,
     "Select the directory where the beta version of Fablewright should be installed.",
     kChild | SS_LEFT, {7, 72, 259, 8}},
    {kIdBetaDirEdit, K::kEdit, "", kTab | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL,
     {7, 92, 190, 12}},
    {kIdBrowse, K::kPushButton, "&Browse", kTab | BS_PUSHBUTTON, {216, 91, 50, 14}},
    {IDOK, K::kPushButton, "OK", kTab | BS_DEFPUSHBUTTON, {7, 114, 50, 14}},
    {IDCANCEL, K::kPushButton, "Cancel", kTab | BS_PUSHBUTTON, {216, 114, 50, 14}},
};

const DialogTemplate kAbout{kAboutDialog, "About Fablewright Update Downloader", kModalStyle, 0,
                            {0, 0, 290, 73}, "MS Sans Serif", 8, kAboutControls};
const DialogTemplate kMain{kMainDialog, "Fablewright Update Downloader",
                           kModalStyle | WS_VISIBLE, WS_EX_APPWINDOW, {0, 0, 311, 182},
                           "MS Sans Serif", 8, kMainControls};
const DialogTemplate kBetaDir{kBetaDirDialog, "Select Beta Installation Directory", kModalStyle,
                              0, {0, 0, 273, 135}, "MS Sans Serif", 8, kBetaDirControls};

}  // namespace

const DialogTemplate& AboutDialogTemplate() { return kAbout; }
const DialogTemplate& MainDialogTemplate() { return kMain; }
const DialogTemplate& BetaDirDialogTemplate() { return kBetaDir; }

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate* t : {&kAbout, &kMain, &kBetaDir}) {
        if (t->id == id) return t;
    }
    return nullptr;
}

}  // namespace fw::res
