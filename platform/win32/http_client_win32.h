#pragma once
// The HTTP layer on the Windows Internet client library (WinInet).
//
// WinInet's reads block. Each read is bounded by a receive time-out of kStallTimeoutSeconds,
// and the wait callback runs before every read that goes to the network, so a caller that
// reads in blocks keeps its window responsive between blocks; while one read waits for the
// network the callback does not run.

#include "platform/http_client.h"

namespace fw {

class Win32HttpClient : public HttpClient {
public:
    Win32HttpClient() = default;
    ~Win32HttpClient() override;
    Win32HttpClient(const Win32HttpClient&) = delete;
    Win32HttpClient& operator=(const Win32HttpClient&) = delete;

    // Windows Sockets 1.1, exactly that version.
    bool Startup() override;
    std::unique_ptr<HttpSession> OpenSession(std::string_view userAgent) override;

private:
    bool socketsStarted = false;
};

// Splits "host[:port]" into the host and the port (80 without one); false when the port is not
// a number from 1 to 65535.
bool SplitHostPort(std::string_view text, std::string& host, unsigned short& port);

}  // namespace fw
