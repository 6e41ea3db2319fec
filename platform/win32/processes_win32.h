#pragma once
// Starting updaters with CreateProcessA and the process's own environment block, which a
// started program inherits.

#include "platform/processes.h"

namespace fw {

class Win32Processes : public Processes {
public:
    std::unique_ptr<ChildProcess> Start(const std::string& program, std::string& error) override;
    bool SetEnvironmentVariable(std::string_view name, std::string_view value) override;
    bool UnsetEnvironmentVariable(std::string_view name) override;
    std::optional<std::string> GetEnvironmentVariable(std::string_view name) override;
};

}  // namespace fw
