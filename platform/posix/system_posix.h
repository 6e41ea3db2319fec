#pragma once
// The clock of a POSIX host without a window system of its own to ask for the keyboard.

#include <string>
#include <utility>

#include "platform/system.h"

namespace fw {

class PosixSystem : public System {
public:
    // `cacheFolder`: what CacheFolder gives (UserCacheFolder() for the program; none for tools).
    explicit PosixSystem(std::string cacheFolder = {}) : cacheFolder(std::move(cacheFolder)) {}
    std::uint32_t GetTickCount() override;
    // Without a display there is no keyboard to ask; hosts with one override this.
    bool IsShiftDown() override { return false; }
    std::int64_t UnixTime() override;
    std::string CacheFolder() override { return cacheFolder; }

private:
    std::string cacheFolder;
};

}  // namespace fw
