#include "platform/win32/processes_win32.h"

#include <algorithm>
#include <climits>
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

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// The checked program's bytes, read through the handle that keeps it from being changed.
class HandleReader : public ReadableFile {
public:
    explicit HandleReader(HANDLE handle) : handle(handle) {}
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        DWORD got = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, INT_MAX));
        if (!ReadFile(handle, buffer, chunk, &got, nullptr)) return -1;
        return static_cast<std::ptrdiff_t>(got);
    }

private:
    HANDLE handle;
};

}  // namespace

std::unique_ptr<ChildProcess> Win32Processes::StartChecked(const std::string& program,
                                                           const ProgramCheck& check,
                                                           bool& refused, std::string& error) {
    refused = false;
    // Shared for reading only: nobody may write, rename or delete the file while we hold it,
    // and the start below opens it for reading and execution, which this still allows.
    FileHandle file(CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = LastErrorText();
        return nullptr;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        error = program + " is not a file";
        return nullptr;
    }
    if (check) {
        HandleReader reader(file.get());
        if (!check(reader)) {
            refused = true;
            error = program + " is not the program that was checked";
            return nullptr;
        }
    }
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
