#pragma once
// A whole update run against the loopback update server: an install folder, a registry that
// points at it, a server folder with definitions and updaters, and the dialog.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/path.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/test_platform.h"
#include "tools/update-server/update_server.h"

namespace fw::test {

// Counts the connections the program opens, per host, and passes everything on.
class CountingHttpClient : public HttpClient {
public:
    explicit CountingHttpClient(HttpClient& inner) : inner(inner) {}
    bool Startup() override { return inner.Startup(); }
    std::unique_ptr<HttpSession> OpenSession(std::string_view userAgent) override;
    std::vector<std::string> connects;  // hosts, in order
    int sessions = 0;

private:
    HttpClient& inner;
};

class UpdateScenario : public ::testing::Test {
protected:
    UpdateScenario();
    ~UpdateScenario() override;

    // The install folder with the product (version 2.1.0.7) and templates {file, system}.
    void Install(std::initializer_list<std::pair<std::string, std::string>> templates,
                 bool withProduct = true);
    // Writes the release (or beta) definitions; `text` is taken as it stands.
    void Definitions(const std::string& text, bool beta = false);
    // Puts an updater of `size` bytes (contents derived from `seed`) at `path` below the server
    // root; returns its checksum in hex, as the definitions write it.
    std::string Serve(const std::string& path, std::size_t size, unsigned seed = 1);
    std::string ServedContents(const std::string& path) const;
    // An "update" line for a served file.
    std::string UpdateLine(const std::string& name, const std::string& path, std::size_t size,
                           unsigned seed = 1);

    // Runs the dialog; the script acts as the user. The command line points both servers at
    // the loopback server, followed by `extraArgs`.
    void Run(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script,
             std::vector<std::string> extraArgs = {});
    // Check and Download, which must end downloaded, then Exit before installing.
    void DownloadThenExit(std::vector<std::string> extraArgs = {});

    // Restarts `target` serving over TLS with a certificate of `kind` from this test's authority,
    // which the program trusts.
    void UseTls(UpdateServer& target, ServerCertificate kind = ServerCertificate::kTrusted);

    // Requests the server saw for `path`, e.g. "/files/a.exe".
    int RequestsFor(const std::string& path) const;
    // Where the program puts a download: joined as the host joins paths.
    std::string TempPath(const std::string& name) const {
        return JoinPath(JoinPath(installFolder, "temp"), name);
    }
    std::string Text(int id) const;
    // The install folder as the update request's "dir" field carries it: slashes for
    // backslashes, and a drive's colon escaped.
    std::string SentFolder() const;

    TestPlatform tp;
    std::string installFolder;
    std::string serverRoot;
    std::unique_ptr<UpdateServer> server;
    std::unique_ptr<CountingHttpClient> counting;
    std::unique_ptr<Platform> platform;  // tp's, with the counting client
    std::shared_ptr<const TestAuthority> authority;  // made by the first UseTls (POSIX)
};

}  // namespace fw::test
