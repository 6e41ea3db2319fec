#pragma once
// Starting updaters on a POSIX host with posix_spawn, and the process's own environment, which
// a started program inherits.
//
// A file that begins with "MZ" is a Windows program: it runs through `wine`, found on PATH, or
// the program that FABLEWRIGHT_WINE names (wine opens the file by its name). Any other file is
// made executable for its owner and started from the descriptor it was opened (and checked)
// through, as /proc/self/fd/3; that descriptor stays open in it, so that a script's
// interpreter can read it. Either way the program gets no arguments of its own, our current
// directory and our current environment, and no other descriptor beyond standard input, output
// and error.
//
// Children are polled with waitpid(WNOHANG), never waited for. Letting go of a ChildProcess
// whose program still runs does not stop it: the process id is handed to a reaper shared with
// the PosixProcesses that started it, which collects the exit status without blocking at every
// later Start and when the PosixProcesses goes away, so a finished updater does not stay a
// zombie for the rest of the session. One still running when the program itself ends is
// inherited by init, which reaps it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/processes.h"

namespace fw {

class ChildReaper;

class PosixProcesses : public Processes {
public:
    PosixProcesses();
    ~PosixProcesses() override;
    PosixProcesses(const PosixProcesses&) = delete;
    PosixProcesses& operator=(const PosixProcesses&) = delete;

    // Fails, before anything is spawned, when the file is missing or cannot be read, when it
    // cannot be made executable, or when the program that would run it (wine) cannot be found.
    std::unique_ptr<ChildProcess> StartChecked(const std::string& program, const ProgramCheck& check,
                                               bool& refused, std::string& error) override;
    // A name that is empty or holds "=" or a zero byte, or a value with a zero byte, is refused.
    bool SetEnvironmentVariable(std::string_view name, std::string_view value) override;
    bool UnsetEnvironmentVariable(std::string_view name) override;
    std::optional<std::string> GetEnvironmentVariable(std::string_view name) override;

private:
    std::shared_ptr<ChildReaper> reaper;
};

}  // namespace fw
