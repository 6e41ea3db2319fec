#pragma once
// The clock and the keyboard of a GTK desktop.

#include <string>
#include <utility>

#include "platform/system.h"

namespace fw {

class GtkSystem : public System {
  public:
    // `cacheFolder`: what CacheFolder gives (none for tests and tools).
    explicit GtkSystem(std::string cacheFolder = {}) : cacheFolder(std::move(cacheFolder)) {}
    // Milliseconds of the monotonic clock, modulo 2^32.
    std::uint32_t GetTickCount() override;
    // Whether Shift is held, from the keyboard state of the default display; false without one.
    bool IsShiftDown() override;
    std::int64_t UnixTime() override;
    std::string CacheFolder() override { return cacheFolder; }

  private:
    std::string cacheFolder;
};

}  // namespace fw
