#pragma once
// Everything a scenario needs: the strict headless host, the host's real services, a
// temporary folder with a registry file in it, and a clock and Shift key that the test sets.

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/headless_test.h"
#include "tests/support/temp_dir.h"

namespace fw::test {

class TestPlatform {
public:
    TestPlatform();
    ~TestPlatform();

    Platform& platform() { return *bundle; }
    // The registry file of this test (inside `dir`); on Windows the key below HKEY_CURRENT_USER
    // that stands in for the hive in this test.
    const std::string& registryPath() const { return registryFile; }
    // Writes the install folder as the default value of the "InstallDir" sub-key.
    void RegisterInstallFolder(const std::string& folder);
    // Empties this test's registry, as if nothing had ever been written.
    void ClearRegistry();

    TempDir dir;
    // Where this test's certificate authority goes for the HTTP client to trust (POSIX; on
    // Windows the run's authority is in the system's store, see .ci/windows.sh).
    std::string authorityFile;
    StrictHeadlessBackend ui;
    HeadlessSystem system;
    std::string registryFile;
    std::unique_ptr<Registry> registry;
    std::unique_ptr<Files> files;
    std::unique_ptr<HttpClient> http;
    std::unique_ptr<Processes> processes;

private:
    std::unique_ptr<Platform> bundle;
};

// Command lines for the dialog: argv[0] is the program.
class CommandLine {
public:
    CommandLine(std::initializer_list<std::string> args);
    int argc() const { return static_cast<int>(pointers.size()); }
    const char* const* argv() const { return pointers.data(); }

private:
    std::vector<std::string> strings;
    std::vector<const char*> pointers;
};

}  // namespace fw::test
