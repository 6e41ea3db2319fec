#pragma once
// A small HTTP server that stands in for the update and information servers: it serves the
// files of one folder, accepts every POST, records every request, and can be told to
// misbehave on chosen paths. Tests use it in-process; the demo runs it as a program. The
// Windows test build has no server of its own: there this class drives servers inside a
// native server program through its control port (update_server_control.h).

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fw {

// How the server misbehaves on one path. Everything left at its default behaves normally;
// several switches may be combined (e.g. a status with a truncated body).
struct ServerFault {
    // Answer with this status code (and a short text body) instead of the file or POST answer.
    std::optional<int> status = std::nullopt;
    // Close the connection after this many body bytes.
    std::optional<std::uint64_t> truncateAfter = std::nullopt;
    // After `stallAfter` body bytes, send nothing for `stallFor` (cut short when the server
    // stops).
    std::optional<std::uint64_t> stallAfter = std::nullopt;
    std::chrono::milliseconds stallFor{0};
    // Send the body at no more than this many bytes per second (0: as fast as possible).
    std::uint64_t bytesPerSecond = 0;
    // Announce this Content-Length instead of the true one. Shorter: the body is cut there;
    // longer: the connection closes after the true body.
    std::optional<std::uint64_t> announcedLength = std::nullopt;
    // Read the request, then close the connection without answering at all.
    bool drop = false;
    // Announce no length and follow the body with zero bytes that never end.
    bool endless = false;
    // Answer with a redirect to this address (status 302 unless `status` says otherwise).
    std::optional<std::string> redirect = std::nullopt;
    // Send this Retry-After value with the answer (with `status`, a 503 or 429).
    std::optional<std::string> retryAfter = std::nullopt;
    // Answer a Range request with the whole file, as a server without ranges does.
    bool ignoreRange = false;
    // Answer a Range request with a part that starts one byte later than asked, saying so.
    bool wrongRange = false;
    // Send neither ETag nor Last-Modified.
    bool noValidators = false;
    // Only the first this many requests for the path meet the fault; later ones are answered
    // as if there were none (a crowd that a busy server turns away once).
    std::optional<std::uint64_t> onlyFirst = std::nullopt;

    bool operator==(const ServerFault&) const = default;
};

// "PATH:switch,switch,..." as on the command line: status=N, truncate=N, stall=SECONDS@N,
// rate=BYTES_PER_SECOND, length=N, drop, endless, redirect=URL (a URL without ","),
// retry-after=TEXT (a "," in it written as ";"), ignore-range, wrong-range, no-validators,
// first=N. PATH is split
// off at the last ':' after which the switches make sense. Nothing when the text is malformed.
std::optional<std::pair<std::string, ServerFault>> ParseFaultSpec(std::string_view spec);
// The switches alone ("status=404,truncate=10"); empty text is a fault that changes nothing.
std::optional<ServerFault> ParseFaultSwitches(std::string_view switches);
// The switches that ParseFaultSwitches reads back as `fault` (a stall counts only with its
// `stallAfter`); empty for a fault that changes nothing.
std::string FormatFaultSwitches(const ServerFault& fault);
// "/path": the key under which a path's fault is kept, with or without its leading "/".
std::string FaultPathKey(std::string_view path);

// The certificate a TLS server shows: one for "localhost" from the run's test authority, or one
// that a client must refuse.
enum class ServerCertificate { kNone, kTrusted, kOtherName, kExpired, kUnknownAuthority };
// "none", "trusted", "other-name", "expired", "unknown-authority".
std::string_view ServerCertificateName(ServerCertificate kind);
std::optional<ServerCertificate> ParseServerCertificate(std::string_view name);

class TestAuthority;  // tools/update-server/test_authority.h

struct RecordedRequest {
    std::string method;       // "GET"
    std::string target;       // "/UpDefs/FablewrightUpdates.txt", as in the request line
    std::string path;         // the target's path, decoded, without a query
    std::string version;      // "HTTP/1.0"
    std::string requestLine;  // "GET /UpDefs/FablewrightUpdates.txt HTTP/1.0"
    // In the server library's order (sorted by name), names as the client wrote them.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first value of a header, found without regard to case; nothing when absent.
    std::optional<std::string> Header(std::string_view name) const;
    // One line of JSON: {"requestLine":...,"method":...,"target":...,"version":...,
    // "headers":[[name,value],...],"body":...}. Bytes outside printable ASCII are written as
    // \u00XX, so every byte of the request can be recovered.
    std::string ToJson() const;
};

// `text` as a JSON string, escaped as ToJson escapes it.
std::string ToJsonString(std::string_view text);
// Reads a line that ToJson wrote back into a request, with one more, optional, member "path"
// (ToJson leaves the decoded path out). Nothing when the line is not such an object.
std::optional<RecordedRequest> ParseRecordedRequest(std::string_view json);

class UpdateServer {
public:
    // Serves the files under `root`; `logFile`, when given, gets one JSON line per request.
    explicit UpdateServer(std::string root, std::string logFile = {});
    ~UpdateServer();  // stops the server
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // Listens on 127.0.0.1 at `port` (0: any free port). False when the port cannot be bound,
    // the server is already running, or the root is not a folder.
    bool Start(int port = 0);
    // Empty when this host can run servers; otherwise why it cannot (the Windows test build
    // drives servers in a native process, which must have been started for it).
    static std::string Unavailable();
    // Ends every answer in progress (stalls included) and returns once the server is down.
    void Stop();
    bool Running() const;
    // The port listened on; 0 before Start.
    int Port() const;
    // "127.0.0.1:PORT", the host text to connect to; "https://localhost:PORT" over TLS.
    std::string HostText() const;

    // From the next Start on, serves over TLS with a certificate of `kind` from `authority`
    // (kNone: plain HTTP again). A server in the native server program takes the authority of
    // that program (its --authority-out) and ignores `authority`.
    void UseTls(ServerCertificate kind, std::shared_ptr<const TestAuthority> authority = nullptr);

    // `path` is the request path, with or without its leading "/". The switches take effect
    // for requests that arrive afterwards.
    void SetFault(std::string_view path, const ServerFault& fault);
    void ClearFault(std::string_view path);
    void ClearFaults();

    // Every request so far, in order of arrival (a copy; safe while the server runs).
    std::vector<RecordedRequest> Requests() const;
    void ClearRequests();
    // The body bytes handed to connections since the start or the last ClearRequests.
    std::uint64_t BodyBytesSent() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace fw
