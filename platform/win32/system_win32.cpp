#include "platform/win32/system_win32.h"

#include "platform/win32/windows_win32.h"

namespace fw {

std::uint32_t Win32System::GetTickCount() { return ::GetTickCount(); }

std::int64_t Win32System::UnixTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    // 100-nanosecond steps since 1601-01-01; 11644473600 seconds lie between 1601 and 1970.
    std::uint64_t steps = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>(steps / 10000000u) - 11644473600LL;
}

// The high bit of the key state is set while the key is down.
bool Win32System::IsShiftDown() {
    return (static_cast<unsigned short>(::GetKeyState(VK_SHIFT)) & 0x8000u) != 0;
}

}  // namespace fw
