#pragma once
// A message box for texts the system's own box cannot show whole within the screen (a name
// from the server thousands of characters long): the whole text in a read-only edit control
// that scrolls, in a box no larger than two thirds of the screen, with the buttons of its type.

#include <string_view>

#include "platform/win32/windows_win32.h"

namespace fw {

// Runs the box modally over `owner` (disabled meanwhile) and gives what MessageBoxA gives for
// `type`: IDOK, IDYES, IDNO or IDCANCEL. Types other than MB_OK, MB_OKCANCEL, MB_YESNO and
// MB_YESNOCANCEL, or a box that could not be made, give -1.
int ScrollingMessageBox(HWND owner, std::string_view text, std::string_view caption,
                        unsigned type);

}  // namespace fw
