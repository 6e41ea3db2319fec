#include "tools/update-server/update_server_control.h"

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <charconv>
#include <map>
#include <mutex>
#include <thread>

#include "tools/update-server/server_posix.h"
#include "tools/update-server/update_server.h"

namespace fw {
namespace {

constexpr char kText[] = "text/plain";

bool ParseInt(const std::string& text, int& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

void Answer(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", kText);
}

}  // namespace

class UpdateServerControl::Impl {
public:
    Impl(std::string winePrefix, std::shared_ptr<const TestAuthority> authority)
        : winePrefix(std::move(winePrefix)), authority(std::move(authority)) {}
    ~Impl() { Stop(); }

    bool Start(int wantedPort) {
        if (http) return false;
        server::IgnoreBrokenPipes();
        auto created = std::make_unique<httplib::Server>();
        created->set_socket_options(server::SetListeningSocketOptions);
        auto route = [this](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response);
        };
        created->Get(".*", route);
        created->Post(".*", route);
        int bound = 0;
        if (wantedPort == 0) {
            bound = created->bind_to_any_port("127.0.0.1");
        } else if (created->bind_to_port("127.0.0.1", wantedPort)) {
            bound = wantedPort;
        }
        if (bound <= 0) return false;
        http = std::move(created);
        port = bound;
        listenEnded = false;
        listener = std::thread([this] {
            http->listen_after_bind();
            listenEnded = true;
        });
        // stop() only reaches a server that has begun to listen.
        while (!http->is_running() && !listenEnded) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!http->is_running()) {
            Stop();
            return false;
        }
        return true;
    }

    void Stop() {
        if (http) {
            http->stop();
            if (listener.joinable()) listener.join();
            http.reset();
            port = 0;
        }
        std::map<int, std::shared_ptr<UpdateServer>> gone;
        {
            std::lock_guard lock(mutex);
            gone.swap(servers);
        }
        for (auto& [id, server] : gone) server->Stop();
    }

    int Port() const { return port; }

    std::string LocalPath(const std::string& clientPath) const {
        bool drive = clientPath.size() >= 3 &&
                     std::isalpha(static_cast<unsigned char>(clientPath[0])) &&
                     clientPath[1] == ':' && (clientPath[2] == '\\' || clientPath[2] == '/');
        if (winePrefix.empty() || !drive) return clientPath;
        std::string local = winePrefix + "/dosdevices/";
        local += static_cast<char>(std::tolower(static_cast<unsigned char>(clientPath[0])));
        local += ':';
        for (std::size_t i = 2; i < clientPath.size(); ++i) {
            local += clientPath[i] == '\\' ? '/' : clientPath[i];
        }
        return local;
    }

private:
    void Handle(const httplib::Request& request, httplib::Response& response) {
        const std::string& what = request.path;
        if (what == "/create" && request.method == "POST") {
            if (!request.has_param("root")) return Answer(response, 400, "no root");
            std::string log;
            if (request.has_param("log")) log = LocalPath(request.get_param_value("log"));
            auto server = std::make_shared<UpdateServer>(
                LocalPath(request.get_param_value("root")), log);
            std::lock_guard lock(mutex);
            int id = ++lastId;
            servers[id] = std::move(server);
            return Answer(response, 200, std::to_string(id));
        }
        int id = 0;
        if (!ParseInt(request.get_param_value("id"), id)) return Answer(response, 400, "no id");
        std::shared_ptr<UpdateServer> server = Find(id);
        if (!server) return Answer(response, 404, "no such server");
        if (what == "/requests" && request.method == "GET") {
            std::string lines;
            for (const RecordedRequest& recorded : server->Requests()) {
                std::string line = recorded.ToJson();
                // ToJson writes no path; it goes in as one more member.
                line.insert(line.size() - 1, ",\"path\":" + ToJsonString(recorded.path));
                lines += line + "\n";
            }
            response.status = 200;
            response.set_content(lines, kText);
            return;
        }
        if (what == "/bytes-sent" && request.method == "GET") {
            return Answer(response, 200, std::to_string(server->BodyBytesSent()));
        }
        if (request.method != "POST") return Answer(response, 405, "POST only");
        if (what == "/start") {
            int wanted = 0;
            if (!ParseInt(request.get_param_value("port"), wanted) || wanted < 0 ||
                wanted > 65535) {
                return Answer(response, 400, "bad port");
            }
            std::optional<ServerCertificate> tls = ParseServerCertificate(
                request.has_param("tls") ? request.get_param_value("tls") : "none");
            if (!tls) return Answer(response, 400, "bad tls");
            if (*tls != ServerCertificate::kNone && !authority) {
                return Answer(response, 409, "no test authority (--authority-out)");
            }
            server->UseTls(*tls, authority);
            if (!server->Start(wanted)) return Answer(response, 409, "cannot listen");
            return Answer(response, 200, std::to_string(server->Port()));
        }
        if (what == "/stop") {
            server->Stop();
        } else if (what == "/destroy") {
            server->Stop();
            std::lock_guard lock(mutex);
            servers.erase(id);
        } else if (what == "/fault") {
            if (!request.has_param("path")) return Answer(response, 400, "no path");
            auto fault = ParseFaultSwitches(request.get_param_value("switches"));
            if (!fault) return Answer(response, 400, "bad switches");
            server->SetFault(request.get_param_value("path"), *fault);
        } else if (what == "/clear-fault") {
            if (!request.has_param("path")) return Answer(response, 400, "no path");
            server->ClearFault(request.get_param_value("path"));
        } else if (what == "/clear-faults") {
            server->ClearFaults();
        } else if (what == "/clear-requests") {
            server->ClearRequests();
        } else {
            return Answer(response, 404, "no such command");
        }
        Answer(response, 200, "OK");
    }

    std::shared_ptr<UpdateServer> Find(int id) const {
        std::lock_guard lock(mutex);
        auto found = servers.find(id);
        return found == servers.end() ? nullptr : found->second;
    }

    std::string winePrefix;
    std::shared_ptr<const TestAuthority> authority;
    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    std::atomic<bool> listenEnded = false;
    int port = 0;

    mutable std::mutex mutex;
    std::map<int, std::shared_ptr<UpdateServer>> servers;
    int lastId = 0;
};

UpdateServerControl::UpdateServerControl(std::string winePrefix,
                                         std::shared_ptr<const TestAuthority> authority)
    : impl(std::make_unique<Impl>(std::move(winePrefix), std::move(authority))) {}
UpdateServerControl::~UpdateServerControl() = default;
bool UpdateServerControl::Start(int port) { return impl->Start(port); }
void UpdateServerControl::Stop() { impl->Stop(); }
int UpdateServerControl::Port() const { return impl->Port(); }
std::string UpdateServerControl::LocalPath(const std::string& clientPath) const {
    return impl->LocalPath(clientPath);
}

}  // namespace fw
