#pragma once
// Starting updaters and polling them, and the program's own environment, which an updater
// inherits.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace fw {

// A started program. Letting go of it closes its handles; the program keeps running.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    // STILL_ACTIVE (259) while the program runs, then its exit code. False when it cannot be
    // asked.
    virtual bool GetExitCode(std::uint32_t& code) = 0;
    virtual std::uint32_t ProcessId() const = 0;
};

// The record that start-up passes to the platform; only its size field is ours to set.
struct StartupInfo {
    std::uint32_t size = 0;
};
inline constexpr std::uint32_t kStartupInfoSize = 68;

// The program last started: its handles (owned) and ids.
struct ProcessInfo {
    std::unique_ptr<ChildProcess> process;
    std::uint32_t processId = 0;
    std::uint32_t threadId = 0;
    void Clear() {
        process.reset();
        processId = 0;
        threadId = 0;
    }
};

// Reads the program from the very file that is about to start; false stops the start.
using ProgramCheck = std::function<bool(ReadableFile& program)>;

class Processes {
public:
    virtual ~Processes() = default;
    // Starts `program` with an empty command line in the current directory, inheriting the
    // current environment. The file is opened once (a symbolic link in its place is not
    // followed); `check`, when given, reads it from that open file, and the program then starts
    // from the same open file, so no file put in its place after the check can run instead.
    // Returns nullptr when it cannot be started or the check said no (`refused` set); `error`
    // then says why.
    virtual std::unique_ptr<ChildProcess> StartChecked(const std::string& program,
                                                       const ProgramCheck& check, bool& refused,
                                                       std::string& error) = 0;
    std::unique_ptr<ChildProcess> Start(const std::string& program, std::string& error) {
        bool refused = false;
        return StartChecked(program, {}, refused, error);
    }
    virtual bool SetEnvironmentVariable(std::string_view name, std::string_view value) = 0;
    virtual bool UnsetEnvironmentVariable(std::string_view name) = 0;
    virtual std::optional<std::string> GetEnvironmentVariable(std::string_view name) = 0;
};

}  // namespace fw
