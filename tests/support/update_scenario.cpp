#include "tests/support/update_scenario.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "download/checksum.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/pe_writer.h"
#ifndef _WIN32
#include "tools/update-server/test_authority.h"
#endif

namespace fw::test {
namespace {

class CountingSession : public HttpSession {
public:
    CountingSession(std::unique_ptr<HttpSession> inner, CountingHttpClient& owner)
        : inner(std::move(inner)), owner(owner) {}
    std::unique_ptr<HttpConnection> Connect(std::string_view host) override {
        owner.connects.emplace_back(host);
        return inner->Connect(host);
    }

private:
    std::unique_ptr<HttpSession> inner;
    CountingHttpClient& owner;
};

std::string Contents(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random() & 0xFF);
    return s;
}

}  // namespace

std::unique_ptr<HttpSession> CountingHttpClient::OpenSession(std::string_view userAgent) {
    ++sessions;
    std::unique_ptr<HttpSession> session = inner.OpenSession(userAgent);
    if (!session) return nullptr;
    return std::make_unique<CountingSession>(std::move(session), *this);
}

UpdateScenario::UpdateScenario()
    : installFolder(tp.dir.Path("Fablewright")), serverRoot(tp.dir.Path("server")) {
    std::filesystem::create_directories(installFolder);
    std::filesystem::create_directories(serverRoot + "/UpDefs");
    server = std::make_unique<UpdateServer>(serverRoot);
    // The Windows tests need the native server program; without it nothing here can run.
    if (std::string why = UpdateServer::Unavailable(); !why.empty()) {
        // Recorded for this test, which then runs no body; the set-up below stays harmless.
        [&] { GTEST_SKIP() << why; }();
    } else {
        EXPECT_TRUE(server->Start(0));
    }
    counting = std::make_unique<CountingHttpClient>(*tp.http);
    Platform& p = tp.platform();
    platform = std::make_unique<Platform>(
        Platform{p.ui, *counting, p.registry, p.files, p.processes, p.system, p.trustedKeys});
    tp.RegisterInstallFolder(installFolder);
}

UpdateScenario::~UpdateScenario() { server->Stop(); }

void UpdateScenario::Install(std::initializer_list<std::pair<std::string, std::string>> templates,
                             bool withProduct) {
    if (withProduct) {
        ASSERT_TRUE(WriteBinaryFile(installFolder + "/Fablewright.exe",
                                    MakePeWithVersion(PackVersion(2, 1, 0, 7))));
    }
    for (const auto& [file, system] : templates) {
        tp.dir.Write("Fablewright/" + file, "[Configuration]\r\nGameSystem=" + system + "\r\n");
    }
}

void UpdateScenario::Definitions(const std::string& text, bool beta) {
    std::string relative = std::string("server/UpDefs/") +
                           (beta ? "FablewrightBetaUpdates.txt" : "FablewrightUpdates.txt");
    std::filesystem::path file = tp.dir.Path(relative);
    std::error_code error;
    auto before = std::filesystem::last_write_time(file, error);
    bool existed = !error;
    tp.dir.Write(relative, text);
    // A file rewritten within the file system's clock step would keep its validators, and a
    // program that keeps definitions would rightly be told they had not changed.
    if (existed && std::filesystem::last_write_time(file) < before + std::chrono::seconds(1)) {
        std::filesystem::last_write_time(file, before + std::chrono::seconds(1));
    }
}

std::string UpdateScenario::Serve(const std::string& path, std::size_t size, unsigned seed) {
    std::string file = tp.dir.Write("server/" + path, Contents(size, seed));
    std::uint32_t checksum = 0;
    EXPECT_TRUE(FileChecksum(*tp.files, file, checksum));
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", checksum);
    return hex;
}

std::string UpdateScenario::ServedContents(const std::string& path) const {
    return tp.dir.Read("server/" + path);
}

std::string UpdateScenario::UpdateLine(const std::string& name, const std::string& path,
                                       std::size_t size, unsigned seed) {
    std::string checksum = Serve(path, size, seed);
    return "update~" + name + "~" + path + "~" + std::to_string(size) + "~" + checksum + "\n";
}

void UpdateScenario::Run(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script,
                         std::vector<std::string> extraArgs) {
    std::vector<std::string> args = {"fablewright-update", "-server", server->HostText(),
                                     "-infoserver", server->HostText()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    CUpdateDownloaderDlg dlg(*platform, static_cast<int>(argv.size()), argv.data());
    tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) { script(w, dlg); });
    dlg.DoModal();
}

void UpdateScenario::DownloadThenExit(std::vector<std::string> extraArgs) {
    Run(
        [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        },
        std::move(extraArgs));
}

void UpdateScenario::UseTls(UpdateServer& target, ServerCertificate kind) {
#ifndef _WIN32
    if (!authority) {
        authority = TestAuthority::Create();
        ASSERT_TRUE(authority);
        ASSERT_TRUE(authority->WriteCertificate(tp.authorityFile));
    }
#endif
    target.Stop();
    target.UseTls(kind, authority);
    ASSERT_TRUE(target.Start(0));
}

int UpdateScenario::RequestsFor(const std::string& path) const {
    int n = 0;
    for (const RecordedRequest& r : server->Requests()) n += r.path == path ? 1 : 0;
    return n;
}

std::string UpdateScenario::SentFolder() const {
    std::string sent;
    for (char c : installFolder) {
        if (c == '\\') {
            sent += '/';
        } else if (c == ':') {
            sent += "%3a";
        } else {
            sent += c;
        }
    }
    return sent;
}

std::string UpdateScenario::Text(int id) const { return std::string(res::LoadString(id)); }

}  // namespace fw::test
