#include "platform/win32/http_client_win32.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/http_redirects.h"
#include "platform/server_address.h"
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

constexpr DWORD kReadChunk = 4096;
// How long the calling thread waits for a blocked WinInet call before it calls back again.
constexpr std::chrono::milliseconds kWaitSlice{25};

// One WinInet handle. A child keeps its parent's owner alive, so that the handles of a session,
// its connections and their requests can be let go of in any order and each is closed after
// every handle below it.
class InternetHandle {
public:
    InternetHandle(HINTERNET handle, std::shared_ptr<InternetHandle> parent)
        : handle(handle), parent(std::move(parent)) {}
    ~InternetHandle() { Close(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle; }

    // Closes the handle early; a call blocked on it in another thread then returns with a
    // failure. The handle is null afterwards.
    void Close() {
        if (handle == nullptr) return;
        InternetCloseHandle(handle);
        handle = nullptr;
    }

private:
    HINTERNET handle;
    std::shared_ptr<InternetHandle> parent;
};

void SetTimeout(HINTERNET handle, DWORD option, long seconds) {
    DWORD milliseconds = static_cast<DWORD>(seconds) * 1000u;
    InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds));
}

// What one blocking WinInet call uses. The calling thread and the worker share it, so that a
// worker left behind by a caller that gave up keeps alive all it touches.
struct CallState {
    explicit CallState(std::shared_ptr<InternetHandle> handle) : handle(std::move(handle)) {}
    std::shared_ptr<InternetHandle> handle;
    HINTERNET raw = nullptr;
    std::string headers;
    std::string body;
    std::vector<char> buffer;
    DWORD got = 0;
    DWORD error = 0;  // of a call that failed, taken on the thread that made it
};

// The errors that mean the server could not show that it is the one we asked for.
bool IsIdentityError(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return true;
    default:
        return false;
    }
}

class Win32HttpRequest : public HttpRequest {
public:
    explicit Win32HttpRequest(std::shared_ptr<InternetHandle> request)
        : request(std::move(request)) {}

    bool Send(std::string_view headers, std::string_view body,
              const WaitCallback& whileWaiting) override {
        if (whileWaiting && !whileWaiting()) return false;
        if (headers.size() > ULONG_MAX || body.size() > ULONG_MAX) return false;
        auto state = std::make_shared<CallState>(request);
        state->headers = std::string(headers);
        state->body = std::string(body);
        bool sent = CallWinInet(state, [](CallState& c) {
            return HttpSendRequestA(c.raw, c.headers.empty() ? nullptr : c.headers.c_str(),
                                    static_cast<DWORD>(c.headers.size()),
                                    c.body.empty() ? nullptr : c.body.data(),
                                    static_cast<DWORD>(c.body.size()));
        }, whileWaiting);
        failure = IsIdentityError(state->error) ? HttpFailure::kServerIdentity
                                                : HttpFailure::kOther;
        if (!sent) return false;
        // A server that closes the connection without answering leaves no status line, yet
        // the send counts as done (Wine takes it for a bare HTTP/0.9 reply): that is a failed
        // send, not an answer with status 0.
        int code = 0;
        return QueryStatusCode(code) && code != 0;
    }

    bool QueryStatusCode(int& code) override {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (!HttpQueryInfoA(request->get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &value, &size, nullptr)) {
            return false;
        }
        if (value > static_cast<DWORD>(INT_MAX)) return false;
        code = static_cast<int>(value);
        return true;
    }

    HttpFailure LastFailure() const override { return failure; }

    bool QueryLocation(std::string& location) override {
        DWORD size = 0;
        HttpQueryInfoA(request->get(), HTTP_QUERY_LOCATION, nullptr, &size, nullptr);
        if (size == 0 || size > kMaxLineBytes) return false;
        std::string value(size, '\0');
        if (!HttpQueryInfoA(request->get(), HTTP_QUERY_LOCATION, value.data(), &size, nullptr)) {
            return false;
        }
        value.resize(std::min<std::size_t>(size, value.size()));
        location = value.c_str();
        return true;
    }

    ReadStatus ReadLine(std::string& line, const WaitCallback& whileWaiting) override {
        std::size_t scanned = start;
        for (;;) {
            std::size_t lf = pending.find('\n', scanned);
            if (lf != std::string::npos) {
                TakeLine(line, lf);
                start = lf + 1;
                return ReadStatus::kOk;
            }
            if (pending.size() - start > kMaxLineBytes) return ReadStatus::kTooLong;
            scanned = pending.size();
            Compact(scanned);
            std::size_t before = pending.size();
            pending.resize(before + kReadChunk);
            std::ptrdiff_t n = ReadFromNetwork(pending.data() + before, kReadChunk, whileWaiting);
            pending.resize(before + static_cast<std::size_t>(std::max<std::ptrdiff_t>(n, 0)));
            if (n < 0) return ReadStatus::kError;
            if (n == 0) {
                if (start == pending.size()) return ReadStatus::kEnd;
                TakeLine(line, pending.size());  // the last line, without LF
                start = pending.size();
                return ReadStatus::kOk;
            }
        }
    }

    std::ptrdiff_t ReadBlock(void* buffer, std::size_t size,
                             const WaitCallback& whileWaiting) override {
        if (size == 0) return 0;
        // Bytes that a line read fetched ahead come first.
        if (start < pending.size()) {
            std::size_t n = std::min(size, pending.size() - start);
            std::copy_n(pending.data() + start, n, static_cast<char*>(buffer));
            start += n;
            return static_cast<std::ptrdiff_t>(n);
        }
        return ReadFromNetwork(buffer, size, whileWaiting);
    }

private:
    std::ptrdiff_t ReadFromNetwork(void* buffer, std::size_t size,
                                   const WaitCallback& whileWaiting) {
        if (whileWaiting && !whileWaiting()) return -1;
        DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!whileWaiting) {
            DWORD got = 0;
            if (!InternetReadFile(request->get(), buffer, wanted, &got)) return -1;
            return static_cast<std::ptrdiff_t>(got);
        }
        auto state = std::make_shared<CallState>(request);
        state->buffer.resize(wanted);
        bool read = CallWinInet(state, [](CallState& c) {
            return InternetReadFile(c.raw, c.buffer.data(), static_cast<DWORD>(c.buffer.size()),
                                    &c.got);
        }, whileWaiting);
        if (!read) return -1;
        std::copy_n(state->buffer.data(), state->got, static_cast<char*>(buffer));
        return static_cast<std::ptrdiff_t>(state->got);
    }

    // Makes `call` on the request's handle. Without a wait callback the call is made here.
    // With one it runs on a worker while this thread calls back every kWaitSlice; when the
    // callback gives up, the handle is closed, which ends the call, and the request fails from
    // then on.
    bool CallWinInet(const std::shared_ptr<CallState>& state, BOOL (*call)(CallState&),
                     const WaitCallback& whileWaiting) {
        state->raw = request->get();
        if (state->raw == nullptr) return false;  // given up on earlier
        auto callKeepingError = [state, call] {
            BOOL ok = call(*state);
            if (!ok) state->error = GetLastError();
            return ok;
        };
        if (!whileWaiting) return callKeepingError() != FALSE;
        try {
            std::packaged_task<BOOL()> task(callKeepingError);
            std::future<BOOL> result = task.get_future();
            std::thread worker(std::move(task));
            while (result.wait_for(kWaitSlice) != std::future_status::ready) {
                if (!whileWaiting()) {
                    request->Close();
                    worker.detach();
                    return false;
                }
            }
            worker.join();
            return result.get() != FALSE;
        } catch (const std::system_error&) {
            return false;  // no thread to be had
        }
    }

    // The line from `start` to `end` with every CR dropped.
    void TakeLine(std::string& line, std::size_t end) {
        line.clear();
        for (std::size_t i = start; i < end; ++i) {
            if (pending[i] != '\r') line += pending[i];
        }
    }

    // Drops the bytes already handed out, keeping `scanned` pointing at the same byte.
    void Compact(std::size_t& scanned) {
        if (start == 0) return;
        pending.erase(0, start);
        scanned -= start;
        start = 0;
    }

    std::shared_ptr<InternetHandle> request;
    HttpFailure failure = HttpFailure::kOther;
    std::string pending;    // bytes read from the network and not yet handed out, from `start`
    std::size_t start = 0;
};

class Win32HttpConnection : public HttpConnection {
public:
    Win32HttpConnection(std::string host, bool secure, std::shared_ptr<InternetHandle> connection)
        : host(std::move(host)), secure(secure), connection(std::move(connection)) {}

    const std::string& Host() const override { return host; }

    std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb,
                                             std::string_view objectName) override {
        std::string v(verb);
        std::string object(objectName);
        // Redirects are followed by the session's rules, the same on every host; WinInet's own
        // would go on from https to http.
        DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_AUTO_REDIRECT |
                      (secure ? INTERNET_FLAG_SECURE : 0);
        HINTERNET handle = HttpOpenRequestA(connection->get(), v.c_str(), object.c_str(),
                                            "HTTP/1.0", nullptr, nullptr, flags, 1);
        if (handle == nullptr) return nullptr;
        return std::make_unique<Win32HttpRequest>(
            std::make_shared<InternetHandle>(handle, connection));
    }

private:
    std::string host;
    bool secure;
    std::shared_ptr<InternetHandle> connection;
};

class Win32HttpSession : public HttpSession {
public:
    explicit Win32HttpSession(std::shared_ptr<InternetHandle> session)
        : session(std::move(session)) {}

    std::unique_ptr<HttpConnection> Connect(std::string_view hostText) override {
        std::optional<ServerAddress> address = ParseServerAddress(hostText);
        if (!address) return nullptr;
        HINTERNET handle = InternetConnectA(session->get(), address->host.c_str(), address->port,
                                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
        if (handle == nullptr) return nullptr;
        return std::make_unique<Win32HttpConnection>(
            std::string(hostText), address->secure,
            std::make_shared<InternetHandle>(handle, session));
    }

private:
    std::shared_ptr<InternetHandle> session;
};

}  // namespace

bool SplitHostPort(std::string_view text, std::string& host, unsigned short& port) {
    std::optional<ServerAddress> address = ParseServerAddress(text);
    if (!address) return false;
    host = address->host;
    port = address->port;
    return true;
}

Win32HttpClient::~Win32HttpClient() {
    if (socketsStarted) WSACleanup();
}

bool Win32HttpClient::Startup() {
    if (socketsStarted) return true;
    WSADATA data{};
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return false;
    if (data.wVersion != MAKEWORD(1, 1)) {
        WSACleanup();
        return false;
    }
    socketsStarted = true;
    return true;
}

std::unique_ptr<HttpSession> Win32HttpClient::OpenSession(std::string_view userAgent) {
    std::string agent(userAgent);
    HINTERNET handle = InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                     nullptr, INTERNET_FLAG_DONT_CACHE);
    if (handle == nullptr) return nullptr;
    // Time-outs set on the session hold for every connection and request made on it.
    SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutSeconds);
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, kStallTimeoutSeconds);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, kStallTimeoutSeconds);
    return FollowRedirects(
        std::make_unique<Win32HttpSession>(std::make_shared<InternetHandle>(handle, nullptr)));
}

}  // namespace fw
