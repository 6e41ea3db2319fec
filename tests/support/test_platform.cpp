#include "tests/support/test_platform.h"

#include <filesystem>

#ifdef _WIN32
#include "platform/win32/files_win32.h"
#include "platform/win32/http_client_win32.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#define FW_TEST_HAS_CURL 1
#define FW_TEST_HAS_PROCESSES 1
#else
#include "platform/posix/files_posix.h"
#include "platform/posix/registry_posix.h"

#if __has_include("platform/curl/http_client_curl.h")
#include "platform/curl/http_client_curl.h"
#define FW_TEST_HAS_CURL 1
#endif
#if __has_include("platform/posix/processes_posix.h")
#include "platform/posix/processes_posix.h"
#define FW_TEST_HAS_PROCESSES 1
#endif
#endif

namespace fw::test {
namespace {

#ifndef FW_TEST_HAS_CURL
// Until the host has an HTTP layer every connection fails, as with no network at all.
class OfflineHttpClient : public HttpClient {
public:
    bool Startup() override { return true; }
    std::unique_ptr<HttpSession> OpenSession(std::string_view) override { return nullptr; }
};
#endif

#ifndef FW_TEST_HAS_PROCESSES
class NoProcesses : public Processes {
public:
    std::unique_ptr<ChildProcess> StartChecked(const std::string&, const ProgramCheck&, bool&,
                                               std::string& error) override {
        error = "no process launcher on this host";
        return nullptr;
    }
    bool SetEnvironmentVariable(std::string_view, std::string_view) override { return false; }
    bool UnsetEnvironmentVariable(std::string_view) override { return false; }
    std::optional<std::string> GetEnvironmentVariable(std::string_view) override { return {}; }
};
#endif

}  // namespace

#ifdef _WIN32
// The real registry of the Wine prefix (or of the Windows user): each test gets a key of its
// own, named after its temporary folder, which stands in for HKEY_CURRENT_USER.
TestPlatform::TestPlatform()
    : registryFile("Software\\FablewrightTests\\" +
                   std::filesystem::path(dir.path()).filename().string()) {
    registry = std::make_unique<Win32Registry>(registryFile);
    files = std::make_unique<Win32Files>();
    http = std::make_unique<Win32HttpClient>();
    processes = std::make_unique<Win32Processes>();
    // Kept definitions stay inside this test's folder.
    system.cacheFolder = dir.Path("cache");
    // The application's start-up does this before any dialog runs.
    EXPECT_TRUE(http->Startup());
    bundle = std::make_unique<Platform>(
        Platform{ui, *http, *registry, *files, *processes, system, NoTrustedKeys()});
}

TestPlatform::~TestPlatform() { DeleteUserKeyTree(registryFile); }

void TestPlatform::ClearRegistry() { DeleteUserKeyTree(registryFile); }
#else
TestPlatform::TestPlatform()
    : authorityFile(dir.Path("test-authority.pem")), registryFile(dir.Path("registry.reg")) {
    registry = std::make_unique<PosixRegistry>(registryFile);
    files = std::make_unique<PosixFiles>();
#ifdef FW_TEST_HAS_CURL
    // libcurl reads the file when a TLS connection starts, so a test may write it later.
    http = std::make_unique<CurlHttpClient>(authorityFile);
#else
    http = std::make_unique<OfflineHttpClient>();
#endif
#ifdef FW_TEST_HAS_PROCESSES
    processes = std::make_unique<PosixProcesses>();
#else
    processes = std::make_unique<NoProcesses>();
#endif
    // Kept definitions stay inside this test's folder.
    system.cacheFolder = dir.Path("cache");
    // The application's start-up does this before any dialog runs.
    EXPECT_TRUE(http->Startup());
    bundle = std::make_unique<Platform>(
        Platform{ui, *http, *registry, *files, *processes, system, NoTrustedKeys()});
}

TestPlatform::~TestPlatform() = default;

void TestPlatform::ClearRegistry() { std::filesystem::remove(registryFile); }
#endif

void TestPlatform::RegisterInstallFolder(const std::string& folder) {
    auto key = registry->CreateKey("Software\\Corvallen\\Fablewright");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("InstallDir", folder));
}

CommandLine::CommandLine(std::initializer_list<std::string> args) : strings(args) {
    strings.insert(strings.begin(), "fablewright-update");
    for (const std::string& s : strings) pointers.push_back(s.c_str());
}

}  // namespace fw::test
