#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <fstream>

#include "platform/openssl/owners_openssl.h"
#include "tools/update-server/test_authority.h"

namespace fw {
namespace {

using Key = Pkey;

constexpr long kDay = 24L * 60L * 60L;
constexpr char kServerName[] = "localhost";
constexpr char kOtherName[] = "other.invalid";

// P-256 keys: made in a moment, unlike RSA keys, and every TLS stack we test with takes them.
Key NewKey() { return Key(EVP_EC_gen("P-256")); }

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) return false;
    bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `key` named `commonName`, valid from `fromDays` to `toDays` days from now,
// signed by `issuerKey` as `issuer` (itself when null).
Certificate NewCertificate(EVP_PKEY* key, const char* commonName, long fromDays, long toDays,
                           X509* issuer, EVP_PKEY* issuerKey) {
    Certificate certificate(X509_new());
    if (!certificate) return nullptr;
    X509* c = certificate.get();
    // Random serial numbers: certificates of different runs never look alike to a cache.
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
    serial[0] &= 0x7F;
    std::uint64_t number = 0;
    for (unsigned char byte : serial) number = (number << 8) | byte;
    X509_NAME* name = X509_get_subject_name(c);
    const auto* organization = reinterpret_cast<const unsigned char*>("Fablewright Tests");
    bool ok = X509_set_version(c, 2) == 1 &&
              ASN1_INTEGER_set_uint64(X509_get_serialNumber(c), number) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(c), fromDays * kDay) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(c), toDays * kDay) != nullptr &&
              X509_set_pubkey(c, key) == 1 &&
              X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, organization, -1, -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(commonName), -1,
                                         -1, 0) == 1 &&
              X509_set_issuer_name(c, X509_get_subject_name(issuer != nullptr ? issuer : c)) == 1;
    if (!ok) return nullptr;
    X509* signer = issuer != nullptr ? issuer : c;
    if (issuer == nullptr) {
        ok = AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             AddExtension(c, signer, NID_subject_key_identifier, "hash");
    } else {
        std::string altName = std::string("DNS:") + commonName;
        ok = AddExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(c, signer, NID_key_usage, "critical,digitalSignature") &&
             AddExtension(c, signer, NID_ext_key_usage, "serverAuth") &&
             AddExtension(c, signer, NID_subject_alt_name, altName.c_str()) &&
             AddExtension(c, signer, NID_subject_key_identifier, "hash") &&
             AddExtension(c, signer, NID_authority_key_identifier, "keyid");
    }
    if (!ok || X509_sign(c, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) {
        return nullptr;
    }
    return certificate;
}

template <typename Write>
std::string ToPem(Write write) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || !write(bio.get())) return {};
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0 || data == nullptr) return {};
    return std::string(data, static_cast<std::size_t>(size));
}

std::string CertificateToPem(X509* certificate) {
    return ToPem([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate) == 1; });
}

std::string KeyToPem(EVP_PKEY* key) {
    return ToPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
}

}  // namespace

class TestAuthority::Impl {
public:
    Key key;
    Certificate certificate;
    std::string certificatePem;
    // One key serves every server certificate of this authority.
    Key serverKey;
    std::string serverKeyPem;

    static std::unique_ptr<Impl> Make() {
        auto impl = std::make_unique<Impl>();
        impl->key = NewKey();
        impl->serverKey = NewKey();
        if (!impl->key || !impl->serverKey) return nullptr;
        impl->certificate = NewCertificate(impl->key.get(), "Fablewright Test Authority", -30,
                                           30, nullptr, nullptr);
        if (!impl->certificate) return nullptr;
        impl->certificatePem = CertificateToPem(impl->certificate.get());
        impl->serverKeyPem = KeyToPem(impl->serverKey.get());
        if (impl->certificatePem.empty() || impl->serverKeyPem.empty()) return nullptr;
        return impl;
    }

    std::optional<Credentials> IssueFor(const char* name, long fromDays, long toDays) const {
        Certificate issued = NewCertificate(serverKey.get(), name, fromDays, toDays,
                                            certificate.get(), key.get());
        if (!issued) return std::nullopt;
        Credentials credentials{CertificateToPem(issued.get()), serverKeyPem};
        if (credentials.certificatePem.empty()) return std::nullopt;
        return credentials;
    }
};

TestAuthority::TestAuthority(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}
TestAuthority::~TestAuthority() = default;

std::shared_ptr<const TestAuthority> TestAuthority::Create() {
    std::unique_ptr<Impl> impl = Impl::Make();
    if (!impl) return nullptr;
    return std::shared_ptr<const TestAuthority>(new TestAuthority(std::move(impl)));
}

const std::string& TestAuthority::CertificatePem() const { return impl->certificatePem; }

bool TestAuthority::WriteCertificate(const std::string& path) const {
    std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << impl->certificatePem;
        if (!out.flush()) return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

std::optional<TestAuthority::Credentials> TestAuthority::Issue(ServerCertificate kind) const {
    switch (kind) {
    case ServerCertificate::kTrusted:
        return impl->IssueFor(kServerName, -1, 7);
    case ServerCertificate::kOtherName:
        return impl->IssueFor(kOtherName, -1, 7);
    case ServerCertificate::kExpired:
        return impl->IssueFor(kServerName, -3, -1);
    case ServerCertificate::kUnknownAuthority: {
        std::unique_ptr<Impl> stranger = Impl::Make();
        if (!stranger) return std::nullopt;
        return stranger->IssueFor(kServerName, -1, 7);
    }
    case ServerCertificate::kNone:
        break;
    }
    return std::nullopt;
}

}  // namespace fw
