#pragma once
// Size texts, the transfer-rate window and the progress display of a download.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

// "%ld" up to 1024 bytes, "%3.1fK" up to 1048576, "%3.1fM" beyond.
std::string FormatSize(std::int32_t bytes);

// The most recent blocks of a download run: the estimate follows the current speed, not the
// average since the start.
class RateWindow {
public:
    static constexpr std::size_t kCapacity = 500;

    void Reset();
    // `tick` is the millisecond tick count taken just before the block was read.
    void AddSample(std::uint32_t tick, std::uint32_t bytes);
    // Bytes per second, rounded; -1 with fewer than two samples; below 1 means no estimate.
    std::int32_t BytesPerSecond() const;
    std::size_t Size() const { return byteCounts.size(); }

private:
    // Ring buffers of kCapacity entries; `first` is the oldest sample.
    std::vector<std::uint32_t> byteCounts;
    std::vector<std::uint32_t> tickStamps;
    std::size_t first = 0;
};

// What the display shows after a block.
struct ProgressView {
    int filePercent = 0;
    int totalPercent = 0;
    bool hasEstimate = false;   // false: the time-remaining text is emptied
    bool textChanged = false;   // the time-remaining text is to be replaced by `text`
    std::string text;
};

// Computes the display after a block. `lastShownSeconds` is the transfer's memory of the last
// estimate shown (-1 at the start of each file); it is updated when the text changes.
ProgressView ComputeProgress(std::int64_t receivedBytes, std::int32_t expectedSize,
                             std::int32_t transferredBytes, std::int32_t totalBytes,
                             std::int32_t bytesPerSecond, std::int32_t& lastShownSeconds);

}  // namespace fw
