#pragma once
// The HTTP client layer: sessions, connections and requests. Every operation reports failure
// through its result and none throws. A handle closes itself when its owner lets go of it, and
// handles may be let go of in any order.
//
// A server is named as platform/server_address.h reads it: "https://host[:port]" goes over TLS
// with the server's certificate and name always checked, "http://host[:port]" or a bare
// "host[:port]" in plain text. Each host's session follows redirects through FollowRedirects
// (platform/http_redirects.h), so that every host keeps the same rules.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fw {

// Runs while a read waits for the network, at least every 50 ms. Returning false asks the read
// to give up, which it then reports as a failure.
using WaitCallback = std::function<bool()>;

enum class ReadStatus {
    kOk,        // a line was read (possibly the last, without LF)
    kEnd,       // the body has ended; nothing was read
    kError,     // the connection failed, timed out, or the wait callback gave up
    kTooLong,   // the line is longer than kMaxLineBytes
};

// Limits on what a server can make us hold in memory, and the network time-outs.
inline constexpr std::size_t kMaxLineBytes = 16u * 1024u * 1024u;
inline constexpr std::size_t kMaxDefinitionsBytes = 16u * 1024u * 1024u;
inline constexpr long kConnectTimeoutSeconds = 30;
inline constexpr long kStallTimeoutSeconds = 60;
// A request that delivers fewer than this many bytes (header and body) in any stretch of this
// length spent waiting for it is given up, as a stalled one is.
inline constexpr std::uint64_t kMinBytesPerWindow = 1024;
inline constexpr long kSlowWindowSeconds = 30;

// The floor above; tests give a shorter window so that a slow server fails in seconds.
struct ThroughputLimit {
    std::uint64_t minBytes = kMinBytesPerWindow;
    std::chrono::steady_clock::duration window = std::chrono::seconds(kSlowWindowSeconds);
};

// Why an operation failed, as far as the host can tell.
enum class HttpFailure {
    kOther,           // unreachable, timed out, broken off, given up, or not told apart
    kServerIdentity,  // the TLS handshake failed or the server's certificate did not verify
};

class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // Sends the request with optional header lines (CR LF between them, none after the last)
    // and an optional body.
    virtual bool Send(std::string_view headers = {}, std::string_view body = {},
                      const WaitCallback& whileWaiting = {}) = 0;
    virtual bool QueryStatusCode(int& code) = 0;
    // The next line of the body: CR bytes dropped, LF ends the line and is not part of it.
    virtual ReadStatus ReadLine(std::string& line, const WaitCallback& whileWaiting = {}) = 0;
    // Up to `size` bytes of the body: the count read, 0 at the end, -1 on failure.
    virtual std::ptrdiff_t ReadBlock(void* buffer, std::size_t size,
                                     const WaitCallback& whileWaiting = {}) = 0;
    // Why the last operation that failed did so.
    virtual HttpFailure LastFailure() const { return HttpFailure::kOther; }
    // After Send: the Location header of the answer; false when it has none.
    virtual bool QueryLocation(std::string& /*location*/) { return false; }
    // After Send: the value of the answer's header line `name` (compared without regard to
    // case; the first of several), blanks around it dropped; false when the answer has none.
    virtual bool QueryHeader(std::string_view /*name*/, std::string& /*value*/) { return false; }
};

class HttpConnection {
public:
    virtual ~HttpConnection() = default;
    // The text the connection was opened for, as given (possibly with a scheme and ":port").
    virtual const std::string& Host() const = 0;
    // `verb` is "GET" or "POST"; `objectName` is a path without a leading "/". The request goes
    // out as HTTP/1.0. Returns nullptr when no request can be opened.
    virtual std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb,
                                                     std::string_view objectName) = 0;
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // `host` names the server as ParseServerAddress reads it ("https://name:port", "name").
    // Returns nullptr when no connection can be made.
    virtual std::unique_ptr<HttpConnection> Connect(std::string_view host) = 0;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    // The layer's start-up, once per process, before any session. False: the layer is unusable.
    virtual bool Startup() = 0;
    // A session with the system's proxy settings and no answer cache; nullptr on failure.
    virtual std::unique_ptr<HttpSession> OpenSession(std::string_view userAgent) = 0;
};

}  // namespace fw
