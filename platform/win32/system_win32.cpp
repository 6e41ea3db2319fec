#include "platform/win32/system_win32.h"

#include <memory>

#include "platform/path.h"
#include "platform/win32/windows_win32.h"

#include <knownfolders.h>

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

std::string UserCacheFolder() {
    PWSTR wide = nullptr;
    HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &wide);
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(wide, &CoTaskMemFree);
    if (FAILED(result) || wide == nullptr) return {};
    int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string folder(static_cast<std::size_t>(size), '\0');
    BOOL lossy = FALSE;
    // A name the code page cannot hold would lead the file functions elsewhere.
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, folder.data(), size, nullptr, &lossy) != size ||
        lossy) {
        return {};
    }
    folder.resize(static_cast<std::size_t>(size - 1));
    return JoinPath(JoinPath(folder, "Corvallen"), "Fablewright");
}

}  // namespace fw
