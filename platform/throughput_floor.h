#pragma once
// The least a server must deliver: a request that brings fewer than a set number of bytes in
// any stretch of a set length spent waiting for it is given up, so that a server that trickles
// a few bytes a second cannot hold a check or a download for days. Only time spent waiting
// counts; time the caller spends on what it has read does not. The same rule on every host.

#include <chrono>
#include <cstdint>
#include <deque>

#include "platform/http_client.h"

namespace fw {

class ThroughputFloor {
public:
    using Duration = std::chrono::steady_clock::duration;

    explicit ThroughputFloor(ThroughputLimit limit = {}) : limit(limit) {}

    // `waited`: how long the caller waited since the last call; `arrived`: the bytes that came
    // since then. False once some whole window of waiting has brought fewer than the limit.
    bool Record(Duration waited, std::uint64_t arrived);

private:
    struct Arrival {
        Duration at;          // on the waiting clock
        std::uint64_t bytes;
    };
    ThroughputLimit limit;
    Duration clock{0};
    std::deque<Arrival> arrivals;  // within the last window, one per slice of it at most
    std::uint64_t inWindow = 0;
};

}  // namespace fw
