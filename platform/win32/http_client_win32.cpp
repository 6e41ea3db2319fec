#include "platform/win32/http_client_win32.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http_headers.h"
#include "platform/http_redirects.h"
#include "platform/server_address.h"
#include "platform/throughput_floor.h"
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

using Clock = std::chrono::steady_clock;

// The answer is read ahead into a ring of this size and served from there in the blocks the
// caller asks for.
constexpr std::size_t kRingBytes = 1u << 20;
// A WinInet read blocks until its buffer is full or the answer ends. While the answer flows,
// the worker reads this much at a time; while it trickles, no more than WinInet holds already
// (it buffers this much), so that what arrived before a stall is served during it.
constexpr std::size_t kFlowingReadBytes = 64u * 1024u;
constexpr DWORD kTrickleReadBytes = 8192;
// A flowing read that takes longer than this means the answer trickles; this many full
// trickle reads in a row mean it flows again.
constexpr Clock::duration kSlowReadTime = std::chrono::milliseconds(20);
constexpr int kFullReadsToFlow = 8;
// How long giving up waits for the worker's call to return after its handle was closed
// (Windows ends the call at once; Wine lets it run on, and the worker is left to finish it).
constexpr Clock::duration kCloseWait = std::chrono::milliseconds(50);
// How long a read that finds the ring empty looks again before it waits on the worker's event.
constexpr Clock::duration kSpinTime = std::chrono::microseconds(500);
// The worker waits for this much room before it reads again, and the caller hands served bytes
// back in batches of this size: neither side wakes the other for every block.
constexpr std::size_t kBatchBytes = 64u * 1024u;
// A wait for the worker calls the wait callback again after this long at the latest (and at
// once when window messages arrive).
constexpr DWORD kWaitSliceMilliseconds = 25;

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

// An auto-reset event with an owner.
class AutoResetEvent {
public:
    AutoResetEvent() : handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~AutoResetEvent() {
        if (handle != nullptr) CloseHandle(handle);
    }
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;
    bool Valid() const { return handle != nullptr; }
    HANDLE get() const { return handle; }
    void Set() { SetEvent(handle); }

private:
    HANDLE handle;
};

// What a request and its worker share. The worker holds a reference of its own, so that a
// worker still inside a WinInet call when the request is let go of finds all it touches alive;
// the request handle is closed by whichever of the two lets go last.
struct Exchange {
    Exchange(std::shared_ptr<InternetHandle> handle, std::string_view headers,
             std::string_view body)
        : handle(std::move(handle)), headers(headers), body(body), ring(kRingBytes) {}

    const std::shared_ptr<InternetHandle> handle;
    std::string headers;  // read by the worker only
    std::string body;
    // The worker writes only bytes that are not `filled`; the request reads only filled ones.
    std::vector<char> ring;
    AutoResetEvent toWorker;  // room in the ring, or stop
    AutoResetEvent toCaller;  // the send is done, bytes arrived, or the answer is over

    enum class Stream { kOpen, kEnded, kFailed };
    std::mutex lock;
    // Guarded by `lock`.
    bool stop = false;            // the request is done with the worker
    bool inCall = false;          // the worker is inside a WinInet call
    bool workerWaiting = false;   // on `toWorker`
    bool callerWaiting = false;   // on `toCaller`
    bool sendDone = false;
    std::uint64_t received = 0;   // answer bytes the worker has read
    bool sent = false;            // and an answer with a status line came back
    DWORD status = 0;
    DWORD sendError = 0;          // of a failed send, taken on the worker that made it
    std::optional<std::string> location;  // of a redirect answer
    std::string rawHeaders;       // of the answer, status line included
    Stream stream = Stream::kOpen;
    std::size_t filled = 0;       // bytes in the ring that the request has not handed back

    // With `lock` held.
    void WakeCaller() {
        if (!callerWaiting) return;
        callerWaiting = false;
        toCaller.Set();
    }
    void WakeWorker() {
        if (!workerWaiting) return;
        workerWaiting = false;
        toWorker.Set();
    }
};

// Whether the answer flows or trickles, from how the worker's last reads went.
struct ReadPace {
    bool trickling = true;  // until it shows that it flows
    int fullReads = 0;

    void AfterTrickleRead(bool full) {
        fullReads = full ? fullReads + 1 : 0;
        if (fullReads >= kFullReadsToFlow) trickling = false;
    }
    void AfterFlowingRead(Clock::duration took) {
        if (took <= kSlowReadTime) return;
        trickling = true;
        fullReads = 0;
    }
};

// Between two WinInet calls of one stretch: false, and out of the call, once the request is
// done with the worker. The request may then have closed the handle to end the call before,
// and WinInet may have given its value to another request: no further call may use it.
bool StillWanted(Exchange& x) {
    std::lock_guard<std::mutex> guard(x.lock);
    if (x.stop) x.inCall = false;
    return !x.stop;
}

// The worker of one request: sends it, then reads the answer ahead until it ends, fails, the
// ring is full (then it waits for room) or the request is done with it. Only WinInet and the
// exchange are touched here.
void RunWorker(const std::shared_ptr<Exchange>& x) {
    HINTERNET handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(x->lock);
        if (x->stop) return;
        handle = x->handle->get();
        x->inCall = true;
    }
    BOOL sent = HttpSendRequestA(handle, x->headers.empty() ? nullptr : x->headers.c_str(),
                                 static_cast<DWORD>(x->headers.size()),
                                 x->body.empty() ? nullptr : x->body.data(),
                                 static_cast<DWORD>(x->body.size()));
    // The error is the calling thread's own: it has to be taken here, at once.
    DWORD sendError = sent ? 0 : GetLastError();
    if (!StillWanted(*x)) return;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (sent && !HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                &size, nullptr)) {
        status = 0;
    }
    // Where a redirect leads is asked for here, before the worker reads on the same handle.
    std::optional<std::string> location;
    DWORD locationSize = 0;
    if (status >= 300 && status < 400) {
        if (!StillWanted(*x)) return;
        HttpQueryInfoA(handle, HTTP_QUERY_LOCATION, nullptr, &locationSize, nullptr);
    }
    if (locationSize > 0 && locationSize <= kMaxLineBytes) {
        if (!StillWanted(*x)) return;
        std::string value(locationSize, '\0');
        if (HttpQueryInfoA(handle, HTTP_QUERY_LOCATION, value.data(), &locationSize, nullptr)) {
            location = std::string(value.c_str());
        }
    }
    // The other header lines are asked for here too, for the same reason.
    std::string rawHeaders;
    DWORD headersSize = 0;
    if (status != 0) {
        if (!StillWanted(*x)) return;
        HttpQueryInfoA(handle, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &headersSize, nullptr);
    }
    if (headersSize > 0 && headersSize <= kMaxLineBytes) {
        if (!StillWanted(*x)) return;
        std::string value(headersSize, '\0');
        if (HttpQueryInfoA(handle, HTTP_QUERY_RAW_HEADERS_CRLF, value.data(), &headersSize,
                           nullptr)) {
            rawHeaders = std::string(value.c_str());
        }
    }
    std::size_t writePos = 0;
    ReadPace pace;
    {
        std::lock_guard<std::mutex> guard(x->lock);
        x->inCall = false;
        x->sendDone = true;
        // A server that closes the connection without answering leaves no status line, yet
        // the send counts as done (Wine takes it for a bare HTTP/0.9 reply): that is a failed
        // send, not an answer with status 0.
        x->sent = sent != FALSE && status != 0;
        x->status = status;
        x->sendError = sendError;
        x->location = std::move(location);
        x->rawHeaders = std::move(rawHeaders);
        x->WakeCaller();
        if (!x->sent || x->stop) return;
    }
    for (;;) {
        std::size_t room = 0;
        {
            std::unique_lock<std::mutex> guard(x->lock);
            while (!x->stop && kRingBytes - x->filled < kBatchBytes) {
                x->workerWaiting = true;
                guard.unlock();
                WaitForSingleObject(x->toWorker.get(), INFINITE);
                guard.lock();
            }
            x->workerWaiting = false;
            if (x->stop) return;
            room = std::min(kRingBytes - x->filled, kRingBytes - writePos);
            x->inCall = true;
        }
        DWORD got = 0;
        BOOL read = FALSE;
        Clock::time_point started = Clock::now();
        if (pace.trickling) {
            // Only what has arrived, so that the bytes before a stall are served during it.
            DWORD available = 0;
            read = InternetQueryDataAvailable(handle, &available, 0, 0);
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(room, kTrickleReadBytes));
            if (available > 0) want = std::min(want, available);
            if (!StillWanted(*x)) return;
            if (read) read = InternetReadFile(handle, x->ring.data() + writePos, want, &got);
            pace.AfterTrickleRead(got == want && want == kTrickleReadBytes);
        } else {
            DWORD want = static_cast<DWORD>(std::min(room, kFlowingReadBytes));
            read = InternetReadFile(handle, x->ring.data() + writePos, want, &got);
            pace.AfterFlowingRead(Clock::now() - started);
        }
        std::lock_guard<std::mutex> guard(x->lock);
        x->inCall = false;
        if (!read) {
            x->stream = Exchange::Stream::kFailed;
        } else if (got == 0) {
            x->stream = Exchange::Stream::kEnded;
        } else {
            std::size_t count = std::min<std::size_t>(got, room);
            x->filled += count;
            x->received += count;
            writePos = (writePos + count) % kRingBytes;
        }
        x->WakeCaller();
        if (x->stream != Exchange::Stream::kOpen || x->stop) return;
    }
}

void AppendWithoutCarriageReturns(std::string& line, const char* data, std::size_t size) {
    while (size > 0) {
        const void* cr = std::memchr(data, '\r', size);
        std::size_t take = cr == nullptr
                               ? size
                               : static_cast<std::size_t>(static_cast<const char*>(cr) - data);
        line.append(data, take);
        std::size_t skip = take + (cr == nullptr ? 0 : 1);
        data += skip;
        size -= skip;
    }
}

class Win32HttpRequest : public HttpRequest {
public:
    Win32HttpRequest(std::shared_ptr<InternetHandle> request, ThroughputLimit limit)
        : request(std::move(request)), floor(limit) {}

    ~Win32HttpRequest() override {
        if (!worker.joinable()) return;
        // A worker outside WinInet ends at once; one inside a call that the closed handle did
        // not end is left to finish it (bounded by the time-outs) rather than freeze the window.
        if (StopWorker()) {
            worker.join();
        } else {
            worker.detach();
        }
    }
    Win32HttpRequest(const Win32HttpRequest&) = delete;
    Win32HttpRequest& operator=(const Win32HttpRequest&) = delete;

    bool Send(std::string_view headers, std::string_view body,
              const WaitCallback& whileWaiting) override {
        if (exchange) return false;  // a request goes out once
        if (whileWaiting && !whileWaiting()) return false;
        if (headers.size() > ULONG_MAX || body.size() > ULONG_MAX) return false;
        try {
            exchange = std::make_shared<Exchange>(request, headers, body);
            if (!exchange->toWorker.Valid() || !exchange->toCaller.Valid()) return false;
            worker = std::thread([x = exchange] { RunWorker(x); });
        } catch (...) {
            return false;  // no memory or no thread to be had
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(exchange->lock);
                if (exchange->sendDone) {
                    failure = IsIdentityError(exchange->sendError) ? HttpFailure::kServerIdentity
                                                                   : HttpFailure::kOther;
                    if (!exchange->sent || exchange->status > static_cast<DWORD>(INT_MAX)) {
                        return false;
                    }
                    status = static_cast<int>(exchange->status);
                    receiving = true;
                    return true;
                }
                exchange->callerWaiting = true;
            }
            if (!AwaitWorker(whileWaiting)) {
                GiveUp();
                return false;
            }
        }
    }

    bool QueryStatusCode(int& code) override {
        if (status == 0) return false;
        code = status;
        return true;
    }

    HttpFailure LastFailure() const override { return failure; }

    bool QueryLocation(std::string& location) override {
        if (!exchange || status == 0) return false;
        std::lock_guard<std::mutex> guard(exchange->lock);
        if (!exchange->location) return false;
        location = *exchange->location;
        return true;
    }

    bool QueryHeader(std::string_view name, std::string& value) override {
        if (!exchange || status == 0) return false;
        std::lock_guard<std::mutex> guard(exchange->lock);
        return FindHeaderValue(exchange->rawHeaders, name, value);
    }

    ReadStatus ReadLine(std::string& line, const WaitCallback& whileWaiting) override {
        line.clear();
        for (;;) {
            std::ptrdiff_t available = Fill(whileWaiting);
            if (available < 0) return ReadStatus::kError;
            if (available == 0) return line.empty() ? ReadStatus::kEnd : ReadStatus::kOk;
            const char* start = exchange->ring.data() + readPos;
            const void* lineFeed = std::memchr(start, '\n', static_cast<std::size_t>(available));
            std::size_t take =
                lineFeed == nullptr
                    ? static_cast<std::size_t>(available)
                    : static_cast<std::size_t>(static_cast<const char*>(lineFeed) - start);
            AppendWithoutCarriageReturns(line, start, take);
            Consume(take + (lineFeed == nullptr ? 0 : 1));
            if (line.size() > kMaxLineBytes) {
                // The rest of the line is still unread, so nothing after it can be trusted to
                // start a line: the request is over.
                GiveUp();
                line.clear();
                line.shrink_to_fit();
                return ReadStatus::kTooLong;
            }
            if (lineFeed != nullptr) return ReadStatus::kOk;
        }
    }

    std::ptrdiff_t ReadBlock(void* buffer, std::size_t size,
                             const WaitCallback& whileWaiting) override {
        if (size == 0) return 0;
        std::ptrdiff_t available = Fill(whileWaiting);
        if (available <= 0) return available;
        std::size_t count = std::min(size, static_cast<std::size_t>(available));
        std::memcpy(buffer, exchange->ring.data() + readPos, count);
        Consume(count);
        return static_cast<std::ptrdiff_t>(count);
    }

private:
    // Waits until the worker may have news: true. Given a wait callback, the wait ends after a
    // slice or when window messages arrive, and the callback runs; false when it gives up.
    // A request that has brought too little for too long gives up as well.
    bool AwaitWorker(const WaitCallback& whileWaiting) {
        HANDLE event = exchange->toCaller.get();
        Clock::time_point started = Clock::now();
        if (!whileWaiting) {
            WaitForSingleObject(event, kWaitSliceMilliseconds);
            return DeliveredEnough(Clock::now() - started);
        }
        DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, kWaitSliceMilliseconds,
                                                QS_ALLINPUT);
        if (!DeliveredEnough(Clock::now() - started)) return false;
        if (woken == WAIT_OBJECT_0) return true;
        bool goOn = whileWaiting();
        // The pump may have let the messages wait (it looks at most every few milliseconds):
        // marked as seen, they no longer end the next wait at once, which would spin until then.
        // They are dispatched at the next slice.
        if (woken == WAIT_OBJECT_0 + 1) GetQueueStatus(QS_ALLINPUT);
        return goOn;
    }

    bool DeliveredEnough(Clock::duration waited) {
        std::uint64_t received = 0;
        {
            std::lock_guard<std::mutex> guard(exchange->lock);
            received = exchange->received;
        }
        bool enough = floor.Record(waited, received - counted);
        counted = received;
        return enough;
    }

    // The request fails from now on; the worker stops after the call it may be in.
    void GiveUp() {
        receiving = false;
        if (exchange) StopWorker();
    }

    // Tells the worker to stop; a call it is inside is ended by closing the handle, so that a
    // stalled server's connection goes at once. Returns whether the worker is out of WinInet
    // for good. The handle is closed only while the worker is inside its call (or has
    // committed to it), and this waits a moment for that call to return: had the worker not
    // yet entered it, it fails on the closed handle then, while this thread, the only one
    // that opens handles, cannot yet have given the number to a new one.
    bool StopWorker() {
        {
            std::lock_guard<std::mutex> guard(exchange->lock);
            exchange->stop = true;
            exchange->WakeWorker();
            if (!exchange->inCall) return true;
            exchange->handle->Close();
        }
        Clock::time_point until = Clock::now() + kCloseWait;
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(exchange->lock);
                if (!exchange->inCall) return true;
            }
            if (Clock::now() >= until) return false;
            Sleep(1);
        }
    }

    // Hands the served bytes back to the worker and takes stock of what it has read since.
    // With the exchange's lock held.
    void SyncWithWorker() {
        exchange->filled -= served;
        served = 0;
        owned = exchange->filled;
        if (kRingBytes - exchange->filled >= kBatchBytes) exchange->WakeWorker();
    }

    // The count of bytes that can be served from `readPos` on without wrapping; 0 at the end
    // of the answer, -1 on failure or when the wait callback gave up.
    std::ptrdiff_t Fill(const WaitCallback& whileWaiting) {
        if (!receiving) return -1;
        for (;;) {
            if (owned > 0) {
                return static_cast<std::ptrdiff_t>(std::min(owned, kRingBytes - readPos));
            }
            // While the answer flows the next read is usually a moment away: looking again
            // for that moment is cheaper than an event each way (a round trip to the Wine
            // server each).
            Clock::time_point spinUntil = Clock::now() + kSpinTime;
            for (;;) {
                {
                    std::lock_guard<std::mutex> guard(exchange->lock);
                    SyncWithWorker();
                    if (owned > 0) break;
                    if (exchange->stream == Exchange::Stream::kEnded) return 0;
                    if (exchange->stream == Exchange::Stream::kFailed) {
                        receiving = false;
                        return -1;
                    }
                    if (Clock::now() >= spinUntil) {
                        exchange->callerWaiting = true;
                        break;
                    }
                }
                SwitchToThread();
            }
            if (owned == 0 && !AwaitWorker(whileWaiting)) {
                GiveUp();
                return -1;
            }
        }
    }

    void Consume(std::size_t count) {
        readPos = (readPos + count) % kRingBytes;
        owned -= count;
        served += count;
        if (served >= kBatchBytes) {
            std::lock_guard<std::mutex> guard(exchange->lock);
            SyncWithWorker();
        }
    }

    std::shared_ptr<InternetHandle> request;
    std::shared_ptr<Exchange> exchange;  // from the send on
    std::thread worker;
    int status = 0;           // of the answer, once the send succeeded
    HttpFailure failure = HttpFailure::kOther;
    bool receiving = false;   // the answer can be read
    std::size_t readPos = 0;  // in the ring
    std::size_t owned = 0;    // filled bytes from `readPos` on that are known to be there
    std::size_t served = 0;   // bytes handed out and not yet handed back to the worker
    ThroughputFloor floor;
    std::uint64_t counted = 0;  // received bytes of which the floor has heard
};

class Win32HttpConnection : public HttpConnection {
public:
    Win32HttpConnection(std::string host, bool secure, std::shared_ptr<InternetHandle> connection,
                        ThroughputLimit floor)
        : host(std::move(host)), secure(secure), connection(std::move(connection)), floor(floor) {}

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
            std::make_shared<InternetHandle>(handle, connection), floor);
    }

private:
    std::string host;
    bool secure;
    std::shared_ptr<InternetHandle> connection;
    ThroughputLimit floor;
};

class Win32HttpSession : public HttpSession {
public:
    Win32HttpSession(std::shared_ptr<InternetHandle> session, ThroughputLimit floor)
        : session(std::move(session)), floor(floor) {}

    std::unique_ptr<HttpConnection> Connect(std::string_view hostText) override {
        std::optional<ServerAddress> address = ParseServerAddress(hostText);
        if (!address) return nullptr;
        HINTERNET handle = InternetConnectA(session->get(), address->host.c_str(), address->port,
                                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
        if (handle == nullptr) return nullptr;
        return std::make_unique<Win32HttpConnection>(
            std::string(hostText), address->secure,
            std::make_shared<InternetHandle>(handle, session), floor);
    }

private:
    std::shared_ptr<InternetHandle> session;
    ThroughputLimit floor;
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
    return FollowRedirects(std::make_unique<Win32HttpSession>(
        std::make_shared<InternetHandle>(handle, nullptr), floor));
}

}  // namespace fw
