#pragma once
// Owners of libcrypto's objects: each frees its object with the library's own function.

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace fw {

template <auto Free>
struct OpenSslFree {
    template <class T>
    void operator()(T* object) const {
        Free(object);
    }
};

using Bio = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, OpenSslFree<EVP_PKEY_CTX_free>>;
using Certificate = std::unique_ptr<X509, OpenSslFree<X509_free>>;

}  // namespace fw
