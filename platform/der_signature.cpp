#include "platform/der_signature.h"

#include <algorithm>
#include <cstddef>

namespace fw {
namespace {

// The order n of the P-256 group, big-endian.
constexpr std::array<std::uint8_t, 32> kOrder = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes(bytes) {}
    bool AtEnd() const { return position == bytes.size(); }
    std::span<const std::uint8_t> Rest() const { return bytes.subspan(position); }

    // A tag and its minimally encoded length; the contents follow at `position`.
    bool Header(std::uint8_t tag, std::size_t& length) {
        if (bytes.size() - position < 2 || bytes[position] != tag) return false;
        std::uint8_t first = bytes[position + 1];
        position += 2;
        if (first < 0x80) {
            length = first;
        } else if (first == 0x81 && position < bytes.size() && bytes[position] >= 0x80) {
            // One length byte, and only for lengths the short form cannot hold.
            length = bytes[position++];
        } else {
            return false;  // indefinite, longer than we could use, or not minimal
        }
        return length <= bytes.size() - position;
    }

    // A positive INTEGER, minimally encoded, 1 <= value < n.
    bool Scalar(std::array<std::uint8_t, 32>& value) {
        std::size_t length = 0;
        if (!Header(0x02, length) || length == 0) return false;
        std::span<const std::uint8_t> digits = bytes.subspan(position, length);
        position += length;
        if (digits[0] & 0x80) return false;  // negative
        if (digits[0] == 0) {
            if (digits.size() == 1 || (digits[1] & 0x80) == 0) return false;  // zero, or padded
            digits = digits.subspan(1);
        }
        if (digits.size() > value.size()) return false;
        value.fill(0);
        std::copy(digits.begin(), digits.end(), value.end() - static_cast<std::ptrdiff_t>(digits.size()));
        bool zero = std::all_of(value.begin(), value.end(), [](std::uint8_t b) { return b == 0; });
        return !zero && std::lexicographical_compare(value.begin(), value.end(), kOrder.begin(),
                                                     kOrder.end());
    }

private:
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

}  // namespace

bool ParseStrictEcdsaP256Signature(std::span<const std::uint8_t> der, EcdsaP256Signature& out) {
    Reader outer(der);
    std::size_t length = 0;
    // The sequence fills the bytes exactly: nothing after it, nothing left over inside it.
    if (!outer.Header(0x30, length) || outer.Rest().size() != length) return false;
    Reader inner(outer.Rest());
    return inner.Scalar(out.r) && inner.Scalar(out.s) && inner.AtEnd();
}

}  // namespace fw
