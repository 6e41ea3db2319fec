#pragma once
// Size texts, the transfer-rate window and the progress display of a download.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fw {

// "%ld" up to 1024 bytes (zero and negative counts included), "%3.1fK" up to 1048576, "%3.1fM"
// beyond.
std::string FormatSize(std::int32_t bytes);

// The most recent blocks of a download run: the estimate follows the current speed, not the
// average since the start.
class RateWindow {
public:
    static constexpr std::size_t kCapacity = 500;

    // Empties the window (the start of a download run).
    void Reset();
    // `tick` is the millisecond tick count taken just before the block was read, `bytes` the
    // size of the block. The oldest sample leaves when the window is full.
    void AddSample(std::uint32_t tick, std::uint32_t bytes);
    // Bytes per second over the window, rounded to the nearest whole number: the bytes of every
    // sample but the newest, over the ticks from the oldest stamp to the newest (a wrap of the
    // tick counter in between still counts as elapsed time). -1 with fewer than two samples;
    // 0 when no time has passed. A rate beyond the 32-bit range is reported as its maximum.
    std::int32_t BytesPerSecond() const;
    std::size_t Size() const { return count; }

private:
    // A ring: `first` is the oldest of `count` samples.
    std::array<std::uint32_t, kCapacity> byteCounts{};
    std::array<std::uint32_t, kCapacity> tickStamps{};
    std::size_t first = 0;
    std::size_t count = 0;
    // The byte counts of every sample in the window. 500 counts of up to 2^32 - 1 need 41 bits,
    // so the sum never wraps and the rate stays right even for absurd block sizes.
    std::uint64_t byteSum = 0;
};

// What the display shows after a block.
struct ProgressView {
    int filePercent = 0;       // 0..100
    int totalPercent = 0;      // 0..100
    bool hasEstimate = false;  // false: there is no rate yet, and the text is emptied
    bool textChanged = false;  // the time-remaining text is to be set to `text`
    std::string text;
};

// Seconds to move `transferredBytes` up to `totalBytes` at `bytesPerSecond` (which must be 1 or
// more). More bytes than announced give 0 rather than a negative time.
std::int32_t RemainingSeconds(std::int32_t transferredBytes, std::int32_t totalBytes,
                              std::int32_t bytesPerSecond);

// Message 121 for `remainingSeconds` (hours not limited to 24) and the two byte counts.
std::string TimeRemainingText(std::int32_t remainingSeconds, std::int32_t transferredBytes,
                              std::int32_t totalBytes);

// Computes the display after a block. `lastShownSeconds` is the transfer's memory of the last
// estimate shown (-1 at the start of each file); it is updated when a new estimate is shown.
//
// A size of 0 or less gives position 0, and a bar never leaves 0..100 (more bytes than
// announced show as 100). Without a rate (below 1) the text is emptied and `lastShownSeconds`
// is kept. Otherwise the text is replaced only when the estimate in whole seconds differs from
// `lastShownSeconds`.
ProgressView ComputeProgress(std::int64_t receivedBytes, std::int32_t expectedSize,
                             std::int32_t transferredBytes, std::int32_t totalBytes,
                             std::int32_t bytesPerSecond, std::int32_t& lastShownSeconds);

}  // namespace fw
