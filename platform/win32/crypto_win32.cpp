#include "platform/crypto.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

// A little-endian unsigned integer from crypt32 into 32 big-endian bytes.
bool ToBigEndian32(const CRYPT_UINT_BLOB& blob, std::uint8_t* out) {
    std::size_t size = blob.cbData;
    while (size > 0 && blob.pbData[size - 1] == 0) --size;  // leading zeros of the number
    if (size > 32) return false;
    std::memset(out, 0, 32);
    for (std::size_t i = 0; i < size; ++i) out[31 - i] = blob.pbData[i];
    return true;
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

bool VerifyEcdsaP256Sha256(std::span<const std::uint8_t> publicKeyDer,
                           std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signatureDer) {
    constexpr DWORD kMax = std::numeric_limits<DWORD>::max();
    if (!IsOneElement(publicKeyDer) || !IsOneElement(signatureDer) ||
        publicKeyDer.size() > kMax || signatureDer.size() > kMax) {
        return false;
    }
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

    LocalPtr<CERT_ECC_SIGNATURE> signature =
        Decode<CERT_ECC_SIGNATURE>(X509_ECC_SIGNATURE, signatureDer);
    if (!signature) return false;
    std::uint8_t rs[64];
    if (!ToBigEndian32(signature->r, rs) || !ToBigEndian32(signature->s, rs + 32)) return false;

    Sha256Digest digest;
    if (!Sha256::Of(message, digest)) return false;
    return Succeeded(BCryptVerifySignature(key.get(), nullptr, digest.data(),
                                           static_cast<ULONG>(digest.size()), rs, sizeof rs, 0));
}

}  // namespace fw
