#pragma once
// Hashing and signature verification: a streaming SHA-256 and ECDSA P-256 with SHA-256 over a
// DER public key (SubjectPublicKeyInfo) and a DER signature. One implementation per host, on
// the system's cryptography library; nothing here is computed by hand.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace fw {

using Sha256Digest = std::array<std::uint8_t, 32>;
using Bytes = std::vector<std::uint8_t>;
// The public keys whose signatures the program accepts, each a DER SubjectPublicKeyInfo.
using TrustedKeys = std::vector<Bytes>;

// The empty set: a program without keys checks no signature at all.
inline const TrustedKeys& NoTrustedKeys() {
    static const TrustedKeys none;
    return none;
}

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once anything has failed; the digest is then unusable.
    bool Update(const void* data, std::size_t size);
    // The digest of everything given; the object is spent afterwards.
    bool Finish(Sha256Digest& digest);

    // The digest of one buffer.
    static bool Of(std::span<const std::uint8_t> data, Sha256Digest& digest) {
        Sha256 hash;
        return hash.Update(data.data(), data.size()) && hash.Finish(digest);
    }

private:
    struct State;
    std::unique_ptr<State> state;
};

// True only when `signatureDer` is a valid ECDSA signature over SHA-256 of `message` by the
// P-256 key `publicKeyDer`. Anything malformed (key, curve, signature encoding) is false.
// The signature must be strict DER (platform/der_signature.h) on every host.
bool VerifyEcdsaP256Sha256(std::span<const std::uint8_t> publicKeyDer,
                           std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signatureDer);
// The same over a message already hashed: many signatures over one text cost one hash.
bool VerifyEcdsaP256Sha256Digest(std::span<const std::uint8_t> publicKeyDer,
                                 const Sha256Digest& digest,
                                 std::span<const std::uint8_t> signatureDer);

}  // namespace fw
