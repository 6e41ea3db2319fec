#include "platform/openssl/signing_openssl.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ui.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "platform/openssl/owners_openssl.h"

namespace fw {
namespace {

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    std::size_t length = 0;
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

// Hands the passphrase to OpenSSL's PEM reader, which may ask more than once.
int PassphraseCallback(char* buffer, int size, int, void* user) {
    auto* passphrase = static_cast<const std::string*>(user);
    if (passphrase->size() > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, passphrase->data(), passphrase->size());
    return static_cast<int>(passphrase->size());
}

}  // namespace

bool GenerateSigningKey(std::string_view passphrase, SigningKeyPair& pair, std::string& error) {
    if (passphrase.empty()) {
        error = "the passphrase must not be empty";
        return false;
    }
    Pkey key(EVP_EC_gen("P-256"));
    Bio privateBio(BIO_new(BIO_s_mem()));
    Bio publicBio(BIO_new(BIO_s_mem()));
    std::string secret(passphrase);
    if (!key || !privateBio || !publicBio ||
        PEM_write_bio_PKCS8PrivateKey(privateBio.get(), key.get(), EVP_aes_256_cbc(), secret.data(),
                                      static_cast<int>(secret.size()), nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(publicBio.get(), key.get()) != 1) {
        error = "the key pair could not be made";
        return false;
    }
    pair.privatePem = BioText(privateBio.get());
    pair.publicPem = BioText(publicBio.get());
    return true;
}

bool SignWithPrivateKey(std::string_view privatePem, std::string_view passphrase,
                        std::span<const std::uint8_t> message, Bytes& signatureDer,
                        Bytes& publicKeyDer, std::string& error) {
    Bio bio(BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())));
    std::string secret(passphrase);
    Pkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, &secret)
                 : nullptr);
    ERR_clear_error();
    if (!key) {
        bool encrypted = privatePem.find("ENCRYPTED") != std::string_view::npos;
        error = encrypted ? "wrong passphrase for the private key"
                          : "not a private key in PEM form";
        return false;
    }
    if (!IsP256(key.get())) {
        error = "the private key is not an EC key on the P-256 curve";
        return false;
    }
    MdCtx ctx(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size()) != 1) {
        error = "the signature could not be made";
        return false;
    }
    signatureDer.resize(length);
    if (EVP_DigestSign(ctx.get(), signatureDer.data(), &length, message.data(), message.size()) != 1) {
        error = "the signature could not be made";
        return false;
    }
    signatureDer.resize(length);
    int publicLength = i2d_PUBKEY(key.get(), nullptr);
    if (publicLength <= 0) {
        error = "the public key could not be encoded";
        return false;
    }
    publicKeyDer.resize(static_cast<std::size_t>(publicLength));
    unsigned char* out = publicKeyDer.data();
    i2d_PUBKEY(key.get(), &out);
    return true;
}

bool ReadPassphraseFromTerminal(const char* prompt, bool confirm, std::string& passphrase) {
    char buffer[1024] = {};
    bool ok = EVP_read_pw_string(buffer, sizeof buffer, prompt, confirm ? 1 : 0) == 0;
    if (ok) passphrase = buffer;
    OPENSSL_cleanse(buffer, sizeof buffer);
    return ok;
}

}  // namespace fw
