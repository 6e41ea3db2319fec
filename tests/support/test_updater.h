#pragma once
// The test updater program (tests/support/test_updater_main.cpp) as tests use it: where it is,
// copies of it as "downloaded" updaters, the record of what each run was given, and the
// environment the tests change around it.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace fw::test {

// The built test-updater program.
std::string TestUpdaterPath();

// Copies the test updater to `path` (creating its folder) and returns `path`.
std::string CopyTestUpdater(const std::string& path);

// What one run of the test updater was given.
struct UpdaterRun {
    std::string program;            // argv[0]
    std::string image;              // the file it was started from
    std::vector<std::string> args;  // the arguments after argv[0]
    std::string cwd;
    std::map<std::string, std::optional<std::string>> env;  // nothing: not in its environment
    std::optional<int> exitCode;    // set once it has exited
    bool complete = false;          // the record reached its "end" line
    // The variable's value, or "(unset)".
    std::string Env(const std::string& name) const;
};

// The runs recorded in the log file at `path`, oldest first; none when it does not exist.
std::vector<UpdaterRun> ReadUpdaterLog(const std::string& path);

// Polls `process` until it has ended, sleeping a little between polls, for at most `limit`.
// False when it still runs.
bool WaitForExit(ChildProcess& process,
                 std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// Remembers the named variables of the process environment and puts them back as they were
// (set or unset) when it goes away.
class EnvironmentGuard {
public:
    EnvironmentGuard(Processes& processes, std::vector<std::string> names);
    ~EnvironmentGuard();
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    Processes& processes;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// The variables that the dialog sets for the updaters and those that steer the test updater.
std::vector<std::string> UpdaterVariables();

}  // namespace fw::test
