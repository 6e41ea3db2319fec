// UpdateServer for the Windows test build: the servers run inside a native
// fablewright-update-server started with --control (see .ci/windows.sh), and each object here
// drives one of them over that control port. FW_TEST_SERVER_CONTROL_PORT names the port.

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tools/update-server/update_server.h"
// Last: see the header.
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

constexpr char kControlPortVariable[] = "FW_TEST_SERVER_CONTROL_PORT";

struct ControlAnswer {
    int status = 0;  // 0: no answer at all
    std::string body;
};

class SocketsStarted {
public:
    SocketsStarted() : started(WSAStartup(MAKEWORD(2, 2), &data) == 0) {}
    ~SocketsStarted() {
        if (started) WSACleanup();
    }
    SocketsStarted(const SocketsStarted&) = delete;
    SocketsStarted& operator=(const SocketsStarted&) = delete;
    bool started;

private:
    WSADATA data{};
};

class OwnedSocket {
public:
    OwnedSocket() : handle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~OwnedSocket() {
        if (handle != INVALID_SOCKET) closesocket(handle);
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    SOCKET handle;
};

int ControlPort() {
    const char* text = std::getenv(kControlPortVariable);
    if (text == nullptr) return 0;
    char* end = nullptr;
    long port = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || port <= 0 || port > 65535) return 0;
    return static_cast<int>(port);
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

// One request on a connection of its own, read to its end: the control port is for tests, so
// plain and blocking is enough.
ControlAnswer Call(const char* method, const std::string& target) {
    ControlAnswer answer;
    int port = ControlPort();
    if (port == 0) return answer;
    SocketsStarted sockets;
    if (!sockets.started) return answer;
    OwnedSocket connection;
    if (connection.handle == INVALID_SOCKET) return answer;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection.handle, reinterpret_cast<const sockaddr*>(&address),
                sizeof address) != 0) {
        return answer;
    }
    std::string request = std::string(method) + " " + target +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                          "Content-Length: 0\r\n\r\n";
    for (std::size_t sent = 0; sent < request.size();) {
        int n = send(connection.handle, request.data() + sent,
                     static_cast<int>(request.size() - sent), 0);
        if (n <= 0) return answer;
        sent += static_cast<std::size_t>(n);
    }
    std::string received;
    char buffer[16384];
    while (true) {
        int n = recv(connection.handle, buffer, static_cast<int>(sizeof buffer), 0);
        if (n < 0) return answer;
        if (n == 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    // "HTTP/1.1 200 OK\r\n...\r\n\r\nbody"; the answer is never chunked, and it ends with the
    // connection.
    std::size_t space = received.find(' ');
    std::size_t headersEnd = received.find("\r\n\r\n");
    if (space == std::string::npos || headersEnd == std::string::npos) return answer;
    int status = std::atoi(received.c_str() + space + 1);
    if (status < 100) return answer;
    answer.status = status;
    answer.body = received.substr(headersEnd + 4);
    return answer;
}

// For calls that cannot report failure: a test that cannot steer its server must fail rather
// than run on with a server that misbehaves differently than it asked.
std::string CallOrThrow(const char* method, const std::string& target) {
    ControlAnswer answer = Call(method, target);
    if (answer.status != 200) {
        throw std::runtime_error("update server control " + target + " failed: " +
                                 std::to_string(answer.status) + " " + answer.body);
    }
    return answer.body;
}

}  // namespace

class UpdateServer::Impl {
public:
    Impl(std::string root, std::string logFile)
        : root(std::move(root)), logFile(std::move(logFile)) {}

    ~Impl() {
        if (!id.empty()) Call("POST", "/destroy?id=" + id);
    }

    bool Start(int wantedPort) {
        if (running || !Create()) return false;
        ControlAnswer answer =
            Call("POST", "/start?id=" + id + "&port=" + std::to_string(wantedPort) + "&tls=" +
                             std::string(ServerCertificateName(certificate)));
        if (answer.status != 200) return false;
        port = std::atoi(answer.body.c_str());
        running = port > 0;
        return running;
    }

    void Stop() {
        if (!running) return;
        // Called from destructors too: a server that cannot be reached is as good as stopped.
        Call("POST", "/stop?id=" + id);
        running = false;
        port = 0;
    }

    bool Running() const { return running; }
    int Port() const { return port; }
    bool Secure() const { return certificate != ServerCertificate::kNone; }
    void UseTls(ServerCertificate kind) { certificate = kind; }

    void SetFault(std::string_view path, const ServerFault& fault) {
        Command("/fault?path=" + UrlEncode(path) +
                "&switches=" + UrlEncode(FormatFaultSwitches(fault)));
    }
    void ClearFault(std::string_view path) { Command("/clear-fault?path=" + UrlEncode(path)); }
    void ClearFaults() { Command("/clear-faults?"); }
    void ClearRequests() { Command("/clear-requests?"); }

    std::uint64_t BodyBytesSent() {
        if (!Create()) throw std::runtime_error("no update server control port");
        std::string text = CallOrThrow("GET", "/bytes-sent?id=" + id);
        return std::stoull(text);
    }

    std::vector<RecordedRequest> Requests() {
        if (!Create()) throw std::runtime_error("no update server control port");
        std::string lines = CallOrThrow("GET", "/requests?id=" + id);
        std::vector<RecordedRequest> requests;
        std::size_t at = 0;
        while (at < lines.size()) {
            std::size_t end = lines.find('\n', at);
            if (end == std::string::npos) end = lines.size();
            auto parsed = ParseRecordedRequest(std::string_view(lines).substr(at, end - at));
            if (!parsed) throw std::runtime_error("unreadable recorded request");
            requests.push_back(std::move(*parsed));
            at = end + 1;
        }
        return requests;
    }

private:
    // The server in the native process exists from the first call on, so faults may be set
    // before Start, as in-process.
    bool Create() {
        if (!id.empty()) return true;
        std::string target = "/create?root=" + UrlEncode(root);
        if (!logFile.empty()) target += "&log=" + UrlEncode(logFile);
        ControlAnswer answer = Call("POST", target);
        if (answer.status != 200) return false;
        std::size_t end = answer.body.find_first_not_of("0123456789");
        id = answer.body.substr(0, end);
        return !id.empty();
    }

    void Command(const std::string& command) {
        if (!Create()) throw std::runtime_error("no update server control port");
        std::string target = command;
        target += target.back() == '?' ? "" : "&";
        CallOrThrow("POST", target + "id=" + id);
    }

    std::string root;
    std::string logFile;
    std::string id;
    bool running = false;
    int port = 0;
    ServerCertificate certificate = ServerCertificate::kNone;
};

UpdateServer::UpdateServer(std::string root, std::string logFile)
    : impl(std::make_unique<Impl>(std::move(root), std::move(logFile))) {}

UpdateServer::~UpdateServer() = default;

bool UpdateServer::Start(int port) { return impl->Start(port); }

std::string UpdateServer::Unavailable() {
    if (ControlPort() == 0) {
        return std::string("no native update server: ") + kControlPortVariable +
               " is not set (run .ci/windows.sh)";
    }
    if (Call("GET", "/requests?id=0").status == 0) {
        return "the native update server does not answer on its control port";
    }
    return {};
}

void UpdateServer::Stop() { impl->Stop(); }
bool UpdateServer::Running() const { return impl->Running(); }
int UpdateServer::Port() const { return impl->Port(); }
std::string UpdateServer::HostText() const {
    // Certificates name "localhost": Wine's TLS does not check address names.
    if (impl->Secure()) return "https://localhost:" + std::to_string(impl->Port());
    return "127.0.0.1:" + std::to_string(impl->Port());
}

void UpdateServer::UseTls(ServerCertificate kind, std::shared_ptr<const TestAuthority>) {
    impl->UseTls(kind);
}

void UpdateServer::SetFault(std::string_view path, const ServerFault& fault) {
    impl->SetFault(path, fault);
}
void UpdateServer::ClearFault(std::string_view path) { impl->ClearFault(path); }
void UpdateServer::ClearFaults() { impl->ClearFaults(); }
std::vector<RecordedRequest> UpdateServer::Requests() const { return impl->Requests(); }
void UpdateServer::ClearRequests() { impl->ClearRequests(); }
std::uint64_t UpdateServer::BodyBytesSent() const { return impl->BodyBytesSent(); }

}  // namespace fw
