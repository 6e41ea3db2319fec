#pragma once
// The clock and the keyboard of a Windows host.

#include <string>
#include <utility>

#include "platform/system.h"

namespace fw {

class Win32System : public System {
public:
    // `cacheFolder`: what CacheFolder gives (UserCacheFolder() for the program; none for tools).
    explicit Win32System(std::string cacheFolder = {}) : cacheFolder(std::move(cacheFolder)) {}
    std::uint32_t GetTickCount() override;
    bool IsShiftDown() override;
    std::int64_t UnixTime() override;
    std::string CacheFolder() override { return cacheFolder; }

private:
    std::string cacheFolder;
};

// The program's folder below %LOCALAPPDATA%; empty when there is none or its name cannot be
// written in the ANSI code page the file functions take.
std::string UserCacheFolder();

}  // namespace fw
