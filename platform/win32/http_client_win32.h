#pragma once
// The HTTP layer on the Windows Internet client library (WinInet).
//
// WinInet's sends and reads block, each bounded by the layer's time-outs. Each request has one
// worker thread, started by the send, that makes those calls: it sends the request, then reads
// the answer ahead in large reads into a 1 MiB ring, from which the request serves the caller's
// blocks without a thread switch. Only when the ring is empty does the caller wait, on the
// worker's event and its own window messages together, calling its wait callback when messages
// arrive and at least every 25 ms. When the callback gives up, the read fails at once and so
// does the request from then on: the handle is closed, which on Windows ends the call the
// worker is in (Wine lets it run to its end or time-out), and the worker stops.

#include "platform/http_client.h"

namespace fw {

class Win32HttpClient : public HttpClient {
public:
    // `floor`: the least a request must deliver (tests shorten its window).
    explicit Win32HttpClient(ThroughputLimit floor = {}) : floor(floor) {}
    ~Win32HttpClient() override;
    Win32HttpClient(const Win32HttpClient&) = delete;
    Win32HttpClient& operator=(const Win32HttpClient&) = delete;

    // Windows Sockets 1.1, exactly that version.
    bool Startup() override;
    std::unique_ptr<HttpSession> OpenSession(std::string_view userAgent) override;

private:
    bool socketsStarted = false;
    ThroughputLimit floor;
};

// Splits "[scheme://]host[:port]" into the host and the port (80, or 443 for https, without one);
// false when the text names no server (ParseServerAddress).
bool SplitHostPort(std::string_view text, std::string& host, unsigned short& port);

}  // namespace fw
