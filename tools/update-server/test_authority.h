#pragma once
// A certificate authority made for one test run or one demo, and the server certificates it
// issues. Its keys live only in this process's memory; what leaves it is the authority's
// certificate, for the clients to trust.

#include <memory>
#include <optional>
#include <string>

#include "tools/update-server/update_server.h"

namespace fw {

class TestAuthority {
public:
    // A new authority with a key of its own; nullptr when one cannot be made.
    static std::shared_ptr<const TestAuthority> Create();
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // The authority's certificate in PEM form.
    const std::string& CertificatePem() const;
    // Writes it to `path` (replacing the file); false when it cannot.
    bool WriteCertificate(const std::string& path) const;

    // A server certificate and its key, both in PEM form. `kind` picks what is wrong with it:
    // nothing (issued for "localhost"), another name, expired, or issued by an authority that
    // no one trusts.
    struct Credentials {
        std::string certificatePem;
        std::string keyPem;
    };
    std::optional<Credentials> Issue(ServerCertificate kind) const;

    class Impl;

private:
    explicit TestAuthority(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace fw
