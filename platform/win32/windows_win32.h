#pragma once
// The Windows headers for our Win32 sources. Include this LAST: <windows.h> defines macros
// such as IDOK, MB_OK and WS_CHILD that would break our own constants of the same names if
// they came later, and the names of our interfaces (MessageBox, CreateDirectory, ...) would
// turn into their ...A forms. Those function macros are undone here; our code calls the ANSI
// functions by their explicit names.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <wininet.h>
#include <winsock2.h>

#undef CreateDirectory
#undef CreateFile
#undef DrawText
#undef GetEnvironmentVariable
#undef GetFileTitle
#undef GetFileVersionInfo
#undef GetDlgItemText
#undef LoadIcon
#undef LoadString
#undef MessageBox
#undef SetDlgItemText
#undef SetEnvironmentVariable
#undef GetClassName
#undef PostMessage
#undef SendMessage
#undef DispatchMessage
#undef GetObject
#undef GetProfileString
