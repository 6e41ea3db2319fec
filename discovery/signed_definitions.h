#pragma once
// Signed update definitions: the signature lines that end the file, the serial record that
// binds it to one file name and orders its versions, and the digest field of "update" records.
// Pure readers: bytes in, facts out. The program checks all of this only when keys are built
// into it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace fw {

// The only signature scheme read; lines naming another are passed over (room for the future).
inline constexpr std::string_view kSignatureAlgorithm = "ecdsa-p256-sha256";

// The answer cut where its signature block begins. The signed bytes are the raw answer (CR
// bytes included) up to the first byte of the first line whose keyword is "signature" in any
// letter case.
struct SignatureBlock {
    bool found = false;            // a signature line is there
    bool othersAfter = false;      // a line that is neither a signature nor empty follows it
    std::string_view signedBytes;  // all of the answer when none is found
    std::vector<std::string_view> signatureLines;  // each without its CR bytes and LF
};
SignatureBlock SplitSignatureBlock(std::string_view answer);

// One "signature~<algorithm>~<key id>~<base64 of the DER signature>" line.
struct SignatureLine {
    std::string algorithm;
    std::string keyId;  // lower-case hex as written
    Bytes signature;
};
// False when a field is missing, the key id is not 16 hexadecimal digits, or the signature is
// not valid base64.
bool ParseSignatureLine(std::string_view line, SignatureLine& parsed);

// The key id: the first 8 bytes of SHA-256 over the DER SubjectPublicKeyInfo, lower-case hex.
std::string KeyIdOf(std::span<const std::uint8_t> publicKeyDer);

// A serial number: decimal digits only, at most 64 bits.
std::optional<std::uint64_t> ParseSerial(std::string_view text);

// The date of an "expires" record, "YYYY-MM-DDTHH:MM:SSZ" (UTC), as seconds since 1970; nothing
// for any other form or a date that does not exist.
std::optional<std::int64_t> ParseExpiry(std::string_view text);
// The same form from seconds since 1970.
std::string FormatExpiry(std::int64_t unixTime);

// The sixth field of an "update" record: "sha256:" followed by 64 hexadecimal digits.
std::optional<Sha256Digest> ParseDigestField(std::string_view field);
std::string DigestHex(const Sha256Digest& digest);

// What the checks of signed definitions found. Anything but kTrusted refuses the definitions.
enum class DefinitionsVerdict {
    kTrusted,
    kUnsigned,         // no signature line
    kUnknownKey,       // signed only by keys this program does not know (detail: up to 3 ids)
    kDamaged,          // signature lines that cannot be read, only unknown algorithms, or more
                       // than 8 of them
    kBadSignature,     // a trusted key's signature that does not match the bytes
    kLinesAfter,       // something other than signature lines after the first one
    kNoSerial,         // no serial record, a malformed one, or more than one
    kOtherFile,        // the serial names another file (detail: that name)
    kOlderSerial,      // lower than the highest accepted before (detail: the serial)
    kNoDigest,         // an "update" record without a valid digest (detail: its template)
    kBadExpiry,        // an "expires" record that cannot be read, or more than one (detail: it)
    kExpired,          // the expiry has passed (detail: the date as written)
};

struct DefinitionsCheck {
    DefinitionsVerdict verdict = DefinitionsVerdict::kUnsigned;
    std::string detail;
    std::uint64_t serial = 0;
    std::optional<std::int64_t> expires;  // from the signed "expires" record, if any
    std::string_view signedBytes;  // what may be read as definitions once trusted
};

// Checks a whole answer for the file `fileName` against the trusted keys. `highestSerial` is
// the highest serial accepted before for that file name, if any; `now` (seconds since 1970)
// is the time its expiry is compared with, if it has one.
DefinitionsCheck CheckSignedDefinitions(std::string_view answer, std::string_view fileName,
                                        const TrustedKeys& keys,
                                        std::optional<std::uint64_t> highestSerial,
                                        std::int64_t now);

// The PUBLIC KEY blocks of a PEM text, each as DER; blocks of other kinds are passed over.
// False when a PUBLIC KEY block is not valid base64 or is not closed.
bool ReadPublicKeysPem(std::string_view pem, TrustedKeys& keys);

}  // namespace fw
