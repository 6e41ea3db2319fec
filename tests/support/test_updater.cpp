#include "tests/support/test_updater.h"

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ui/win_constants.h"

#ifndef FW_TEST_UPDATER_PATH
#error "tests/CMakeLists.txt defines FW_TEST_UPDATER_PATH as the path of the test-updater program"
#endif

namespace fw::test {

std::string TestUpdaterPath() { return FW_TEST_UPDATER_PATH; }

std::string CopyTestUpdater(const std::string& path) {
    std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(TestUpdaterPath(), target,
                               std::filesystem::copy_options::overwrite_existing);
    return path;
}

std::string UpdaterRun::Env(const std::string& name) const {
    auto it = env.find(name);
    if (it == env.end() || !it->second) return "(unset)";
    return *it->second;
}

std::vector<UpdaterRun> ReadUpdaterLog(const std::string& path) {
    std::vector<UpdaterRun> runs;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows build's text mode
        if (line == "begin") {
            runs.emplace_back();
            continue;
        }
        if (runs.empty()) continue;
        UpdaterRun& run = runs.back();
        if (line == "end") {
            run.complete = true;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (key == "program") {
            run.program = value;
        } else if (key == "image") {
            run.image = value;
        } else if (key == "arg") {
            run.args.push_back(value);
        } else if (key == "cwd") {
            run.cwd = value;
        } else if (key == "exit") {
            run.exitCode = std::stoi(value);
        } else if (value == "(unset)") {
            run.env[key] = std::nullopt;
        } else {
            run.env[key] = value;
        }
    }
    return runs;
}

bool WaitForExit(ChildProcess& process, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::uint32_t code = 0;
        if (!process.GetExitCode(code) || code != STILL_ACTIVE) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

EnvironmentGuard::EnvironmentGuard(Processes& processes, std::vector<std::string> names)
    : processes(processes) {
    for (std::string& name : names) {
        std::optional<std::string> value = processes.GetEnvironmentVariable(name);
        saved.emplace_back(std::move(name), std::move(value));
    }
}

EnvironmentGuard::~EnvironmentGuard() {
    for (const auto& [name, value] : saved) {
        if (value) {
            processes.SetEnvironmentVariable(name, *value);
        } else {
            processes.UnsetEnvironmentVariable(name);
        }
    }
}

std::vector<std::string> UpdaterVariables() {
    return {"FABLEWRIGHTAUTOINSTALL", "InstallFlags",         "InstallPathOverride",
            "FW_TEST_UPDATER_LOG",    "FW_TEST_UPDATER_EXIT", "FW_TEST_UPDATER_WAIT_MS",
            "FW_TEST_UPDATER_WAIT_FOR"};
}

}  // namespace fw::test
