// The POSIX launcher with real child processes: what an updater inherits, how it is polled,
// how Windows programs reach wine, and the starts that must fail before anything runs.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/posix/processes_posix.h"
#include "platform/ui/win_constants.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_updater.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::ReadUpdaterLog;
using test::UpdaterRun;

class PosixProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        logPath = dir.Path("log.txt");
        ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_LOG", logPath));
        updater = test::CopyTestUpdater(dir.Path("updater"));
    }

    // Starts `program`, waits until it has ended and returns its exit code.
    std::uint32_t RunToEnd(const std::string& program) {
        std::string error;
        std::unique_ptr<ChildProcess> child = processes.Start(program, error);
        EXPECT_TRUE(child) << error;
        if (!child) return 0xFFFFFFFFu;
        EXPECT_TRUE(test::WaitForExit(*child));
        std::uint32_t code = 0;
        EXPECT_TRUE(child->GetExitCode(code));
        return code;
    }

    UpdaterRun OnlyRun() {
        std::vector<UpdaterRun> runs = ReadUpdaterLog(logPath);
        EXPECT_EQ(runs.size(), 1u);
        return runs.empty() ? UpdaterRun{} : runs.back();
    }

    // A shell script that stands in for wine: it records its arguments and exits with 9.
    std::string FakeWine(const std::string& relative) {
        std::string path = dir.Write(relative,
                                     "#!/bin/sh\n"
                                     "printf 'wine' >> \"$FW_TEST_UPDATER_LOG\"\n"
                                     "for a in \"$@\"; do printf ' [%s]' \"$a\" >> "
                                     "\"$FW_TEST_UPDATER_LOG\"; done\n"
                                     "exit 9\n");
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    test::TempDir dir;
    PosixProcesses processes;
    test::EnvironmentGuard guard{processes,
                                 {"FW_TEST_UPDATER_LOG", "FW_TEST_UPDATER_EXIT",
                                  "FW_TEST_UPDATER_WAIT_FOR", "FABLEWRIGHT_WINE", "PATH",
                                  "FABLEWRIGHTAUTOINSTALL", "InstallFlags", "InstallPathOverride"}};
    std::string logPath;
    std::string updater;
};

TEST_F(PosixProcessesTest, EnvironmentIsInheritedAsSetAtTheStart) {
    struct Case {
        const char* what;
        std::optional<std::string> autoInstall, flags, path;
    };
    const Case cases[] = {
        {"all unset", std::nullopt, std::nullopt, std::nullopt},
        {"values", "TRUE", "Beta", "/opt/Fablewright Beta"},
        {"empty is not unset", std::nullopt, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        auto apply = [&](const char* name, const std::optional<std::string>& value) {
            // Set first, so that the unset below really removes a variable.
            ASSERT_TRUE(processes.SetEnvironmentVariable(name, "stale"));
            if (value) {
                ASSERT_TRUE(processes.SetEnvironmentVariable(name, *value));
            } else {
                ASSERT_TRUE(processes.UnsetEnvironmentVariable(name));
            }
            EXPECT_EQ(processes.GetEnvironmentVariable(name), value);
        };
        apply("FABLEWRIGHTAUTOINSTALL", c.autoInstall);
        apply("InstallFlags", c.flags);
        apply("InstallPathOverride", c.path);
        EXPECT_EQ(RunToEnd(updater), 0u);
        UpdaterRun run = OnlyRun();
        EXPECT_TRUE(run.complete);
        EXPECT_EQ(run.env["FABLEWRIGHTAUTOINSTALL"], c.autoInstall);
        EXPECT_EQ(run.env["InstallFlags"], c.flags);
        EXPECT_EQ(run.env["InstallPathOverride"], c.path);
    }
}

TEST_F(PosixProcessesTest, RefusesVariableNamesTheEnvironmentCannotHold) {
    EXPECT_FALSE(processes.SetEnvironmentVariable("", "x"));
    EXPECT_FALSE(processes.SetEnvironmentVariable("A=B", "x"));
    EXPECT_FALSE(processes.SetEnvironmentVariable("InstallFlags", std::string_view("a\0b", 3)));
    EXPECT_FALSE(processes.UnsetEnvironmentVariable("A=B"));
    EXPECT_TRUE(processes.UnsetEnvironmentVariable("FW_TEST_NEVER_SET"));
    EXPECT_EQ(processes.GetEnvironmentVariable("FW_TEST_NEVER_SET"), std::nullopt);
}

TEST_F(PosixProcessesTest, StartsWithAnEmptyCommandLineInOurCurrentDirectory) {
    fs::path before = fs::current_path();
    fs::create_directories(dir.Path("work dir"));
    fs::current_path(dir.Path("work dir"));
    EXPECT_EQ(RunToEnd(updater), 0u);
    fs::current_path(before);
    UpdaterRun run = OnlyRun();
    EXPECT_EQ(run.program, updater);
    EXPECT_TRUE(fs::equivalent(run.image, updater)) << run.image;
    EXPECT_TRUE(run.args.empty());
    EXPECT_EQ(fs::path(run.cwd), fs::canonical(dir.Path("work dir")));
}

TEST_F(PosixProcessesTest, ReportsTheExitCode) {
    for (int code : {0, 1, 42, 255}) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_EXIT", std::to_string(code)));
        EXPECT_EQ(RunToEnd(updater), static_cast<std::uint32_t>(code));
    }
    // Killed by a signal: 128 plus the signal, never STILL_ACTIVE.
    std::string script = dir.Write("killed.sh", "#!/bin/sh\nkill -9 $$\n");
    EXPECT_EQ(RunToEnd(script), 128u + 9u);
}

TEST_F(PosixProcessesTest, StillActiveWhileRunningThenTheCodeEveryTime) {
    std::string gate = dir.Path("gate");
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", gate));
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_EXIT", "3"));
    std::string error;
    std::unique_ptr<ChildProcess> child = processes.Start(updater, error);
    ASSERT_TRUE(child) << error;
    EXPECT_NE(child->ProcessId(), 0u);
    for (int poll = 0; poll < 3; ++poll) {
        std::uint32_t code = 0;
        ASSERT_TRUE(child->GetExitCode(code));
        EXPECT_EQ(code, STILL_ACTIVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    dir.Write("gate", "");
    ASSERT_TRUE(test::WaitForExit(*child));
    for (int poll = 0; poll < 2; ++poll) {
        std::uint32_t code = 0;
        ASSERT_TRUE(child->GetExitCode(code));  // asked again after it was collected
        EXPECT_EQ(code, 3u);
    }
}

TEST_F(PosixProcessesTest, LettingGoDoesNotStopTheProgramAndItIsReapedLater) {
    std::string gate = dir.Path("gate");
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", gate));
    std::string error;
    std::unique_ptr<ChildProcess> child = processes.Start(updater, error);
    ASSERT_TRUE(child) << error;
    std::string proc = "/proc/" + std::to_string(child->ProcessId());
    child.reset();
    dir.Write("gate", "");

    // It goes on to its end on its own.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto ended = [&] {
        std::vector<UpdaterRun> runs = ReadUpdaterLog(logPath);
        return !runs.empty() && runs.back().exitCode.has_value();
    };
    while (!ended() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(OnlyRun().exitCode, 0);

    // The next start collects it, so it does not linger as a zombie.
    if (!fs::exists("/proc/self")) GTEST_SKIP() << "no /proc to look for zombies in";
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", ""));
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fs::exists(proc) && std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(RunToEnd(updater), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(fs::exists(proc));
}

TEST_F(PosixProcessesTest, MakesAPlainFileExecutableForItsOwner) {
    std::string script = dir.Write("update.sh", "#!/bin/sh\nexit 5\n");
    fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(RunToEnd(script), 5u);
    fs::perms perms = fs::status(script).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(perms & (fs::perms::group_exec | fs::perms::others_exec), fs::perms::none);
}

TEST_F(PosixProcessesTest, RunsWindowsProgramsThroughWine) {
    std::string program = dir.Write("setup.exe", std::string("MZ\x90\0\x03", 5));
    fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
    struct Case {
        const char* what;
        std::string wineVariable;  // empty: unset
        std::string path;          // PATH while it starts
    };
    FakeWine("named/my-wine");
    FakeWine("onpath/wine");
    const Case cases[] = {
        {"named by its path", dir.Path("named/my-wine"), "/nonexistent"},
        {"named, found on PATH", "my-wine", dir.Path("named")},
        {"wine from PATH", "", "/nonexistent:" + dir.Path("onpath")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        if (c.wineVariable.empty()) {
            ASSERT_TRUE(processes.UnsetEnvironmentVariable("FABLEWRIGHT_WINE"));
        } else {
            ASSERT_TRUE(processes.SetEnvironmentVariable("FABLEWRIGHT_WINE", c.wineVariable));
        }
        ASSERT_TRUE(processes.SetEnvironmentVariable("PATH", c.path));
        EXPECT_EQ(RunToEnd(program), 9u);
        std::ifstream in(logPath);
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "wine [" + program + "]");  // the program and nothing after it
    }
    // A Windows program is wine's to load; it is not made executable itself.
    EXPECT_EQ(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(PosixProcessesTest, StartsThatFailBeforeAnythingRuns) {
    std::string windowsProgram = dir.Write("setup.exe", "MZ");
    std::string unreadable = test::CopyTestUpdater(dir.Path("unreadable"));
    fs::permissions(unreadable, fs::perms::none);
    bool canReadAnyway = std::ifstream(unreadable).is_open();  // as root
    std::string notAProgram = dir.Write("garbage", std::string("\x7f\x01\x02\x03", 4));
    FakeWine("onpath/wine");
    fs::create_directories(dir.Path("folder"));

    struct Case {
        const char* what;
        std::string program;
        std::string wineVariable;  // empty: unset
        std::string path;
    };
    const std::string kNoWineHere = dir.Path("empty");
    const Case cases[] = {
        {"missing file", dir.Path("missing"), "", kNoWineHere},
        {"a folder", dir.Path("folder"), "", kNoWineHere},
        {"no wine on PATH", windowsProgram, "", kNoWineHere},
        {"FABLEWRIGHT_WINE names nothing", windowsProgram, dir.Path("no-such-wine"),
         dir.Path("onpath")},
        {"FABLEWRIGHT_WINE names nothing on PATH", windowsProgram, "no-such-wine",
         dir.Path("onpath")},
        {"not a program", notAProgram, "", kNoWineHere},
        {"unreadable", unreadable, "", kNoWineHere},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.program == unreadable && canReadAnyway) continue;
        if (c.wineVariable.empty()) {
            ASSERT_TRUE(processes.UnsetEnvironmentVariable("FABLEWRIGHT_WINE"));
        } else {
            ASSERT_TRUE(processes.SetEnvironmentVariable("FABLEWRIGHT_WINE", c.wineVariable));
        }
        ASSERT_TRUE(processes.SetEnvironmentVariable("PATH", c.path));
        std::string error;
        EXPECT_EQ(processes.Start(c.program, error), nullptr);
        EXPECT_NE(error.find(c.program), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(logPath));  // the fake wine never ran
}

// Another file renamed over the updater after its check, at the worst moment, never runs: the
// start uses the file that was checked, whether a program or a script.
TEST_F(PosixProcessesTest, AFileSwappedInAfterTheCheckNeverRuns) {
    constexpr int kTries = 20;
    std::string marks = dir.Path("marks.txt");
    std::string script = "#!/bin/sh\necho checked >> '" + marks + "'\n";
    std::string impostor = "#!/bin/sh\necho impostor >> '" + marks + "'\n";
    int swapped = 0;
    for (int i = 0; i < kTries; ++i) {
        std::string program = dir.Path("swap" + std::to_string(i));
        if (i % 2 == 0) {
            test::CopyTestUpdater(program);
        } else {
            dir.Write("swap" + std::to_string(i), script);
        }
        std::string other = dir.Write("other" + std::to_string(i), impostor);
        fs::permissions(other, fs::perms::owner_all);
        bool refused = true;
        std::string error;
        auto swapAfterReading = [&](ReadableFile& file) {
            char buffer[4096];
            while (file.Read(buffer, sizeof buffer) > 0) {
            }
            fs::rename(other, program);
            return true;
        };
        std::unique_ptr<ChildProcess> child =
            processes.StartChecked(program, swapAfterReading, refused, error);
        ASSERT_TRUE(child) << error;
        EXPECT_FALSE(refused);
        ASSERT_TRUE(test::WaitForExit(*child));
    }
    std::ifstream in(marks);
    std::string line;
    int scripts = 0;
    while (std::getline(in, line)) {
        if (line == "impostor") ++swapped;
        if (line == "checked") ++scripts;
    }
    EXPECT_EQ(swapped, 0);
    EXPECT_EQ(scripts, kTries / 2);
    EXPECT_EQ(ReadUpdaterLog(logPath).size(), static_cast<std::size_t>(kTries / 2));
}

// A check that says no starts nothing; a link in the updater's place is not followed.
TEST_F(PosixProcessesTest, ARefusedCheckOrALinkStartsNothing) {
    bool refused = false;
    std::string error;
    EXPECT_EQ(processes.StartChecked(updater, [](ReadableFile&) { return false; }, refused, error),
              nullptr);
    EXPECT_TRUE(refused);
    EXPECT_NE(error.find(updater), std::string::npos) << error;

    std::string link = dir.Path("link");
    fs::create_symlink(updater, link);
    refused = true;
    EXPECT_EQ(processes.StartChecked(link, {}, refused, error), nullptr);
    EXPECT_FALSE(refused);
    EXPECT_NE(error.find(link), std::string::npos) << error;
    EXPECT_TRUE(ReadUpdaterLog(logPath).empty());
}

}  // namespace
}  // namespace fw
