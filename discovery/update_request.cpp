#include "discovery/update_request.h"

#include <algorithm>
#include <cstdint>

#include "discovery/file_version.h"
#include "platform/server_address.h"
#include "platform/ui/format.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

bool IsReserved(unsigned char c) {
    return c == 0x20 || c == 0x22 || (c >= 0x25 && c <= 0x27) || c == 0x2B || c == 0x2C ||
           (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x5E) || c == 0x60 ||
           (c >= 0x7B && c <= 0x7E);
}

// Bounds what a misbehaving information server can make us read before we stop listening.
constexpr std::size_t kMaxDiscardedAnswerBytes = 1024 * 1024;
// How long the request may keep the window waiting, in milliseconds of the tick count.
constexpr std::uint32_t kUpdateRequestTimeoutMs = 10000;

}  // namespace

void EscapeFormText(std::string& body, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (IsReserved(c)) {
            body += '%';
            body += kHex[c >> 4];
            body += kHex[c & 0x0F];
        } else {
            body += ch;
        }
    }
}

void AppendFormField(std::string& body, std::string_view name, std::string_view value) {
    if (!body.empty()) body += '&';
    EscapeFormText(body, name);
    body += '=';
    EscapeFormText(body, value);
}

std::string BuildUpdateRequestBody(bool beta, std::string_view folder, std::string_view version,
                                   const TextList& installedSystems) {
    std::string systems;
    for (const std::string& name : installedSystems) {
        if (!systems.empty()) systems += ';';
        systems += name;
    }
    std::string dir(folder);
    std::replace(dir.begin(), dir.end(), '\\', '/');
    std::string body;
    if (beta) AppendFormField(body, "beta", "true");
    AppendFormField(body, "dir", dir);
    AppendFormField(body, "version", version);
    AppendFormField(body, "systems", systems);
    return body;
}

std::string UpdateRequestHeaders(std::size_t length) {
    return Format("Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d",
                  static_cast<long long>(length));
}

void CUpdateDownloaderDlg::SendUpdateRequest(bool beta) {
    if (!internetSession) return;
    std::string dir = InstallFolder();
    std::replace(dir.begin(), dir.end(), '\\', '/');
    std::string version = FormatFileVersion(ReadFileVersion(platform.files, dir + "/Fablewright.exe"));
    std::string body = BuildUpdateRequestBody(beta, dir, version, installedSystems);
    std::string headers = UpdateRequestHeaders(body.size());

    // The request is fire-and-forget: nothing that goes wrong here reaches the user. Its answer
    // is not used, so it may not hold the window for long: the window paints while it waits,
    // and the request gives up after kUpdateRequestTimeoutMs, whichever of the information
    // servers it is with.
    std::uint32_t start = platform.system.GetTickCount();
    auto inTime = [this, start] {
        return platform.system.GetTickCount() - start < kUpdateRequestTimeoutMs &&
               !platform.ui.StopRequested();
    };
    WaitCallback whileWaiting = [this, inTime] {
        platform.ui.RepaintPending();
        return inTime();
    };
    // It goes to the first of the servers that takes it.
    const std::vector<std::string> servers = ServerList(infoServer);
    std::unique_ptr<HttpConnection> connection;
    std::unique_ptr<HttpRequest> request;
    bool taken = false;
    for (std::size_t i = 0; i < servers.size() && !taken && inTime(); ++i) {
        request.reset();
        connection = internetSession->Connect(servers[i]);
        if (!connection) continue;
        request = connection->OpenRequest("POST", infoPath);
        if (!request) continue;
        int status = 0;
        if (!request->Send(headers, body, whileWaiting)) {
            // Nothing was sent to a server that could not show who it is; the user should
            // know.
            if (request->LastFailure() == HttpFailure::kServerIdentity &&
                i + 1 == servers.size()) {
                ShowMessage(*this, res::kStrNote, MB_OK, res::kStrInfoServerIdentity, servers[i]);
            }
            continue;
        }
        if (!request->QueryStatusCode(status) || status >= 500) continue;
        if (status != 200) return;
        taken = true;
    }
    if (!taken) return;
    std::string line;
    std::size_t discarded = 0;
    while (request->ReadLine(line, whileWaiting) == ReadStatus::kOk) {
        discarded += line.size() + 1;
        if (discarded > kMaxDiscardedAnswerBytes) break;
    }
    request.reset();
    connection.reset();
}

}  // namespace fw
