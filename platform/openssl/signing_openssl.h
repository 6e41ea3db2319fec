#pragma once
// The publisher's side of the signatures: making a P-256 key pair with the private key
// encrypted under a passphrase, and signing with it. Only the publisher's tool uses this.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace fw {

struct SigningKeyPair {
    std::string privatePem;  // PKCS #8, encrypted with AES-256-CBC under the passphrase
    std::string publicPem;   // SubjectPublicKeyInfo
};

// False with `error` set when the key cannot be made; the passphrase must not be empty.
bool GenerateSigningKey(std::string_view passphrase, SigningKeyPair& pair, std::string& error);

// Signs `message` (ECDSA over SHA-256) with the P-256 private key in `privatePem`, decrypted
// with `passphrase` when it is encrypted. Gives the DER signature and the DER public key.
// False with `error` set on a wrong passphrase, a key that is not P-256, or any other failure.
bool SignWithPrivateKey(std::string_view privatePem, std::string_view passphrase,
                        std::span<const std::uint8_t> message, Bytes& signatureDer,
                        Bytes& publicKeyDer, std::string& error);

// Asks for a passphrase on the terminal, without echo; `confirm` asks twice. False when there
// is no terminal or the two differ.
bool ReadPassphraseFromTerminal(const char* prompt, bool confirm, std::string& passphrase);

}  // namespace fw
