#pragma once
// The clocks, the keyboard state and where this user's kept copies go.

#include <cstdint>
#include <string>

namespace fw {

class System {
public:
    virtual ~System() = default;
    // Milliseconds since some fixed point; wraps around after 2^32.
    virtual std::uint32_t GetTickCount() = 0;
    // Whether a Shift key is held down at this moment.
    virtual bool IsShiftDown() = 0;
    // The calendar time: seconds since 1970-01-01 00:00:00 UTC, by the system's clock.
    virtual std::int64_t UnixTime() = 0;
    // The program's own folder in this user's cache folder (it may not exist yet): files kept
    // only to save work, which may be deleted at any time. Empty: nothing is kept.
    virtual std::string CacheFolder() { return {}; }
};

}  // namespace fw
