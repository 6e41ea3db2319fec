#pragma once
// A P-256 signing key made at run time for one test, with the host's own library (OpenSSL on
// POSIX, CNG on Windows), and the signed definitions made with it.

#include <memory>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace fw::test {

class TestSigner {
public:
    TestSigner();
    ~TestSigner();
    TestSigner(const TestSigner&) = delete;
    TestSigner& operator=(const TestSigner&) = delete;

    // The DER SubjectPublicKeyInfo, as a program would have it built in.
    const Bytes& PublicKey() const { return publicKey; }
    std::string KeyId() const;
    // The DER signature (ECDSA over SHA-256) of `message`.
    Bytes Sign(std::string_view message) const;
    // "signature~ecdsa-p256-sha256~<key id>~<base64>" for `message`, without a line end.
    std::string SignatureLine(std::string_view message) const;
    // `body` followed by its signature line.
    std::string Signed(const std::string& body) const { return body + SignatureLine(body) + "\n"; }

private:
    struct Key;
    std::unique_ptr<Key> key;
    Bytes publicKey;
};

// Other bytes with the same size and 32-bit download checksum: the checksum folds byte k in by
// k mod 64 alone, so the same change at two positions 64 apart cancels out. Needs 65 bytes.
std::string SameChecksumOtherBytes(std::string bytes);

}  // namespace fw::test
