#include "download/checksum.h"

#include <cstring>
#include <memory>
#include <vector>

namespace fw {
namespace {

constexpr std::size_t kCycle = 64;

// The rotation before byte k: k mod 32 bits, to the left for even and to the right for odd.
constexpr int StepRotation(std::uint64_t k) {
    int r = static_cast<int>(k % 32);
    return (r % 2 == 0) ? r : -r;
}

// prefix[j]: the sum of the rotations before bytes 0..j, modulo 32. Over a whole stream it is
// periodic in 64, so prefix[(k) mod 64] is the rotation total up to and including byte k.
constexpr std::array<int, kCycle> MakePrefix() {
    std::array<int, kCycle> prefix{};
    int total = 0;
    for (std::size_t j = 0; j < kCycle; ++j) {
        total = ((total + StepRotation(j)) % 32 + 32) % 32;
        prefix[j] = total;
    }
    return prefix;
}
constexpr std::array<int, kCycle> kPrefix = MakePrefix();
static_assert(((kPrefix[kCycle - 1] + StepRotation(0)) % 32) == kPrefix[0],
              "the rotation totals must repeat every 64 bytes");

}  // namespace

void ChecksumAccumulator::Update(const unsigned char* data, std::size_t size) {
    if (size == 0) return;
    std::size_t lane = static_cast<std::size_t>(position % kCycle);
    position += size;
    while (lane != 0 && size > 0) {
        lanes[lane] ^= *data++;
        --size;
        lane = (lane + 1) % kCycle;
    }
    if (size >= kCycle) {
        // Whole cycles, a word at a time; memcpy keeps the byte order, so XOR stays per byte.
        std::uint64_t words[kCycle / 8];
        std::memcpy(words, lanes.data(), kCycle);
        for (; size >= kCycle; data += kCycle, size -= kCycle) {
            for (std::size_t i = 0; i < kCycle / 8; ++i) {
                std::uint64_t chunk;
                std::memcpy(&chunk, data + 8 * i, 8);
                words[i] ^= chunk;
            }
        }
        std::memcpy(lanes.data(), words, kCycle);
    }
    for (std::size_t i = 0; i < size; ++i) lanes[i] ^= data[i];
}

std::uint32_t ChecksumAccumulator::Value() const {
    if (position == 0) return 0;
    // Each lane goes back by the rotations up to its byte, the whole by those up to the last.
    std::uint32_t folded = 0;
    for (std::size_t j = 0; j < kCycle; ++j) folded ^= Rotate32(lanes[j], -kPrefix[j]);
    return Rotate32(folded, kPrefix[(position - 1) % kCycle]);
}

bool StreamChecksum(ReadableFile& file, std::uint32_t& checksum) {
    std::vector<unsigned char> buffer(ChecksumAccumulator::kReadSize);
    ChecksumAccumulator sum;
    for (;;) {
        std::ptrdiff_t n = file.Read(buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0 || static_cast<std::size_t>(n) > buffer.size()) return false;
        sum.Update(buffer.data(), static_cast<std::size_t>(n));
    }
    checksum = sum.Value();
    return true;
}

bool FileChecksum(Files& files, const std::string& path, std::uint32_t& checksum) {
    std::unique_ptr<ReadableFile> file = files.OpenForReading(path);
    if (!file) return false;
    return StreamChecksum(*file, checksum);  // the file closes as `file` goes
}

}  // namespace fw
