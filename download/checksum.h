#pragma once
// The download checksum: a 32-bit rotate-and-XOR sum over the bytes of a file. Byte k (counting
// from 0) is folded in after the sum has been rotated by r = k mod 32 bits, left for even r and
// right for odd r.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace fw {

// Rotates left by `count` modulo 32; a negative count rotates right by its magnitude.
constexpr std::uint32_t Rotate32(std::uint32_t value, int count) {
    return std::rotl(value, count);  // takes a negative count as a right rotation, as we do
}

// The checksum of a byte stream given in pieces of any size; the result does not depend on how
// the stream is cut.
class ChecksumAccumulator {
public:
    void Update(const unsigned char* data, std::size_t size);
    std::uint32_t Value() const;
    std::uint64_t Size() const { return position; }

    // The bytes one read asks for: large reads cost fewer calls; the result does not change.
    static constexpr std::size_t kReadSize = 256 * 1024;

private:
    // Rotation and XOR are both linear over single bits, so the sum is the XOR of every byte
    // rotated by the total rotation that follows it. Those totals repeat every 64 bytes (a run
    // of 32 rotations nets 16 to the right), so it is enough to XOR the stream into 64 lanes by
    // position and to apply the rotations once, when the value is asked for.
    alignas(16) std::array<unsigned char, 64> lanes{};
    std::uint64_t position = 0;  // bytes so far
};

// The checksum of `file` from its current position to its end. False, leaving `checksum`
// alone, when a read fails.
bool StreamChecksum(ReadableFile& file, std::uint32_t& checksum);

// The checksum of the file at `path`, read as bytes. False, leaving `checksum` alone, when the
// file cannot be opened or read; the file is closed again on every path.
bool FileChecksum(Files& files, const std::string& path, std::uint32_t& checksum);

}  // namespace fw
