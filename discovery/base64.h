#pragma once
// Base64 (the standard alphabet with "=" padding), as signatures and PEM keys carry bytes.

#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace fw {

// Strict: only the alphabet, the length a multiple of 4, padding only at the end; no blanks.
// Nothing for anything else.
std::optional<Bytes> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace fw
