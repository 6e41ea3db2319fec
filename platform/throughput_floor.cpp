#include "platform/throughput_floor.h"

namespace fw {
namespace {

// Arrivals this close together on the waiting clock are kept as one, stamped with the later
// time: a window then holds a bounded number of them, and bytes are counted a little longer,
// never a little shorter.
constexpr int kSlicesPerWindow = 32;

}  // namespace

bool ThroughputFloor::Record(Duration waited, std::uint64_t arrived) {
    if (limit.window <= Duration::zero()) return true;
    clock += waited;
    if (arrived > 0) {
        Duration slice = limit.window / kSlicesPerWindow;
        if (!arrivals.empty() && clock - arrivals.back().at < slice) {
            arrivals.back().at = clock;
            arrivals.back().bytes += arrived;
        } else {
            arrivals.push_back({clock, arrived});
        }
        inWindow += arrived;
    }
    while (!arrivals.empty() && arrivals.front().at <= clock - limit.window) {
        inWindow -= arrivals.front().bytes;
        arrivals.pop_front();
    }
    return clock < limit.window || inWindow >= limit.minBytes;
}

}  // namespace fw
