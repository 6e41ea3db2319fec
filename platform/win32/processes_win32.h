#pragma once
// Starting updaters with CreateProcessA and the process's own environment block, which a
// started program inherits.

#include "platform/processes.h"

namespace fw {

class Win32Processes : public Processes {
public:
    // The program is held open, denying others write and delete access, from before the check
    // until the process has started, so the file that starts is the file that was checked.
    std::unique_ptr<ChildProcess> StartChecked(const std::string& program, const ProgramCheck& check,
                                               bool& refused, std::string& error) override;
    bool SetEnvironmentVariable(std::string_view name, std::string_view value) override;
    bool UnsetEnvironmentVariable(std::string_view name) override;
    std::optional<std::string> GetEnvironmentVariable(std::string_view name) override;
};

}  // namespace fw
