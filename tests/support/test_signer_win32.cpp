// On Windows the test key is made and used with CNG, as a publisher on Windows might.

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <bcrypt.h>

#include "tests/support/test_signer.h"

namespace fw::test {

struct TestSigner::Key {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE handle = nullptr;
    ~Key() {
        if (handle) BCryptDestroyKey(handle);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

namespace {

// SubjectPublicKeyInfo of an EC key on P-256, up to the uncompressed point.
constexpr std::uint8_t kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                        0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                        0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// A DER INTEGER of a 32-byte big-endian unsigned number.
Bytes DerInteger(const std::uint8_t* number) {
    std::size_t skip = 0;
    while (skip < 31 && number[skip] == 0) ++skip;
    bool pad = (number[skip] & 0x80) != 0;
    Bytes out;
    out.reserve(35);
    out.push_back(0x02);
    out.push_back(static_cast<std::uint8_t>(32 - skip + (pad ? 1 : 0)));
    if (pad) out.push_back(0);
    for (std::size_t i = skip; i < 32; ++i) out.push_back(number[i]);
    return out;
}

}  // namespace

TestSigner::TestSigner() : key(std::make_unique<Key>()) {
    EXPECT_GE(BCryptOpenAlgorithmProvider(&key->algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0), 0);
    EXPECT_GE(BCryptGenerateKeyPair(key->algorithm, &key->handle, 256, 0), 0);
    EXPECT_GE(BCryptFinalizeKeyPair(key->handle, 0), 0);
    std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
    ULONG size = 0;
    EXPECT_GE(BCryptExportKey(key->handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &size, 0), 0);
    EXPECT_EQ(size, sizeof blob);
    publicKey.reserve(sizeof kSpkiPrefix + 64);
    for (std::uint8_t b : kSpkiPrefix) publicKey.push_back(b);
    for (std::size_t i = sizeof(BCRYPT_ECCKEY_BLOB); i < sizeof blob; ++i) publicKey.push_back(blob[i]);
}

TestSigner::~TestSigner() = default;

Bytes TestSigner::Sign(std::string_view message) const {
    Sha256Digest digest{};
    EXPECT_TRUE(Sha256::Of({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()},
                           digest));
    std::uint8_t rs[64] = {};
    ULONG size = 0;
    EXPECT_GE(BCryptSignHash(key->handle, nullptr, digest.data(), 32, rs, sizeof rs, &size, 0), 0);
    Bytes r = DerInteger(rs), s = DerInteger(rs + 32);
    Bytes out;
    out.reserve(2 + r.size() + s.size());
    out.push_back(0x30);
    out.push_back(static_cast<std::uint8_t>(r.size() + s.size()));
    for (std::uint8_t b : r) out.push_back(b);
    for (std::uint8_t b : s) out.push_back(b);
    return out;
}

}  // namespace fw::test
