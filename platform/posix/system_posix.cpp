#include "platform/posix/system_posix.h"

#include <time.h>

namespace fw {

std::uint32_t PosixSystem::GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Milliseconds modulo 2^32, computed in unsigned arithmetic so the wrap is well defined.
    auto ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
              static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
    return static_cast<std::uint32_t>(ms);
}

std::int64_t PosixSystem::UnixTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
}

}  // namespace fw
