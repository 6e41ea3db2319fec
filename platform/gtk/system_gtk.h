#pragma once
// The clock and the keyboard of a GTK desktop.

#include "platform/system.h"

namespace fw {

class GtkSystem : public System {
  public:
    // Milliseconds of the monotonic clock, modulo 2^32.
    std::uint32_t GetTickCount() override;
    // Whether Shift is held, from the keyboard state of the default display; false without one.
    bool IsShiftDown() override;
    std::int64_t UnixTime() override;
};

}  // namespace fw
