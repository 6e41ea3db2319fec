#include "download/progress.h"

#include <limits>

#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"

namespace fw {
namespace {

constexpr std::int32_t kKilo = 1024;
constexpr std::int32_t kMega = 1048576;

// part / whole × 100, truncated, kept inside the bar's range. The division comes first, as the
// display has always computed it, so that the truncation lands on the same whole numbers.
int Percent(std::int64_t part, std::int64_t whole) {
    if (whole <= 0 || part <= 0) return 0;
    double percent = static_cast<double>(part) / static_cast<double>(whole) * 100.0;
    if (percent >= 100.0) return 100;
    return static_cast<int>(percent);
}

}  // namespace

std::string FormatSize(std::int32_t bytes) {
    if (bytes > kMega) return Format("%3.1fM", static_cast<double>(bytes) * (1.0 / kMega));
    if (bytes > kKilo) return Format("%3.1fK", static_cast<double>(bytes) * (1.0 / kKilo));
    return Format("%ld", bytes);
}

void RateWindow::Reset() {
    first = 0;
    count = 0;
    byteSum = 0;
}

void RateWindow::AddSample(std::uint32_t tick, std::uint32_t bytes) {
    std::size_t slot;
    if (count < kCapacity) {
        slot = (first + count) % kCapacity;
        ++count;
    } else {
        // Full: the oldest sample's slot takes the new one, and the next oldest becomes first.
        slot = first;
        byteSum -= byteCounts[slot];
        first = (first + 1) % kCapacity;
    }
    byteCounts[slot] = bytes;
    tickStamps[slot] = tick;
    byteSum += bytes;
}

std::int32_t RateWindow::BytesPerSecond() const {
    if (count < 2) return -1;
    std::size_t newest = (first + count - 1) % kCapacity;
    // The newest block's bytes arrived after its stamp, outside the span.
    std::uint64_t sum = byteSum - byteCounts[newest];
    // Unsigned subtraction wraps exactly as the tick counter does.
    std::uint32_t span = tickStamps[newest] - tickStamps[first];
    if (span == 0) return 0;
    double rate = static_cast<double>(sum) / (static_cast<double>(span) * 0.001) + 0.5;
    if (rate >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(rate);
}

std::int32_t RemainingSeconds(std::int32_t transferredBytes, std::int32_t totalBytes,
                              std::int32_t bytesPerSecond) {
    if (bytesPerSecond < 1) return 0;
    // 64 bits: the difference of two 32-bit counters can pass the 32-bit range.
    std::int64_t left = static_cast<std::int64_t>(totalBytes) - transferredBytes;
    if (left <= 0) return 0;
    std::int64_t seconds = left / bytesPerSecond;
    if (seconds > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(seconds);
}

std::string TimeRemainingText(std::int32_t remainingSeconds, std::int32_t transferredBytes,
                              std::int32_t totalBytes) {
    std::int32_t seconds = remainingSeconds < 0 ? 0 : remainingSeconds;
    return Format(res::LoadString(res::kStrTimeRemaining), seconds / 3600, (seconds / 60) % 60,
                  seconds % 60, FormatSize(transferredBytes), FormatSize(totalBytes));
}

ProgressView ComputeProgress(std::int64_t receivedBytes, std::int32_t expectedSize,
                             std::int32_t transferredBytes, std::int32_t totalBytes,
                             std::int32_t bytesPerSecond, std::int32_t& lastShownSeconds) {
    ProgressView view;
    view.filePercent = Percent(receivedBytes, expectedSize);
    view.totalPercent = Percent(transferredBytes, totalBytes);
    if (bytesPerSecond < 1) {
        view.textChanged = true;  // emptied; lastShownSeconds keeps its value
        return view;
    }
    view.hasEstimate = true;
    std::int32_t remaining = RemainingSeconds(transferredBytes, totalBytes, bytesPerSecond);
    if (remaining == lastShownSeconds) return view;
    view.textChanged = true;
    view.text = TimeRemainingText(remaining, transferredBytes, totalBytes);
    lastShownSeconds = remaining;
    return view;
}

}  // namespace fw
