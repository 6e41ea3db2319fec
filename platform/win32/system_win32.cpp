#include "platform/win32/system_win32.h"

#include "platform/win32/windows_win32.h"

namespace fw {

std::uint32_t Win32System::GetTickCount() { return ::GetTickCount(); }

// The high bit of the key state is set while the key is down.
bool Win32System::IsShiftDown() {
    return (static_cast<unsigned short>(::GetKeyState(VK_SHIFT)) & 0x8000u) != 0;
}

}  // namespace fw
