#pragma once
// The control port of the server program, for test processes that cannot run a server of their
// own (the Windows tests under Wine): over it they create, start, stop and fault servers inside
// this process and read what those servers saw. Only `--control` opens it; it listens on the
// loopback interface and is never part of the served folders.
//
//   POST /create?root=DIR[&log=FILE]   -> "ID"           a server for DIR, not yet listening
//   POST /start?id=ID&port=N[&tls=K]   -> "PORT"         409 when it cannot listen; K as
//                                         ServerCertificateName gives it, from this program's
//                                         test authority
//   POST /stop?id=ID                   -> "OK"
//   POST /destroy?id=ID                -> "OK"           stopped and forgotten
//   POST /fault?id=ID&path=P&switches=S                  S as in --fault; empty: normal
//   POST /clear-fault?id=ID&path=P     POST /clear-faults?id=ID
//   GET  /requests?id=ID               -> one RecordedRequest::ToJson line per request, with
//                                         the decoded "path" as one more member
//   POST /clear-requests?id=ID
// An unknown id is 404, a malformed argument 400.

#include <memory>
#include <string>

#include "tools/update-server/update_server.h"

namespace fw {

class UpdateServerControl {
public:
    // `winePrefix`, when given, is the Wine prefix of the clients: roots and log files given
    // as Windows paths ("C:\users\...") are found through its drive letters.
    // `authority` issues the certificates of the servers started with "tls".
    explicit UpdateServerControl(std::string winePrefix = {},
                                 std::shared_ptr<const TestAuthority> authority = nullptr);
    ~UpdateServerControl();  // stops the control port and every server made through it
    UpdateServerControl(const UpdateServerControl&) = delete;
    UpdateServerControl& operator=(const UpdateServerControl&) = delete;

    // Listens on 127.0.0.1 at `port` (0: any free port). False when it cannot.
    bool Start(int port = 0);
    void Stop();
    int Port() const;

    // A path as a client names it, as this process finds it: "X:\a\b" becomes
    // PREFIX/dosdevices/x:/a/b when there is a prefix; anything else stays as it is.
    std::string LocalPath(const std::string& clientPath) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace fw
