#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "platform/der_signature.h"
#include "platform/openssl/owners_openssl.h"

namespace fw {

struct Sha256::State {
    MdCtx ctx{EVP_MD_CTX_new()};
    bool ok = false;
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    state->ok = state->ctx && EVP_DigestInit_ex(state->ctx.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, std::size_t size) {
    if (state->ok && size > 0) state->ok = EVP_DigestUpdate(state->ctx.get(), data, size) == 1;
    return state->ok;
}

bool Sha256::Finish(Sha256Digest& digest) {
    unsigned int length = 0;
    bool done = state->ok && EVP_DigestFinal_ex(state->ctx.get(), digest.data(), &length) == 1 &&
                length == digest.size();
    state->ok = false;
    return done;
}

bool VerifyEcdsaP256Sha256Digest(std::span<const std::uint8_t> publicKeyDer,
                                 const Sha256Digest& digest,
                                 std::span<const std::uint8_t> signatureDer) {
    EcdsaP256Signature strict;
    if (publicKeyDer.empty() || !ParseStrictEcdsaP256Signature(signatureDer, strict)) return false;
    const unsigned char* p = publicKeyDer.data();
    Pkey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(publicKeyDer.size())));
    // Trailing bytes after the key mean it is not the key we were given.
    if (!key || p != publicKeyDer.data() + publicKeyDer.size()) return false;
    if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC) return false;
    char group[64] = {};
    std::size_t groupLength = 0;
    if (EVP_PKEY_get_group_name(key.get(), group, sizeof group, &groupLength) != 1 ||
        std::strcmp(group, "prime256v1") != 0) {
        return false;
    }
    PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1) {
        return false;
    }
    return EVP_PKEY_verify(ctx.get(), signatureDer.data(), signatureDer.size(), digest.data(),
                           digest.size()) == 1;
}

}  // namespace fw
