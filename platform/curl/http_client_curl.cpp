#include "platform/curl/http_client_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_headers.h"
#include "platform/http_redirects.h"
#include "platform/server_address.h"
#include "platform/throughput_floor.h"

namespace fw {

// curl_global_init counts its callers, so every client object may start the library once.
class CurlHttpClient::Library {
public:
    static std::shared_ptr<Library> Start() {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
        return std::shared_ptr<Library>(new Library);
    }
    ~Library() { curl_global_cleanup(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

private:
    Library() = default;
};

namespace {

// While a read waits, libcurl is polled at most this long before the wait callback runs again.
constexpr int kPollMilliseconds = 25;
// libcurl hands over at most this much per write; the same size as its command line uses.
constexpr long kReceiveBufferBytes = 100L * 1024L;
// The answer waits here until the caller pulls it; when full, libcurl is paused.
constexpr std::size_t kAnswerBufferBytes = 512u * 1024u;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct SessionState {
    std::shared_ptr<CurlHttpClient::Library> library;
    std::string userAgent;
    std::string authorityFile;  // empty: the system's store
    ThroughputLimit floor;
};

struct ConnectionState {
    std::shared_ptr<SessionState> session;
    std::string host;     // as the caller gave it
    bool secure = false;
    std::string baseUrl;  // "http://name:port" or "https://name:port"
};

// The results that mean the server could not show that it is the one we asked for.
bool IsIdentityFailure(CURLcode code) {
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return true;
    default:
        return false;
    }
}

// Bytes that cannot stand in a request line are escaped; everything else goes out as the
// caller wrote it, so an object name that is already escaped stays as it is.
std::string EscapeObjectName(std::string_view objectName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(objectName.size());
    for (char c : objectName) {
        auto byte = static_cast<unsigned char>(c);
        bool escape = byte <= 0x20 || byte >= 0x7F || std::strchr("\"#<>[\\]^`{|}", c) != nullptr;
        if (escape) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

class CurlRequest : public HttpRequest {
public:
    CurlRequest(std::shared_ptr<ConnectionState> connection, std::string verb, std::string url,
                std::unique_ptr<CURLM, MultiDeleter> multi, std::unique_ptr<CURL, EasyDeleter> easy)
        : connection(std::move(connection)),
          verb(std::move(verb)),
          url(std::move(url)),
          multi(std::move(multi)),
          easy(std::move(easy)),
          floor(this->connection->session->floor) {}

    ~CurlRequest() override {
        if (attached) curl_multi_remove_handle(multi.get(), easy.get());
    }
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    bool Send(std::string_view headers, std::string_view body,
              const WaitCallback& whileWaiting) override {
        if (phase != Phase::kOpened) return false;
        phase = Phase::kBroken;
        try {
            if (!Configure(headers, body)) return false;
            buffer.resize(kAnswerBufferBytes);
            if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) return false;
            attached = true;
            if (!Pump(whileWaiting, true)) return false;
        } catch (...) {
            return false;
        }
        // A transfer that ended before a complete status line and headers arrived never
        // reached the server or got no answer from it.
        if (!headersDone || statusCode <= 0) {
            if (finished && IsIdentityFailure(result)) failure = HttpFailure::kServerIdentity;
            return false;
        }
        phase = Phase::kReceiving;
        return true;
    }

    bool QueryStatusCode(int& code) override {
        if (phase == Phase::kOpened || statusCode <= 0) return false;
        code = statusCode;
        return true;
    }

    ReadStatus ReadLine(std::string& line, const WaitCallback& whileWaiting) override {
        line.clear();
        if (phase != Phase::kReceiving) return ReadStatus::kError;
        try {
            while (true) {
                if (Available() == 0) {
                    if (!finished) {
                        if (!Pump(whileWaiting, false)) return Break(line);
                        continue;
                    }
                    if (result != CURLE_OK) return Break(line);
                    return line.empty() ? ReadStatus::kEnd : ReadStatus::kOk;
                }
                const char* start = buffer.data() + readPos;
                std::size_t available = Available();
                const void* lineFeed = std::memchr(start, '\n', available);
                std::size_t take = lineFeed != nullptr
                                       ? static_cast<std::size_t>(
                                             static_cast<const char*>(lineFeed) - start)
                                       : available;
                AppendWithoutCarriageReturns(line, start, take);
                readPos += take + (lineFeed != nullptr ? 1 : 0);
                if (line.size() > kMaxLineBytes) {
                    // The rest of the line is still unread, so nothing after it can be trusted
                    // to start a line: the request is over.
                    phase = Phase::kBroken;
                    line.clear();
                    line.shrink_to_fit();
                    return ReadStatus::kTooLong;
                }
                if (lineFeed != nullptr) return ReadStatus::kOk;
            }
        } catch (...) {
            return Break(line);
        }
    }

    HttpFailure LastFailure() const override { return failure; }

    bool QueryLocation(std::string& value) override {
        if (phase != Phase::kReceiving || !hasLocation) return false;
        value = location;
        return true;
    }

    bool QueryHeader(std::string_view name, std::string& value) override {
        if (phase != Phase::kReceiving) return false;
        return FindHeaderValue(rawHeaders, name, value);
    }

    std::ptrdiff_t ReadBlock(void* destination, std::size_t size,
                             const WaitCallback& whileWaiting) override {
        if (phase != Phase::kReceiving) return -1;
        try {
            if (Available() == 0 && !finished && !Pump(whileWaiting, false)) {
                phase = Phase::kBroken;
                return -1;
            }
        } catch (...) {
            phase = Phase::kBroken;
            return -1;
        }
        std::size_t count = std::min(Available(), size);
        if (count == 0) {
            if (size == 0 || result == CURLE_OK) return 0;
            phase = Phase::kBroken;
            return -1;
        }
        std::memcpy(destination, buffer.data() + readPos, count);
        readPos += count;
        return static_cast<std::ptrdiff_t>(count);
    }

private:
    enum class Phase { kOpened, kReceiving, kBroken };

    std::size_t Available() const { return fillEnd - readPos; }

    ReadStatus Break(std::string& line) {
        phase = Phase::kBroken;
        line.clear();
        return ReadStatus::kError;
    }

    static void AppendWithoutCarriageReturns(std::string& line, const char* data,
                                             std::size_t size) {
        while (size > 0) {
            const void* cr = std::memchr(data, '\r', size);
            std::size_t run = cr != nullptr
                                  ? static_cast<std::size_t>(static_cast<const char*>(cr) - data)
                                  : size;
            line.append(data, run);
            if (cr == nullptr) return;
            data += run + 1;
            size -= run + 1;
        }
    }

    template <typename Value>
    bool Set(CURLoption option, Value value) {
        return curl_easy_setopt(easy.get(), option, value) == CURLE_OK;
    }

    bool AppendHeader(const std::string& text) {
        curl_slist* appended = curl_slist_append(headerList.get(), text.c_str());
        if (appended == nullptr) return false;
        headerList.release();
        headerList.reset(appended);
        return true;
    }

    bool Configure(std::string_view headers, std::string_view body) {
        bool callerSetContentType = false;
        std::size_t pos = 0;
        while (pos < headers.size()) {
            std::size_t end = headers.find('\n', pos);
            if (end == std::string_view::npos) end = headers.size();
            std::string_view header = headers.substr(pos, end - pos);
            if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
            pos = end + 1;
            if (header.empty()) continue;
            // A NUL would cut the header short inside libcurl; such a line cannot be sent.
            if (header.find('\0') != std::string_view::npos) return false;
            if (StartsWithNoCase(header, "content-type:")) callerSetContentType = true;
            if (!AppendHeader(std::string(header))) return false;
        }
        bool sendsBody = verb == "POST" || !body.empty();
        // Only what the caller wrote: no "Expect: 100-continue" and no Content-Type of
        // libcurl's own choosing.
        if (!AppendHeader("Expect:")) return false;
        if (sendsBody && !callerSetContentType && !AppendHeader("Content-Type:")) return false;

        bool ok = Set(CURLOPT_URL, url.c_str()) && Set(CURLOPT_PATH_AS_IS, 1L) &&
                  Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) &&
                  Set(CURLOPT_USERAGENT, connection->session->userAgent.c_str()) &&
                  Set(CURLOPT_NOSIGNAL, 1L) &&
                  Set(CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) &&
                  Set(CURLOPT_LOW_SPEED_LIMIT, 1L) &&
                  Set(CURLOPT_LOW_SPEED_TIME, kStallTimeoutSeconds) &&
                  Set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes) &&
                  Set(CURLOPT_HTTPHEADER, headerList.get()) &&
                  Set(CURLOPT_WRITEFUNCTION, &CurlRequest::OnWrite) &&
                  Set(CURLOPT_WRITEDATA, this) &&
                  Set(CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader) &&
                  Set(CURLOPT_HEADERDATA, this);
        // libcurl follows no redirect itself: the session's redirect rules do that for every
        // host alike. The peer and its name are always checked.
        ok = ok && Set(CURLOPT_FOLLOWLOCATION, 0L) && Set(CURLOPT_SSL_VERIFYPEER, 1L) &&
             Set(CURLOPT_SSL_VERIFYHOST, 2L);
        const std::string& authorities = connection->session->authorityFile;
        if (ok && !authorities.empty()) ok = Set(CURLOPT_CAINFO, authorities.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
        ok = ok && Set(CURLOPT_PROTOCOLS_STR, connection->secure ? "https" : "http");
#else
        ok = ok && Set(CURLOPT_PROTOCOLS, static_cast<long>(connection->secure ? CURLPROTO_HTTPS
                                                                               : CURLPROTO_HTTP));
#endif
        if (!ok) return false;
        if (sendsBody) {
            ok = Set(CURLOPT_POST, 1L) &&
                 Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
                 Set(CURLOPT_COPYPOSTFIELDS, body.empty() ? "" : body.data());
            if (ok && verb != "POST") ok = Set(CURLOPT_CUSTOMREQUEST, verb.c_str());
        } else {
            ok = Set(CURLOPT_HTTPGET, 1L);
        }
        return ok;
    }

    // Runs the transfer until the headers are in (`untilHeaders`) or until there is answer
    // data to hand out, or until the transfer has ended. False: libcurl failed or the
    // caller's wait callback gave up.
    bool Pump(const WaitCallback& whileWaiting, bool untilHeaders) {
        // Only the time spent here counts against the floor: the caller's own is not waiting.
        std::chrono::steady_clock::time_point looked = std::chrono::steady_clock::now();
        while (true) {
            if (paused && Available() == 0) {
                paused = false;
                if (curl_easy_pause(easy.get(), CURLPAUSE_CONT) != CURLE_OK) return false;
            }
            int running = 0;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return false;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy.get()) {
                    finished = true;
                    result = message->data.result;
                }
            }
            if (finished || (untilHeaders ? headersDone : Available() > 0)) return true;
            std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
            if (!floor.Record(now - looked, received - counted)) return false;
            looked = now;
            counted = received;
            if (whileWaiting && !whileWaiting()) return false;
            if (curl_multi_poll(multi.get(), nullptr, 0, kPollMilliseconds, nullptr) !=
                CURLM_OK) {
                return false;
            }
        }
    }

    static std::size_t OnHeader(char* data, std::size_t, std::size_t size, void* context) {
        auto* self = static_cast<CurlRequest*>(context);
        self->received += size;
        std::string_view line(data, size);
        if (line.size() >= 12 && line.substr(0, 5) == "HTTP/") {
            std::size_t space = line.find(' ');
            int code = 0;
            if (space != std::string_view::npos && space + 3 < line.size()) {
                for (std::size_t i = space + 1; i < space + 4; ++i) {
                    char c = line[i];
                    if (c < '0' || c > '9') return 0;
                    code = code * 10 + (c - '0');
                }
            }
            self->statusCode = code;
            self->headersDone = false;
            self->hasLocation = false;
            self->rawHeaders.clear();
        } else if (StartsWithNoCase(line, "location:")) {
            std::string_view value = line.substr(9);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
                value.remove_suffix(1);
            }
            try {
                self->location.assign(value);
            } catch (...) {
                return 0;
            }
            self->hasLocation = true;
        } else if (line == "\r\n" || line == "\n") {
            // An interim answer (1xx) is followed by the real one.
            if (self->statusCode >= 200) self->headersDone = true;
        }
        if (self->rawHeaders.size() + line.size() > kMaxLineBytes) return 0;
        try {
            self->rawHeaders.append(line);
        } catch (...) {
            return 0;
        }
        return size;
    }

    static std::size_t OnWrite(char* data, std::size_t, std::size_t size, void* context) {
        auto* self = static_cast<CurlRequest*>(context);
        self->headersDone = true;
        if (self->readPos == self->fillEnd) self->readPos = self->fillEnd = 0;
        if (size > self->buffer.size() - self->fillEnd) {
            if (self->readPos != self->fillEnd || size <= self->buffer.size()) {
                // Full: libcurl keeps this piece and offers it again once the caller has
                // taken what is waiting.
                self->paused = true;
                return CURL_WRITEFUNC_PAUSE;
            }
            try {
                self->buffer.resize(size);
            } catch (...) {
                return 0;
            }
        }
        std::memcpy(self->buffer.data() + self->fillEnd, data, size);
        self->fillEnd += size;
        self->received += size;
        return size;
    }

    std::shared_ptr<ConnectionState> connection;
    std::string verb;
    std::string url;
    // Declared in this order so the transfer goes before the header list it uses and the
    // multi handle outlives the easy handle.
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<curl_slist, HeaderListDeleter> headerList;
    std::unique_ptr<CURL, EasyDeleter> easy;
    bool attached = false;

    Phase phase = Phase::kOpened;
    bool headersDone = false;
    int statusCode = 0;
    bool finished = false;
    CURLcode result = CURLE_OK;
    HttpFailure failure = HttpFailure::kOther;
    bool hasLocation = false;
    std::string location;
    std::string rawHeaders;  // of the last answer, status line included
    bool paused = false;
    std::vector<char> buffer;
    std::size_t readPos = 0;
    std::size_t fillEnd = 0;
    ThroughputFloor floor;
    std::uint64_t received = 0;  // header and body bytes taken from libcurl
    std::uint64_t counted = 0;   // ... of which the floor has heard
};

class CurlConnection : public HttpConnection {
public:
    explicit CurlConnection(std::shared_ptr<ConnectionState> state) : state(std::move(state)) {}

    const std::string& Host() const override { return state->host; }

    std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb,
                                             std::string_view objectName) override {
        if (verb != "GET" && verb != "POST") return nullptr;
        try {
            std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
            std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
            if (!multi || !easy) return nullptr;
            std::string url = state->baseUrl + "/" + EscapeObjectName(objectName);
            return std::make_unique<CurlRequest>(state, std::string(verb), std::move(url),
                                                 std::move(multi), std::move(easy));
        } catch (...) {
            return nullptr;
        }
    }

private:
    std::shared_ptr<ConnectionState> state;
};

class CurlSession : public HttpSession {
public:
    explicit CurlSession(std::shared_ptr<SessionState> state) : state(std::move(state)) {}

    // Nothing goes over the network yet: like the platform's own client, an unreachable
    // server shows when the first request is sent.
    std::unique_ptr<HttpConnection> Connect(std::string_view host) override {
        try {
            std::optional<ServerAddress> address = ParseServerAddress(host);
            if (!address) return nullptr;
            auto connection = std::make_shared<ConnectionState>(ConnectionState{
                state, std::string(host), address->secure, FormatServerAddress(*address)});
            return std::make_unique<CurlConnection>(std::move(connection));
        } catch (...) {
            return nullptr;
        }
    }

private:
    std::shared_ptr<SessionState> state;
};

}  // namespace

CurlHttpClient::CurlHttpClient(std::string authorityFile, ThroughputLimit floor)
    : authorityFile(std::move(authorityFile)), floor(floor) {}
CurlHttpClient::~CurlHttpClient() = default;

bool CurlHttpClient::Startup() {
    try {
        if (!library) library = Library::Start();
    } catch (...) {
        return false;
    }
    return library != nullptr;
}

std::unique_ptr<HttpSession> CurlHttpClient::OpenSession(std::string_view userAgent) {
    if (!library) return nullptr;
    // A NUL would cut the user agent short inside libcurl.
    if (userAgent.find('\0') != std::string_view::npos) return nullptr;
    try {
        auto state = std::make_shared<SessionState>(
            SessionState{library, std::string(userAgent), authorityFile, floor});
        return FollowRedirects(std::make_unique<CurlSession>(std::move(state)));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace fw
