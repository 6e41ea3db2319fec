#pragma once
// The HTTP layer on the Windows Internet client library (WinInet).
//
// WinInet's sends and reads block, each bounded by the layer's time-outs. Given a wait callback,
// a request makes each of those calls on a worker thread and keeps calling back on the calling
// thread while it waits, so that thread's window stays alive even while a server stalls. When
// the callback gives up, the request's handle is closed to end the blocked call, and the
// request fails from then on. Only WinInet is called from the worker.

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

// Splits "[scheme://]host[:port]" into the host and the port (80, or 443 for https, without one);
// false when the text names no server (ParseServerAddress).
bool SplitHostPort(std::string_view text, std::string& host, unsigned short& port);

}  // namespace fw
