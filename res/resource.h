#pragma once
// Resource numbers: dialog templates, the icon, control ids and string ids.

namespace fw::res {

// Dialog templates and the icon.
inline constexpr int kAboutDialog = 100;
inline constexpr int kMainDialog = 102;
inline constexpr int kAppIcon = 128;
inline constexpr int kBetaDirDialog = 129;

// Controls of the main dialog.
inline constexpr int kIdDownload = 1;  // the dialog's OK command
inline constexpr int kIdCancel = 2;    // the dialog's cancel command
inline constexpr int kIdInstall = 3;
inline constexpr int kIdCheck = 4;
inline constexpr int kIdUpdateList = 1000;
inline constexpr int kIdInstructions = 1001;
inline constexpr int kIdStatus = 1002;
inline constexpr int kIdFileProgress = 1003;
inline constexpr int kIdExit = 1004;
inline constexpr int kIdTotalProgress = 1005;
inline constexpr int kIdTimeRemaining = 1006;
inline constexpr int kIdBetaVersion = 1008;
inline constexpr int kIdFolder = 1010;

// Controls of the about box and the beta folder dialog.
inline constexpr int kIdVersion = 1011;
inline constexpr int kIdBetaDirEdit = 1012;
inline constexpr int kIdBrowse = 1013;
inline constexpr int kIdReleaseDirLabel = 1014;
inline constexpr int kIdTrust = 1015;

// The about-box entry of the system menu.
inline constexpr unsigned kIdmAboutBox = 0x0010;

// Strings.
inline constexpr int kStrAboutMenu = 101;
inline constexpr int kStrSocketsFailed = 103;
inline constexpr int kStrNotInstalled = 104;
inline constexpr int kStrStep1 = 105;
inline constexpr int kStrDownloaded = 106;
inline constexpr int kStrUpdateServer = 107;
inline constexpr int kStrRegistryKey = 108;
inline constexpr int kStrInstallDirKey = 109;
inline constexpr int kStrBetaDefinitions = 110;
inline constexpr int kStrReleaseDefinitions = 111;
inline constexpr int kStrNoConnection = 112;
inline constexpr int kStrNoSession = 113;
inline constexpr int kStrError = 114;
inline constexpr int kStrUnavailable = 115;
inline constexpr int kStrBadFormat = 118;
inline constexpr int kStrListed = 119;
inline constexpr int kStrComplete = 120;
inline constexpr int kStrTimeRemaining = 121;
inline constexpr int kStrCancelQuestion = 122;
inline constexpr int kStrCancelCaption = 123;
inline constexpr int kStrBadChecksum = 124;
inline constexpr int kStrRetryQuestion = 125;
inline constexpr int kStrRetryCaption = 126;
inline constexpr int kStrRetryBusyQuestion = 200;
inline constexpr int kStrCheckBusyQuestion = 180;
inline constexpr int kStrWriteFailed = 127;
inline constexpr int kStrInstallNext = 129;
inline constexpr int kStrNoBeta = 130;
inline constexpr int kStrNote = 131;
inline constexpr int kStrCannotCreateFile = 132;
inline constexpr int kStrNotOnServer = 134;
inline constexpr int kStrDownloadFailed = 135;
inline constexpr int kStrNewerDefinitions = 136;
inline constexpr int kStrExitQuestion = 137;
inline constexpr int kStrExitCaption = 138;
inline constexpr int kStrSourceDirKey = 140;
inline constexpr int kStrInstalling = 141;
inline constexpr int kStrClickInstall = 142;
inline constexpr int kStrNothingToInstall = 143;
inline constexpr int kStrBrowseTitle = 144;
inline constexpr int kStrBetaSameDir = 145;
inline constexpr int kStrBetaCannotCreate = 146;
inline constexpr int kStrBetaNotDir = 147;
inline constexpr int kStrBetaControlChar = 173;
inline constexpr int kStrBetaNotRemembered = 174;
inline constexpr int kStrUpdaterNameClash = 175;
inline constexpr int kStrUpdaterNotStarted = 148;
// Signed definitions and verified updaters (a program with trusted keys).
inline constexpr int kStrDefsUnsigned = 149;
inline constexpr int kStrDefsUnknownKey = 150;
inline constexpr int kStrDefsSignatureDamaged = 151;
inline constexpr int kStrDefsBadSignature = 152;
inline constexpr int kStrDefsLinesAfter = 153;
inline constexpr int kStrDefsNoSerial = 154;
inline constexpr int kStrDefsOtherFile = 155;
inline constexpr int kStrDefsOlderSerial = 156;
inline constexpr int kStrDefsNoDigest = 157;
inline constexpr int kStrFileAltered = 158;
inline constexpr int kStrUpdaterAltered = 159;
inline constexpr int kStrServerIdentity = 160;
inline constexpr int kStrDownloadIdentity = 161;
inline constexpr int kStrInfoServerIdentity = 162;
inline constexpr int kStrTempNotPrivate = 163;
// The notification of a check nobody started by hand, and that check's console lines.
inline constexpr int kStrNotifyTitle = 183;
inline constexpr int kStrNotifyBody = 184;
inline constexpr int kStrNotifyMore = 185;
inline constexpr int kStrNotifyUpdateNow = 186;
inline constexpr int kStrNotifyLater = 187;
inline constexpr int kStrNotifySkip = 188;
inline constexpr int kStrNotifyOffline = 189;
inline constexpr int kStrNotifyMetered = 190;
inline constexpr int kStrNotifySkipped = 191;
inline constexpr int kStrNotifyUsage = 192;
inline constexpr int kStrTrustsKeys = 164;
inline constexpr int kStrTrustsNothing = 165;
inline constexpr int kStrConsoleNoKeys = 166;
inline constexpr int kStrPlainInfoServer = 167;
inline constexpr int kStrPlainUpdater = 168;
inline constexpr int kStrDefsExpired = 169;
inline constexpr int kStrDefsBadExpiry = 170;

}  // namespace fw::res
