#pragma once
// The HTTP client layer on libcurl. Each request drives its own transfer and hands the answer
// out as the caller pulls it, so a large body never sits in memory as a whole.

#include <memory>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace fw {

class CurlHttpClient : public HttpClient {
public:
    // https servers must show a certificate from the system's store of authorities, or, when
    // `authorityFile` names one, from that file instead. Only tests and the demo's own build
    // name a file; the program never takes it from its command line or environment.
    // `floor`: the least a request must deliver (tests shorten its window).
    explicit CurlHttpClient(std::string authorityFile = {}, ThroughputLimit floor = {});
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    bool Startup() override;
    std::unique_ptr<HttpSession> OpenSession(std::string_view userAgent) override;

    // libcurl's global state; sessions share it, so it lasts until the last of them is gone.
    class Library;

private:
    std::shared_ptr<Library> library;
    std::string authorityFile;
    ThroughputLimit floor;
};

}  // namespace fw
