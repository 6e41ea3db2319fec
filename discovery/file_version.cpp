#include "discovery/file_version.h"

#include <cstdio>

#include "platform/files.h"

namespace fw {
namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;

// Where VS_FIXEDFILEINFO starts in each layout: after the header and the key "VS_VERSION_INFO"
// with its terminator, padded to 32 bits.
constexpr std::size_t kWideLayoutOffset = 40;
constexpr std::size_t kNarrowLayoutOffset = 20;
// Signature, structure version, then the two file-version words.
constexpr std::size_t kFileVersionHigh = 8;
constexpr std::size_t kFileVersionLow = 12;
constexpr std::size_t kNeededBytes = 16;

std::uint32_t Word(std::span<const std::uint8_t> block, std::size_t offset) {
    return static_cast<std::uint32_t>(block[offset]) |
           static_cast<std::uint32_t>(block[offset + 1]) << 8 |
           static_cast<std::uint32_t>(block[offset + 2]) << 16 |
           static_cast<std::uint32_t>(block[offset + 3]) << 24;
}

bool VersionAt(std::span<const std::uint8_t> block, std::size_t offset, std::uint64_t& version) {
    if (block.size() < offset || block.size() - offset < kNeededBytes) return false;
    if (Word(block, offset) != kFixedInfoSignature) return false;
    version = static_cast<std::uint64_t>(Word(block, offset + kFileVersionHigh)) << 32 |
              Word(block, offset + kFileVersionLow);
    return true;
}

}  // namespace

std::uint64_t FileVersionFromBlock(std::span<const std::uint8_t> block) {
    std::uint64_t version = kUnknownFileVersion;
    if (VersionAt(block, kWideLayoutOffset, version)) return version;
    if (VersionAt(block, kNarrowLayoutOffset, version)) return version;
    return kUnknownFileVersion;
}

std::uint64_t ReadFileVersion(Files& files, const std::string& path) {
    std::optional<std::vector<std::uint8_t>> block = files.GetFileVersionInfo(path);
    if (!block || block->empty()) return kUnknownFileVersion;
    return FileVersionFromBlock(*block);
}

std::string FormatFileVersion(std::uint64_t version) {
    if (version == kUnknownFileVersion) return "Unknown";
    auto high = static_cast<std::uint32_t>(version >> 32);
    auto low = static_cast<std::uint32_t>(version & 0xFFFFFFFFu);
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(high >> 16),
                  static_cast<unsigned>(high & 0xFFFFu), static_cast<unsigned>(low >> 16),
                  static_cast<unsigned>(low & 0xFFFFu));
    return text;
}

}  // namespace fw
