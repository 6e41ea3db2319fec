#pragma once
// The file version of an executable, read from its fixed version information, and its text.

#include <cstdint>
#include <span>
#include <string>

namespace fw {

class Files;

// High 32 bits: major << 16 | minor; low 32 bits: build << 16 | revision.
inline constexpr std::uint64_t kUnknownFileVersion = ~std::uint64_t{0};

// The file version held by a version-information block as the platform returns it: the fixed
// information is looked for by its signature at offset 40 (a 32-bit resource with a wide key),
// then at offset 20 (a 16-bit resource with an 8-bit key). kUnknownFileVersion when neither
// place holds it or the block is too short to hold the version words after it.
std::uint64_t FileVersionFromBlock(std::span<const std::uint8_t> block);

// The file version of the executable at `path`, or kUnknownFileVersion.
std::uint64_t ReadFileVersion(Files& files, const std::string& path);

// "major.minor.build.revision", or "Unknown" for kUnknownFileVersion. At most 23 characters.
std::string FormatFileVersion(std::uint64_t version);

}  // namespace fw
