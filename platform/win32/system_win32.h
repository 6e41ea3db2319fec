#pragma once
// The clock and the keyboard of a Windows host.

#include "platform/system.h"

namespace fw {

class Win32System : public System {
public:
    std::uint32_t GetTickCount() override;
    bool IsShiftDown() override;
    std::int64_t UnixTime() override;
};

}  // namespace fw
