// On POSIX hosts the test key is made and used by the publisher's own OpenSSL code.

#include <gtest/gtest.h>

#include "discovery/signed_definitions.h"
#include "platform/openssl/signing_openssl.h"
#include "tests/support/test_signer.h"

namespace fw::test {

struct TestSigner::Key {
    SigningKeyPair pair;
};

namespace {
constexpr std::string_view kPassphrase = "test passphrase";
}

TestSigner::TestSigner() : key(std::make_unique<Key>()) {
    std::string error;
    EXPECT_TRUE(GenerateSigningKey(kPassphrase, key->pair, error)) << error;
    TrustedKeys keys;
    EXPECT_TRUE(ReadPublicKeysPem(key->pair.publicPem, keys));
    if (keys.size() == 1) publicKey = keys[0];
}

TestSigner::~TestSigner() = default;

Bytes TestSigner::Sign(std::string_view message) const {
    Bytes signature, publicDer;
    std::string error;
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(message.data()),
                                        message.size());
    EXPECT_TRUE(SignWithPrivateKey(key->pair.privatePem, kPassphrase, bytes, signature, publicDer,
                                   error))
        << error;
    EXPECT_EQ(publicDer, publicKey);
    return signature;
}

}  // namespace fw::test
