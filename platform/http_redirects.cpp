#include "platform/http_redirects.h"

#include <cctype>
#include <utility>

namespace fw {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool IsRedirect(int code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// Host names are compared in lower case, so that a redirect to the same server in other letters
// keeps its connection.
void LowerHost(ServerAddress& address) {
    for (char& c : address.host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

class FollowingRequest : public HttpRequest {
public:
    FollowingRequest(std::shared_ptr<HttpSession> session,
                     std::shared_ptr<HttpConnection> connection, ServerAddress address,
                     std::string verb, std::string object, std::unique_ptr<HttpRequest> first)
        : session(std::move(session)),
          connection(std::move(connection)),
          address(std::move(address)),
          verb(std::move(verb)),
          object(std::move(object)),
          current(std::move(first)) {}

    bool Send(std::string_view headers, std::string_view body,
              const WaitCallback& whileWaiting) override {
        if (!current || !current->Send(headers, body, whileWaiting)) return false;
        try {
            return FollowFrom(headers, body, whileWaiting);
        } catch (...) {
            current.reset();  // no request stands half followed
            return false;
        }
    }

    bool FollowFrom(std::string_view headers, std::string_view body,
                    const WaitCallback& whileWaiting) {
        std::string keptHeaders(headers);
        std::string keptBody(body);
        for (int followed = 0; followed < kMaxRedirects; ++followed) {
            int code = 0;
            std::string location;
            if (!current->QueryStatusCode(code) || !IsRedirect(code) ||
                !current->QueryLocation(location)) {
                return true;
            }
            std::optional<RedirectTarget> target = ResolveRedirect(address, object, location);
            if (!target || (address.secure && !target->server.secure)) return true;
            LowerHost(target->server);
            if (code != 307 && code != 308 && verb != "GET") {
                verb = "GET";
                keptHeaders.clear();
                keptBody.clear();
            }
            // The answer that pointed elsewhere is done with before the next request goes out.
            current.reset();
            if (target->server != address) {
                std::unique_ptr<HttpConnection> next =
                    session->Connect(FormatServerAddress(target->server));
                if (!next) return false;
                connection = std::move(next);
                address = target->server;
            }
            object = std::move(target->object);
            current = connection->OpenRequest(verb, object);
            if (!current) return false;
            if (!current->Send(keptHeaders, keptBody, whileWaiting)) return false;
        }
        return true;
    }

    bool QueryStatusCode(int& code) override { return current && current->QueryStatusCode(code); }
    ReadStatus ReadLine(std::string& line, const WaitCallback& whileWaiting) override {
        if (!current) {
            line.clear();
            return ReadStatus::kError;
        }
        return current->ReadLine(line, whileWaiting);
    }
    std::ptrdiff_t ReadBlock(void* buffer, std::size_t size,
                             const WaitCallback& whileWaiting) override {
        return current ? current->ReadBlock(buffer, size, whileWaiting) : -1;
    }
    HttpFailure LastFailure() const override {
        return current ? current->LastFailure() : HttpFailure::kOther;
    }
    bool QueryHeader(std::string_view name, std::string& value) override {
        return current && current->QueryHeader(name, value);
    }
    bool QueryLocation(std::string& location) override {
        return current && current->QueryLocation(location);
    }

private:
    std::shared_ptr<HttpSession> session;
    std::shared_ptr<HttpConnection> connection;
    ServerAddress address;
    std::string verb;
    std::string object;
    std::unique_ptr<HttpRequest> current;
};

class FollowingConnection : public HttpConnection {
public:
    FollowingConnection(std::shared_ptr<HttpSession> session,
                        std::shared_ptr<HttpConnection> inner, ServerAddress address)
        : session(std::move(session)), inner(std::move(inner)), address(std::move(address)) {}

    const std::string& Host() const override { return inner->Host(); }

    std::unique_ptr<HttpRequest> OpenRequest(std::string_view verb,
                                             std::string_view objectName) override {
        std::unique_ptr<HttpRequest> request = inner->OpenRequest(verb, objectName);
        if (!request) return nullptr;
        try {
            return std::make_unique<FollowingRequest>(session, inner, address, std::string(verb),
                                                      std::string(objectName),
                                                      std::move(request));
        } catch (...) {
            return nullptr;
        }
    }

private:
    std::shared_ptr<HttpSession> session;
    std::shared_ptr<HttpConnection> inner;
    ServerAddress address;
};

class FollowingSession : public HttpSession {
public:
    explicit FollowingSession(std::shared_ptr<HttpSession> inner) : inner(std::move(inner)) {}

    std::unique_ptr<HttpConnection> Connect(std::string_view host) override {
        std::optional<ServerAddress> address = ParseServerAddress(host);
        std::unique_ptr<HttpConnection> connection = inner->Connect(host);
        if (!connection || !address) return connection;
        LowerHost(*address);
        try {
            return std::make_unique<FollowingConnection>(inner, std::move(connection),
                                                         std::move(*address));
        } catch (...) {
            return nullptr;
        }
    }

private:
    std::shared_ptr<HttpSession> inner;
};

}  // namespace

std::optional<RedirectTarget> ResolveRedirect(const ServerAddress& from, std::string_view object,
                                              std::string_view location) {
    location = location.substr(0, location.find('#'));
    while (!location.empty() && (location.front() == ' ' || location.front() == '\t')) {
        location.remove_prefix(1);
    }
    while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) {
        location.remove_suffix(1);
    }
    if (location.empty()) return std::nullopt;
    // What goes into the next request line must not bring lines or controls of its own.
    for (char c : location) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return std::nullopt;
    }
    RedirectTarget target{from, {}};
    std::string_view scheme;
    if (StartsWithNoCase(location, "https://")) {
        scheme = "https://";
    } else if (StartsWithNoCase(location, "http://")) {
        scheme = "http://";
    } else if (location.substr(0, 2) == "//") {
        scheme = from.secure ? "https://" : "http://";
        location.remove_prefix(2);
    } else if (location.find(':') < location.find_first_of("/?")) {
        return std::nullopt;  // another scheme ("ftp:", "file:") leads nowhere we go
    }
    if (!scheme.empty()) {
        if (StartsWithNoCase(location, scheme)) location.remove_prefix(scheme.size());
        std::size_t end = location.find_first_of("/?");
        std::optional<ServerAddress> server =
            ParseServerAddress(std::string(scheme) + std::string(location.substr(0, end)));
        if (!server) return std::nullopt;
        target.server = std::move(*server);
        location = end == std::string_view::npos ? std::string_view{} : location.substr(end);
        if (!location.empty() && location.front() == '/') location.remove_prefix(1);
        target.object = std::string(location);
    } else if (location.front() == '/') {
        target.object = std::string(location.substr(1));
    } else {
        std::string_view path = object.substr(0, object.find('?'));
        std::size_t slash = path.rfind('/');
        std::string folder(slash == std::string_view::npos ? std::string_view{}
                                                           : path.substr(0, slash + 1));
        target.object = folder + std::string(location);
    }
    return target;
}

std::unique_ptr<HttpSession> FollowRedirects(std::unique_ptr<HttpSession> inner) {
    if (!inner) return nullptr;
    try {
        return std::make_unique<FollowingSession>(std::shared_ptr<HttpSession>(std::move(inner)));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace fw
