#include "platform/win32/processes_win32.h"

#include <string>
#include <vector>

#include "platform/win32/error_win32.h"
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

class Win32ChildProcess : public ChildProcess {
public:
    explicit Win32ChildProcess(const PROCESS_INFORMATION& info) : info(info) {}
    // Letting go closes our handles; the program itself keeps running.
    ~Win32ChildProcess() override {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    Win32ChildProcess(const Win32ChildProcess&) = delete;
    Win32ChildProcess& operator=(const Win32ChildProcess&) = delete;

    bool GetExitCode(std::uint32_t& code) override {
        DWORD value = 0;
        if (!GetExitCodeProcess(info.hProcess, &value)) return false;
        code = value;
        return true;
    }
    std::uint32_t ProcessId() const override { return info.dwProcessId; }

private:
    PROCESS_INFORMATION info;
};

}  // namespace

std::unique_ptr<ChildProcess> Win32Processes::Start(const std::string& program,
                                                    std::string& error) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // An empty, writable command line: the updater is told everything through its environment.
    char commandLine[1] = {'\0'};
    if (!CreateProcessA(program.c_str(), commandLine, nullptr, nullptr, FALSE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info)) {
        error = LastErrorText();
        return nullptr;
    }
    return std::make_unique<Win32ChildProcess>(info);
}

bool Win32Processes::SetEnvironmentVariable(std::string_view name, std::string_view value) {
    std::string n(name);
    std::string v(value);
    return SetEnvironmentVariableA(n.c_str(), v.c_str()) != FALSE;
}

bool Win32Processes::UnsetEnvironmentVariable(std::string_view name) {
    std::string n(name);
    if (SetEnvironmentVariableA(n.c_str(), nullptr)) return true;
    // Removing a variable that is not there leaves the environment as asked.
    return GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

std::optional<std::string> Win32Processes::GetEnvironmentVariable(std::string_view name) {
    std::string n(name);
    std::vector<char> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableA(n.c_str(), buffer.data(),
                                               static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            // An empty value is a value; only a missing variable is none.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length);  // the size it needs, terminator included
    }
}

}  // namespace fw
