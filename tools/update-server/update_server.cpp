#include "tools/update-server/update_server.h"

#include <httplib.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <ctime>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/update-server/server_posix.h"
#include "tools/update-server/test_authority.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The largest piece of a body handed to the connection at once.
constexpr std::size_t kChunkBytes = 256u * 1024u;
// A rate-limited body goes out in pieces of this share of a second, so it flows evenly.
constexpr std::uint64_t kRateSlicesPerSecond = 20;
constexpr char kContentType[] = "application/octet-stream";

// Headers the server library adds to the request itself; the client never sent them.
bool IsAddedByLibrary(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct CertificateDeleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A TLS server for the certificate and key; nullptr when they do not make one.
std::unique_ptr<httplib::Server> NewTlsServer(const TestAuthority::Credentials& credentials) {
    std::unique_ptr<BIO, BioDeleter> certificateText(BIO_new_mem_buf(
        credentials.certificatePem.data(), static_cast<int>(credentials.certificatePem.size())));
    std::unique_ptr<BIO, BioDeleter> keyText(BIO_new_mem_buf(
        credentials.keyPem.data(), static_cast<int>(credentials.keyPem.size())));
    if (!certificateText || !keyText) return nullptr;
    std::unique_ptr<X509, CertificateDeleter> certificate(
        PEM_read_bio_X509(certificateText.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(
        PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr));
    if (!certificate || !key) return nullptr;
    // The TLS context takes references of its own.
    auto server = std::make_unique<httplib::SSLServer>(certificate.get(), key.get());
    if (!server->is_valid()) return nullptr;
    return server;
}

// What one answer sends: a file from the root (from `start` on), or a short text.
struct Body {
    fs::path file;
    std::string text;
    std::uint64_t start = 0;
    std::uint64_t size = 0;
};

// A file's validators: they change whenever its contents may have.
struct Validators {
    std::string etag;
    std::string lastModified;
};

Validators ValidatorsOf(const fs::path& file) {
    Validators validators;
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return validators;
    validators.etag = "\"" + std::to_string(status.st_ino) + "-" +
                      std::to_string(status.st_size) + "-" + std::to_string(status.st_mtim.tv_sec) +
                      "." + std::to_string(status.st_mtim.tv_nsec) + "\"";
    char date[64] = {};
    std::tm utc {};
    time_t seconds = status.st_mtim.tv_sec;
    if (gmtime_r(&seconds, &utc) != nullptr) {
        std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    }
    validators.lastModified = date;
    return validators;
}

// "bytes=FIRST-" or "bytes=FIRST-LAST": the first and last byte asked for (LAST open: the end).
bool ParseSingleRange(std::string_view text, std::uint64_t& first,
                      std::optional<std::uint64_t>& last) {
    constexpr std::string_view kUnit = "bytes=";
    if (text.substr(0, kUnit.size()) != kUnit) return false;
    text.remove_prefix(kUnit.size());
    std::size_t dash = text.find('-');
    if (dash == std::string_view::npos || dash == 0) return false;
    auto number = [](std::string_view digits, std::uint64_t& value) {
        if (digits.empty()) return false;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc{} && end == digits.data() + digits.size();
    };
    if (!number(text.substr(0, dash), first)) return false;
    std::string_view rest = text.substr(dash + 1);
    if (rest.empty()) return true;
    std::uint64_t lastByte = 0;
    if (!number(rest, lastByte) || lastByte < first) return false;
    last = lastByte;
    return true;
}

}  // namespace

class UpdateServer::Impl {
public:
    Impl(std::string root, std::string logFile)
        : rootText(std::move(root)), logFile(std::move(logFile)) {}

    ~Impl() { Stop(); }

    bool Start(int wantedPort) {
        if (http) return false;
        std::error_code error;
        root = fs::canonical(rootText, error);
        if (error || !fs::is_directory(root, error)) return false;
        server::IgnoreBrokenPipes();

        std::unique_ptr<httplib::Server> created;
        if (certificateKind == ServerCertificate::kNone) {
            created = std::make_unique<httplib::Server>();
        } else {
            std::optional<TestAuthority::Credentials> credentials;
            if (authority) credentials = authority->Issue(certificateKind);
            if (!credentials) return false;
            created = NewTlsServer(*credentials);
            if (!created) return false;
        }
        created->set_keep_alive_timeout(1);
        created->set_socket_options(server::SetListeningSocketOptions);
        auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response);
        };
        created->Get(".*", handler);
        created->Post(".*", handler);
        int bound = 0;
        if (wantedPort == 0) {
            bound = created->bind_to_any_port("127.0.0.1");
        } else if (created->bind_to_port("127.0.0.1", wantedPort)) {
            bound = wantedPort;
        }
        if (bound <= 0) return false;

        {
            std::lock_guard lock(mutex);
            stopping = false;
            listenEnded = false;
        }
        http = std::move(created);
        port = bound;
        listener = std::thread([this] {
            http->listen_after_bind();
            std::lock_guard lock(mutex);
            listenEnded = true;
            changed.notify_all();
        });
        // stop() only reaches a server that has begun to listen.
        while (!http->is_running()) {
            std::unique_lock lock(mutex);
            if (listenEnded) break;
            changed.wait_for(lock, std::chrono::milliseconds(1));
        }
        if (!http->is_running()) {
            Stop();
            return false;
        }
        return true;
    }

    void Stop() {
        if (!http) return;
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        http->stop();
        if (listener.joinable()) listener.join();
        http.reset();
        port = 0;
    }

    bool Running() const { return http != nullptr; }
    bool Secure() const { return certificateKind != ServerCertificate::kNone; }

    void UseTls(ServerCertificate kind, std::shared_ptr<const TestAuthority> tlsAuthority) {
        certificateKind = kind;
        authority = std::move(tlsAuthority);
    }
    int Port() const { return port; }

    void SetFault(std::string_view path, const ServerFault& fault) {
        std::lock_guard lock(mutex);
        faults[FaultPathKey(path)] = fault;
        faultHits.erase(FaultPathKey(path));
    }

    void ClearFault(std::string_view path) {
        std::lock_guard lock(mutex);
        faults.erase(FaultPathKey(path));
        faultHits.erase(FaultPathKey(path));
    }

    void ClearFaults() {
        std::lock_guard lock(mutex);
        faults.clear();
        faultHits.clear();
    }

    std::vector<RecordedRequest> Requests() const {
        std::lock_guard lock(mutex);
        return requests;
    }

    void ClearRequests() {
        std::lock_guard lock(mutex);
        requests.clear();
        bodyBytesSent = 0;
    }

    std::uint64_t BodyBytesSent() const { return bodyBytesSent; }

private:
    // One body on its way out, shared by the calls of the library's content provider.
    struct Transfer {
        Body body;
        ServerFault fault;
        std::ifstream file;
        std::vector<char> chunk;
        bool stalled = false;
        std::optional<std::uint64_t> rateStart;
        Clock::time_point rateStartTime;
    };

    void Handle(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest recorded;
        recorded.method = request.method;
        recorded.target = request.target;
        recorded.path = request.path;
        recorded.version = request.version;
        recorded.requestLine = request.method + " " + request.target + " " + request.version;
        for (const auto& [name, value] : request.headers) {
            if (!IsAddedByLibrary(name)) recorded.headers.emplace_back(name, value);
        }
        recorded.body = request.body;
        ServerFault fault;
        {
            std::lock_guard lock(mutex);
            requests.push_back(recorded);
            if (auto found = faults.find(FaultPathKey(request.path)); found != faults.end()) {
                std::uint64_t& hits = faultHits[found->first];
                if (!found->second.onlyFirst || hits < *found->second.onlyFirst) {
                    fault = found->second;
                    ++hits;
                }
            }
        }
        AppendToLog(recorded);

        if (fault.drop) {
            server::ShutDownConnection(port, request.remote_port);
            response.status = 200;
            return;
        }
        Body body;
        if (fault.redirect) {
            response.status = fault.status.value_or(302);
            response.set_header("Location", *fault.redirect);
            body.text = "Moved\n";
        } else if (fault.status) {
            response.status = *fault.status;
            body.text = "Status " + std::to_string(*fault.status) + "\n";
        } else if (request.method == "POST") {
            response.status = 200;
            body.text = "OK\n";
        } else if (!FindFile(request.path, body)) {
            response.status = 404;
            body.text = "Not found\n";
        } else {
            response.status = 200;
            if (!AnswerForFile(request, response, body, fault)) return;
        }
        if (fault.retryAfter) response.set_header("Retry-After", *fault.retryAfter);
        if (body.file.empty()) body.size = body.text.size();
        SendBody(response, std::move(body), fault, request.has_header("Range"));
    }

    // Validators, a conditional request's 304 and a range's 206 for the file in `body`; false
    // when the answer is complete without a body.
    bool AnswerForFile(const httplib::Request& request, httplib::Response& response, Body& body,
                       const ServerFault& fault) {
        Validators validators;
        if (!fault.noValidators) validators = ValidatorsOf(body.file);
        if (!validators.etag.empty()) response.set_header("ETag", validators.etag);
        if (!validators.lastModified.empty()) {
            response.set_header("Last-Modified", validators.lastModified);
        }
        auto matches = [&](const std::string& text) {
            return !text.empty() && (text == validators.etag || text == validators.lastModified);
        };
        bool unchanged = request.has_header("If-None-Match")
                             ? matches(request.get_header_value("If-None-Match"))
                             : matches(request.get_header_value("If-Modified-Since"));
        if (unchanged) {
            response.status = 304;
            return false;
        }
        std::uint64_t first = 0;
        std::optional<std::uint64_t> last;
        if (fault.ignoreRange || !request.has_header("Range") ||
            !ParseSingleRange(request.get_header_value("Range"), first, last)) {
            return true;
        }
        // A range of another version of the file is no use: the whole file is sent instead.
        if (request.has_header("If-Range") && !matches(request.get_header_value("If-Range"))) {
            return true;
        }
        if (first >= body.size) {
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(body.size));
            body = Body{};
            body.text = "Range not satisfiable\n";
            return true;
        }
        std::uint64_t end = std::min(last.value_or(body.size - 1), body.size - 1);
        if (fault.wrongRange && first + 1 <= end) ++first;
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(end) + "/" +
                                                 std::to_string(body.size));
        body.start = first;
        body.size = end - first + 1;
        return true;
    }

    bool FindFile(const std::string& path, Body& body) const {
        if (path.find('\0') != std::string::npos) return false;
        std::string_view relative = path;
        while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
        std::error_code error;
        fs::path full = fs::weakly_canonical(root / fs::path(relative), error);
        if (error) return false;
        // Resolved first, so neither ".." nor a symbolic link leads out of the root.
        auto [rootEnd, fullAt] = std::mismatch(root.begin(), root.end(), full.begin(), full.end());
        if (rootEnd != root.end()) return false;
        if (!fs::is_regular_file(full, error)) return false;
        std::uintmax_t size = fs::file_size(full, error);
        if (error) return false;
        body.file = full;
        body.size = size;
        return true;
    }

    // With `ownLength` the length is announced here and the body sent without the library's
    // own range handling, which would otherwise cut the answer again.
    void SendBody(httplib::Response& response, Body body, const ServerFault& fault,
                  bool ownLength) {
        std::uint64_t announced = fault.announcedLength.value_or(body.size);
        auto transfer = std::make_shared<Transfer>();
        transfer->body = std::move(body);
        transfer->fault = fault;
        if (!transfer->body.file.empty()) {
            transfer->file.open(transfer->body.file, std::ios::binary);
            if (!transfer->file) {
                response.status = 500;
                response.set_content("Cannot read the file\n", "text/plain");
                return;
            }
        }
        if (ownLength && !fault.endless) {
            response.set_header("Content-Length", std::to_string(announced));
            response.set_content_provider(
                kContentType, [this, transfer, announced](std::size_t offset,
                                                          httplib::DataSink& sink) {
                    if (offset >= announced) {
                        sink.done();
                        return true;
                    }
                    return Provide(*transfer, offset, announced - offset, sink);
                });
            return;
        }
        if (fault.endless) {
            // No length: the answer ends only when the connection does.
            response.set_content_provider(
                kContentType, [this, transfer](std::size_t offset, httplib::DataSink& sink) {
                    return Provide(*transfer, offset, kChunkBytes, sink);
                });
            return;
        }
        response.set_content_provider(
            static_cast<std::size_t>(announced), kContentType,
            [this, transfer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return Provide(*transfer, offset, length, sink);
            });
    }

    // Hands the next piece of the body to the connection; false closes the connection.
    bool Provide(Transfer& transfer, std::uint64_t offset, std::uint64_t length,
                 httplib::DataSink& sink) {
        const ServerFault& fault = transfer.fault;
        if (IsStopping()) return false;
        if (fault.truncateAfter && offset >= *fault.truncateAfter) return false;
        if (offset >= transfer.body.size) {
            if (!fault.endless) return false;  // a longer length was announced
            transfer.chunk.assign(kChunkBytes, '\0');
            return sink.write(transfer.chunk.data(), transfer.chunk.size());
        }
        if (fault.stallAfter && !transfer.stalled && offset >= *fault.stallAfter) {
            transfer.stalled = true;
            if (!WaitUnlessStopping(Clock::now() + fault.stallFor)) return false;
        }
        std::uint64_t count = std::min<std::uint64_t>({kChunkBytes, length,
                                                       transfer.body.size - offset});
        if (fault.truncateAfter) count = std::min(count, *fault.truncateAfter - offset);
        if (fault.stallAfter && !transfer.stalled) count = std::min(count, *fault.stallAfter - offset);
        if (fault.bytesPerSecond > 0) {
            count = std::min(count, std::max<std::uint64_t>(
                                        1, fault.bytesPerSecond / kRateSlicesPerSecond));
        }
        const char* data = nullptr;
        if (transfer.body.file.empty()) {
            data = transfer.body.text.data() + offset;
        } else {
            transfer.chunk.resize(static_cast<std::size_t>(count));
            auto position = static_cast<std::streamoff>(transfer.body.start + offset);
            if (transfer.file.tellg() != position) transfer.file.seekg(position);
            transfer.file.read(transfer.chunk.data(), static_cast<std::streamsize>(count));
            if (transfer.file.gcount() != static_cast<std::streamsize>(count)) return false;
            data = transfer.chunk.data();
        }
        // Counted before they go, so that a client never sees bytes the count does not hold.
        bodyBytesSent += count;
        if (!sink.write(data, static_cast<std::size_t>(count))) return false;
        if (fault.bytesPerSecond > 0) {
            if (!transfer.rateStart) {
                transfer.rateStart = offset;
                transfer.rateStartTime = Clock::now();
            }
            std::uint64_t sent = offset + count - *transfer.rateStart;
            auto due = transfer.rateStartTime +
                       std::chrono::milliseconds(sent * 1000 / fault.bytesPerSecond);
            if (!WaitUnlessStopping(due)) return false;
        }
        return true;
    }

    bool IsStopping() const {
        std::lock_guard lock(mutex);
        return stopping;
    }

    // False when the server began to stop while waiting.
    bool WaitUnlessStopping(Clock::time_point until) {
        std::unique_lock lock(mutex);
        return !changed.wait_until(lock, until, [this] { return stopping; });
    }

    void AppendToLog(const RecordedRequest& request) {
        if (logFile.empty()) return;
        std::string line = request.ToJson() + "\n";
        std::lock_guard lock(logMutex);
        std::ofstream out(logFile, std::ios::binary | std::ios::app);
        out << line;
    }

    std::string rootText;
    std::string logFile;
    ServerCertificate certificateKind = ServerCertificate::kNone;
    std::shared_ptr<const TestAuthority> authority;
    fs::path root;
    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    bool listenEnded = false;
    std::map<std::string, ServerFault> faults;
    std::map<std::string, std::uint64_t> faultHits;  // requests that met each fault
    std::vector<RecordedRequest> requests;
    std::atomic<std::uint64_t> bodyBytesSent{0};
    std::mutex logMutex;
};

UpdateServer::UpdateServer(std::string root, std::string logFile)
    : impl(std::make_unique<Impl>(std::move(root), std::move(logFile))) {}

UpdateServer::~UpdateServer() = default;

bool UpdateServer::Start(int port) { return impl->Start(port); }
std::string UpdateServer::Unavailable() { return {}; }
void UpdateServer::Stop() { impl->Stop(); }
bool UpdateServer::Running() const { return impl->Running(); }
int UpdateServer::Port() const { return impl->Port(); }
std::string UpdateServer::HostText() const {
    // Certificates name "localhost": Wine's TLS does not check address names.
    if (impl->Secure()) return "https://localhost:" + std::to_string(impl->Port());
    return "127.0.0.1:" + std::to_string(impl->Port());
}

void UpdateServer::UseTls(ServerCertificate kind, std::shared_ptr<const TestAuthority> authority) {
    impl->UseTls(kind, std::move(authority));
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
