#pragma once
// The strict DER reading of an ECDSA P-256 signature: SEQUENCE { INTEGER r, INTEGER s } with
// minimal lengths, minimal positive integers and 1 <= r, s < n. Parsing only: every host checks
// this before its cryptography library sees the bytes, so that both hosts refuse the same
// encodings.

#include <array>
#include <cstdint>
#include <span>

namespace fw {

struct EcdsaP256Signature {
    std::array<std::uint8_t, 32> r{};  // big-endian, zero-padded
    std::array<std::uint8_t, 32> s{};
};

// False for anything but exactly one strictly encoded signature in range.
bool ParseStrictEcdsaP256Signature(std::span<const std::uint8_t> der, EcdsaP256Signature& out);

}  // namespace fw
