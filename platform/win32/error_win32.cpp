#include "platform/win32/error_win32.h"

#include <array>
#include <cstdio>

#include "platform/win32/windows_win32.h"

namespace fw {

std::string LastErrorText() {
    DWORD code = GetLastError();
    std::array<char, 512> text{};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text.data(),
                                  static_cast<DWORD>(text.size()), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ')) {
        --length;
    }
    std::array<char, 32> number{};
    std::snprintf(number.data(), number.size(), "error %lu", static_cast<unsigned long>(code));
    if (length == 0) return number.data();
    return std::string(text.data(), length) + " (" + number.data() + ")";
}

}  // namespace fw
