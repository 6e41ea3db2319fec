#pragma once
// Values the dialogs exchange with their host. They keep the numbers that Windows gives them on
// every host, so that a result or a style means the same everywhere.

#include <cstdint>

namespace fw {

// Dialog results and message-box answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message-box types.
inline constexpr unsigned MB_OK = 0x00000000;
inline constexpr unsigned MB_OKCANCEL = 0x00000001;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr unsigned MB_YESNOCANCEL = 0x00000003;
inline constexpr unsigned MB_YESNO = 0x00000004;
inline constexpr unsigned MB_RETRYCANCEL = 0x00000005;
inline constexpr unsigned MB_TYPEMASK = 0x0000000F;
inline constexpr unsigned MB_ICONHAND = 0x00000010;
inline constexpr unsigned MB_ICONQUESTION = 0x00000020;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x00000030;
inline constexpr unsigned MB_ICONASTERISK = 0x00000040;
inline constexpr unsigned MB_ICONMASK = 0x000000F0;
inline constexpr unsigned MB_DEFBUTTON1 = 0x00000000;
inline constexpr unsigned MB_DEFBUTTON2 = 0x00000100;
inline constexpr unsigned MB_DEFBUTTON3 = 0x00000200;
inline constexpr unsigned MB_DEFMASK = 0x00000F00;

// Push-button styles and button states.
inline constexpr unsigned BS_PUSHBUTTON = 0x00000000;
inline constexpr unsigned BS_DEFPUSHBUTTON = 0x00000001;
inline constexpr unsigned BS_AUTOCHECKBOX = 0x00000003;
inline constexpr unsigned BS_GROUPBOX = 0x00000007;
inline constexpr int BST_UNCHECKED = 0x0000;
inline constexpr int BST_CHECKED = 0x0001;
inline constexpr int BST_PUSHED = 0x0004;
inline constexpr int BST_FOCUS = 0x0008;

// Notifications.
inline constexpr int BN_CLICKED = 0;
inline constexpr int LBN_DBLCLK = 2;

// List-box results.
inline constexpr int LB_ERR = -1;

// System commands and menu flags.
inline constexpr unsigned SC_CLOSE = 0xF060;
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_RESTORE = 0xF120;
inline constexpr unsigned MF_STRING = 0x00000000;
inline constexpr unsigned MF_SEPARATOR = 0x00000800;

// Process exit code of a program that is still running.
inline constexpr std::uint32_t STILL_ACTIVE = 259;

// Window styles used by the dialog templates.
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_HSCROLL = 0x00100000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_DISABLED = 0x08000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t DS_MODALFRAME = 0x00000080;
inline constexpr std::uint32_t DS_SETFONT = 0x00000040;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;
inline constexpr std::uint32_t SS_LEFT = 0x00000000;
inline constexpr std::uint32_t SS_ICON = 0x00000003;
inline constexpr std::uint32_t SS_NOPREFIX = 0x00000080;
inline constexpr std::uint32_t LBS_NOTIFY = 0x00000001;
inline constexpr std::uint32_t LBS_SORT = 0x00000002;
inline constexpr std::uint32_t LBS_NOINTEGRALHEIGHT = 0x00000100;
inline constexpr std::uint32_t ES_LEFT = 0x00000000;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x00000080;
inline constexpr std::uint32_t PBS_BORDERED = WS_BORDER;

}  // namespace fw
