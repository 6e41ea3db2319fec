#include "platform/crypto.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/der_signature.h"
#include "platform/win32/windows_win32.h"

// CNG and the certificate encodings, which the lean Windows headers leave out.
#include <bcrypt.h>
#include <wincrypt.h>

namespace fw {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// The parameters of an EC public key on P-256: the DER of the curve's object identifier.
constexpr std::uint8_t kP256Parameters[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
};
struct KeyDestroyer {
    void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};
using Algorithm = std::unique_ptr<void, AlgorithmCloser>;
using Hash = std::unique_ptr<void, HashDestroyer>;
using Key = std::unique_ptr<void, KeyDestroyer>;

// Whether `der` is exactly one DER element: tag, length and contents, nothing after them.
bool IsOneElement(std::span<const std::uint8_t> der) {
    if (der.size() < 2) return false;
    std::size_t length = der[1];
    std::size_t header = 2;
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || der.size() < 2 + count) return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | der[2 + i];
        header += count;
    }
    return header + length == der.size();
}

// The structure of type `T` that the DER element `der` encodes (`structType`, a crypt32 X509_*
// constant), allocated by crypt32; null when it does not decode.
template <class T>
LocalPtr<T> Decode(LPCSTR structType, std::span<const std::uint8_t> der) {
    T* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, structType, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &decoded, &size)) {
        return nullptr;
    }
    return LocalPtr<T>(decoded);
}

}  // namespace

struct Sha256::State {
    Algorithm algorithm;
    Hash hash;
    bool ok = false;
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return;
    }
    state->algorithm.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return;
    state->hash.reset(hash);
    state->ok = true;
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, std::size_t size) {
    auto bytes = static_cast<const std::uint8_t*>(data);
    while (state->ok && size > 0) {
        ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        state->ok = Succeeded(BCryptHashData(state->hash.get(), const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    return state->ok;
}

bool Sha256::Finish(Sha256Digest& digest) {
    bool done = state->ok && Succeeded(BCryptFinishHash(state->hash.get(), digest.data(),
                                                        static_cast<ULONG>(digest.size()), 0));
    state->ok = false;
    return done;
}

bool VerifyEcdsaP256Sha256Digest(std::span<const std::uint8_t> publicKeyDer,
                                 const Sha256Digest& digest,
                                 std::span<const std::uint8_t> signatureDer) {
    // Our own strict reading, not crypt32's, which takes BER lengths, padded and negative
    // integers.
    EcdsaP256Signature strict;
    if (!ParseStrictEcdsaP256Signature(signatureDer, strict)) return false;
    constexpr DWORD kMax = std::numeric_limits<DWORD>::max();
    if (!IsOneElement(publicKeyDer) || publicKeyDer.size() > kMax) return false;
    LocalPtr<CERT_PUBLIC_KEY_INFO> info =
        Decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, publicKeyDer);
    if (!info) return false;
    const CRYPT_OBJID_BLOB& parameters = info->Algorithm.Parameters;
    if (!info->Algorithm.pszObjId || std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        parameters.cbData != sizeof kP256Parameters ||
        std::memcmp(parameters.pbData, kP256Parameters, sizeof kP256Parameters) != 0) {
        return false;
    }
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info.get(), 0, nullptr, &rawKey)) {
        return false;
    }
    Key key(rawKey);
    std::uint8_t rs[64];
    std::memcpy(rs, strict.r.data(), 32);
    std::memcpy(rs + 32, strict.s.data(), 32);
    Sha256Digest hashed = digest;
    return Succeeded(BCryptVerifySignature(key.get(), nullptr, hashed.data(),
                                           static_cast<ULONG>(hashed.size()), rs, sizeof rs, 0));
}

}  // namespace fw
