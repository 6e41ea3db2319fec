// A stand-in for a downloaded updater. It appends what it was given to the file named in
// FW_TEST_UPDATER_LOG, one record per run:
//
//   begin
//   program=<argv[0]>
//   image=<the file it was started from, whatever its command line says>
//   arg=<each further argument>
//   cwd=<current directory>
//   FABLEWRIGHTAUTOINSTALL=<value, or (unset)>
//   InstallFlags=<value, or (unset)>
//   InstallPathOverride=<value, or (unset)>
//   end
//   exit=<code>              (written last, just before it exits)
//
// Then it waits FW_TEST_UPDATER_WAIT_MS milliseconds, and until the file named in
// FW_TEST_UPDATER_WAIT_FOR exists (at most 30 s), and exits with FW_TEST_UPDATER_EXIT (0 when
// unset; "abort" crashes instead).

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The file this program was started from. Its command line cannot tell: a program started with
// an empty command line on Windows has no argv[0] at all.
std::string ImagePath(int argc, char** argv) {
#ifdef _WIN32
    if (const char* path = _pgmptr; path != nullptr && *path != '\0') return path;
#else
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.string();
#endif
    return argc > 0 && argv[0] ? argv[0] : "";
}

void Append(const char* logPath, const std::string& text) {
    if (logPath == nullptr || *logPath == '\0') return;
    std::ofstream log(logPath, std::ios::binary | std::ios::app);
    log << text;
}

}  // namespace

int main(int argc, char** argv) {
    const char* logPath = std::getenv("FW_TEST_UPDATER_LOG");

    std::ostringstream record;
    record << "begin\n";
    record << "program=" << (argc > 0 && argv[0] ? argv[0] : "") << "\n";
    record << "image=" << ImagePath(argc, argv) << "\n";
    for (int i = 1; i < argc; ++i) record << "arg=" << argv[i] << "\n";
    std::error_code ec;
    record << "cwd=" << std::filesystem::current_path(ec).string() << "\n";
    for (const char* name : {"FABLEWRIGHTAUTOINSTALL", "InstallFlags", "InstallPathOverride"}) {
        const char* value = std::getenv(name);
        record << name << "=" << (value ? value : "(unset)") << "\n";
    }
    record << "end\n";
    Append(logPath, record.str());

    if (const char* wait = std::getenv("FW_TEST_UPDATER_WAIT_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(wait)));
    }
    if (const char* gate = std::getenv("FW_TEST_UPDATER_WAIT_FOR"); gate && *gate) {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(gate, ec) && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    const char* exitText = std::getenv("FW_TEST_UPDATER_EXIT");
    // An updater that crashes: a signal on POSIX hosts, exit code 3 on Windows.
    if (exitText && std::string(exitText) == "abort") std::abort();
    int code = exitText ? std::atoi(exitText) : 0;
    Append(logPath, "exit=" + std::to_string(code) + "\n");
    return code;
}
