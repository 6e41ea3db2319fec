// Ctrl+C and SIGTERM while a console run watches for them: taken as a request instead of ending
// the process, while an updater started meanwhile gets them as usual.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/interrupts.h"
#include "platform/posix/processes_posix.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_updater.h"

namespace fw {
namespace {

bool BlockedHere(int signal) {
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    return sigismember(&current, signal) == 1;
}

// The signals that process `pid` blocks, as the kernel reports them.
std::uint64_t BlockedIn(std::uint32_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    }
    ADD_FAILURE() << "no SigBlk for process " << pid;
    return ~std::uint64_t{0};
}

TEST(InterruptsPosixTest, SignalsBecomeRequestsAndUpdatersStillGetThem) {
    test::TempDir dir;
    std::string updater = test::CopyTestUpdater(dir.Path("updater"));
    PosixProcesses processes;
    ASSERT_TRUE(processes.SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_MS", "500"));
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        {
            std::unique_ptr<InterruptWatch> watch = WatchInterrupts();
            ASSERT_TRUE(watch);
            EXPECT_FALSE(watch->Requested());
            ASSERT_EQ(raise(signal), 0);  // the process would end here without the watch
            EXPECT_TRUE(watch->Requested());
            EXPECT_TRUE(watch->Requested());

            std::string error;
            std::unique_ptr<ChildProcess> child = processes.Start(updater, error);
            ASSERT_TRUE(child) << error;
            EXPECT_EQ(BlockedIn(child->ProcessId()) & (std::uint64_t{1} << (signal - 1)), 0u);
            EXPECT_TRUE(test::WaitForExit(*child));
        }
        EXPECT_FALSE(BlockedHere(signal));
    }
}

// Asked twice, the user will not wait: the program ends at once with 130, and the updater it
// started finishes on its own.
TEST(InterruptsPosixDeathTest, ASecondRequestEndsTheProcessWith130AndLeavesTheUpdater) {
    test::TempDir dir;
    std::string updater = test::CopyTestUpdater(dir.Path("updater"));
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::string log = dir.Path("log-" + std::to_string(signal));
        EXPECT_EXIT(
            {
                std::unique_ptr<InterruptWatch> watch = WatchInterrupts();
                PosixProcesses processes;
                processes.SetEnvironmentVariable("FW_TEST_UPDATER_LOG", log);
                processes.SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_MS", "300");
                std::string error;
                std::unique_ptr<ChildProcess> child = processes.Start(updater, error);
                raise(signal);
                if (!watch || !child || !watch->Requested()) std::exit(1);
                raise(signal);
                watch->Requested();
                std::exit(2);
            },
            ::testing::ExitedWithCode(130), "");
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<test::UpdaterRun> runs;
        while ((runs = test::ReadUpdaterLog(log)).empty() || !runs[0].exitCode) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the updater did not finish";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(runs[0].exitCode, 0);
    }
}

}  // namespace
}  // namespace fw
