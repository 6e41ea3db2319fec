#pragma once
// The version-information resource of a Windows executable, read from the file's bytes where the
// host has no version-information service of its own.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace fw {

// The bytes of the RT_VERSION (16) resource named 1 (its first language) of a PE32 or PE32+
// file: the block that GetFileVersionInfoA returns for it. Nothing when `file` is not such a
// file, has no such resource, or any header, directory or offset points outside the file.
// Never reads outside `file`; the resource tree is walked to a fixed depth, so loops in it end.
std::optional<std::vector<std::uint8_t>> ExtractVersionResource(std::span<const std::uint8_t> file);

}  // namespace fw
