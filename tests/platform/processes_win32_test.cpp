// Starting a program with CreateProcessA, polling it, and the environment it inherits.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/ui/win_constants.h"
#include "platform/win32/processes_win32.h"
#include "tests/support/temp_dir.h"

namespace fw {
namespace {

// The probe program is built beside the tests, which run in their build folder.
std::string ProbePath() {
    return (std::filesystem::current_path() / "env-probe.exe").make_preferred().string();
}

std::uint32_t WaitForExit(ChildProcess& child) {
    std::uint32_t code = STILL_ACTIVE;
    for (int i = 0; i < 1000 && code == STILL_ACTIVE; ++i) {
        if (!child.GetExitCode(code)) return 0xFFFFFFFFu;
        if (code == STILL_ACTIVE) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return code;
}

TEST(Win32ProcessesTest, StartedProgramInheritsTheEnvironmentAndReportsItsExitCode) {
    ASSERT_TRUE(std::filesystem::exists(ProbePath())) << ProbePath();
    test::TempDir dir;
    std::string output = std::filesystem::path(dir.Path("env.txt")).make_preferred().string();
    Win32Processes processes;
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_PROBE_OUTPUT", output));
    ASSERT_TRUE(processes.SetEnvironmentVariable(
        "FW_PROBE_VARS", "FABLEWRIGHTAUTOINSTALL;InstallFlags;InstallPathOverride"));
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_PROBE_EXIT", "7"));
    ASSERT_TRUE(processes.SetEnvironmentVariable("FABLEWRIGHTAUTOINSTALL", "TRUE"));
    ASSERT_TRUE(processes.SetEnvironmentVariable("InstallPathOverride", "C:\\Beta"));
    ASSERT_TRUE(processes.UnsetEnvironmentVariable("InstallPathOverride"));
    ASSERT_TRUE(processes.SetEnvironmentVariable("InstallFlags", "Beta"));

    std::string error;
    auto child = processes.Start(ProbePath(), error);
    ASSERT_TRUE(child) << error;
    EXPECT_NE(child->ProcessId(), 0u);
    EXPECT_EQ(WaitForExit(*child), 7u);
    EXPECT_EQ(dir.Read("env.txt"),
              "FABLEWRIGHTAUTOINSTALL=TRUE\nInstallFlags=Beta\nInstallPathOverride\n");
}

TEST(Win32ProcessesTest, EnvironmentValues) {
    Win32Processes processes;
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_VALUE", "x"));
    EXPECT_EQ(processes.GetEnvironmentVariable("FW_TEST_VALUE"), "x");
    std::string longValue(1000, 'v');
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_VALUE", longValue));
    EXPECT_EQ(processes.GetEnvironmentVariable("FW_TEST_VALUE"), longValue);
    ASSERT_TRUE(processes.UnsetEnvironmentVariable("FW_TEST_VALUE"));
    EXPECT_EQ(processes.GetEnvironmentVariable("FW_TEST_VALUE"), std::nullopt);
    EXPECT_TRUE(processes.UnsetEnvironmentVariable("FW_TEST_VALUE"));  // already gone
}

// Between the check and the start nobody may replace, rename or write the program: the file that
// starts is the file that was checked, every time.
TEST(Win32ProcessesTest, TheCheckedProgramCannotBeReplacedBeforeItStarts) {
    ASSERT_TRUE(std::filesystem::exists(ProbePath())) << ProbePath();
    test::TempDir dir;
    std::string program = std::filesystem::path(dir.Path("updater.exe")).make_preferred().string();
    std::string other = std::filesystem::path(dir.Path("other.exe")).make_preferred().string();
    Win32Processes processes;
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_PROBE_EXIT", "7"));
    int swaps = 0;
    for (int i = 0; i < 5; ++i) {
        std::filesystem::copy_file(ProbePath(), program,
                                   std::filesystem::copy_options::overwrite_existing);
        dir.Write("other.exe", "not a program");
        bool refused = true;
        std::string error;
        auto child = processes.StartChecked(program, [&](ReadableFile& file) {
            char buffer[4096];
            while (file.Read(buffer, sizeof buffer) > 0) {
            }
            std::error_code ec;
            std::filesystem::rename(other, program, ec);
            swaps += ec ? 0 : 1;
            std::filesystem::remove(program, ec);
            swaps += ec ? 0 : 1;
            return true;
        }, refused, error);
        ASSERT_TRUE(child) << error;
        EXPECT_FALSE(refused);
        EXPECT_EQ(WaitForExit(*child), 7u);  // the probe ran, not the impostor
    }
    EXPECT_EQ(swaps, 0);
    bool refused = false;
    std::string error;
    EXPECT_FALSE(processes.StartChecked(program, [](ReadableFile&) { return false; }, refused, error));
    EXPECT_TRUE(refused);
}

TEST(Win32ProcessesTest, MissingProgramIsReportedWithAReason) {
    test::TempDir dir;
    Win32Processes processes;
    std::string error;
    EXPECT_FALSE(processes.Start(dir.Path("missing.exe"), error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace fw
