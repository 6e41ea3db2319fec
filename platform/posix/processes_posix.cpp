#include "platform/posix/processes_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ui/win_constants.h"

extern char** environ;  // NOLINT: the process environment, as POSIX declares it

namespace fw {

// Process ids of children whose ChildProcess is gone while they still ran.
class ChildReaper {
public:
    ChildReaper() = default;
    ~ChildReaper() { ReapFinished(); }
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    void Adopt(pid_t pid) { pids.push_back(pid); }

    // Collects every adopted child that has ended; never blocks.
    void ReapFinished() {
        auto finished = [](pid_t pid) {
            int status = 0;
            pid_t r;
            do {
                r = ::waitpid(pid, &status, WNOHANG);
            } while (r < 0 && errno == EINTR);
            // Ended (r == pid), or no longer ours to ask (ECHILD): nothing left to collect.
            return r != 0;
        };
        pids.erase(std::remove_if(pids.begin(), pids.end(), finished), pids.end());
    }

private:
    std::vector<pid_t> pids;
};

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ok = ::posix_spawnattr_init(&attr) == 0; }
    ~SpawnAttributes() {
        if (ok) ::posix_spawnattr_destroy(&attr);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return ok ? &attr : nullptr; }

private:
    posix_spawnattr_t attr{};
    bool ok = false;
};

class SpawnFileActions {
public:
    SpawnFileActions() { ok = ::posix_spawn_file_actions_init(&actions) == 0; }
    ~SpawnFileActions() {
        if (ok) ::posix_spawn_file_actions_destroy(&actions);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    posix_spawn_file_actions_t* get() { return ok ? &actions : nullptr; }

private:
    posix_spawn_file_actions_t actions{};
    bool ok = false;
};

std::string ErrnoText(int error) { return std::strerror(error); }

// Where a started updater finds its own file open.
constexpr int kProgramDescriptor = 3;

// The checked program's bytes, read through the descriptor it will start from.
class DescriptorReader : public ReadableFile {
public:
    explicit DescriptorReader(int fd) : fd(fd) {}
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        ssize_t got;
        do {
            got = ::pread(fd, buffer, size, offset);
        } while (got < 0 && errno == EINTR);
        if (got > 0) offset += got;
        return got;
    }

private:
    int fd;
    off_t offset = 0;
};

// Exit status as the Windows exit code it stands for. A program killed by a signal reports
// 128 plus the signal, as a shell does; no code can be mistaken for STILL_ACTIVE.
std::uint32_t ExitCodeOf(int status) {
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 255u;
}

class PosixChildProcess : public ChildProcess {
public:
    PosixChildProcess(pid_t pid, std::shared_ptr<ChildReaper> reaper)
        : pid(pid), reaper(std::move(reaper)) {}
    ~PosixChildProcess() override {
        if (ended) return;
        std::uint32_t code = 0;
        if (GetExitCode(code) && code == STILL_ACTIVE) reaper->Adopt(pid);
    }
    PosixChildProcess(const PosixChildProcess&) = delete;
    PosixChildProcess& operator=(const PosixChildProcess&) = delete;

    bool GetExitCode(std::uint32_t& code) override {
        if (!ended) {
            int status = 0;
            pid_t r;
            do {
                r = ::waitpid(pid, &status, WNOHANG);
            } while (r < 0 && errno == EINTR);
            if (r < 0) return false;
            if (r == 0) {
                code = STILL_ACTIVE;
                return true;
            }
            ended = true;
            exitCode = ExitCodeOf(status);
        }
        code = exitCode;
        return true;
    }
    std::uint32_t ProcessId() const override { return static_cast<std::uint32_t>(pid); }

private:
    pid_t pid;
    std::shared_ptr<ChildReaper> reaper;
    bool ended = false;
    std::uint32_t exitCode = 0;
};

bool IsExecutableFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Where the shell would find `name`: itself when it holds a "/", else the first executable file
// of that name in the folders of PATH (an empty entry is the current folder). Empty when none.
std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* pathVariable = std::getenv("PATH");
    std::string folders = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

bool ValidName(std::string_view name) {
    return !name.empty() && name.find('=') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

PosixProcesses::PosixProcesses() : reaper(std::make_shared<ChildReaper>()) {}

PosixProcesses::~PosixProcesses() { reaper->ReapFinished(); }

std::unique_ptr<ChildProcess> PosixProcesses::StartChecked(const std::string& program,
                                                           const ProgramCheck& check,
                                                           bool& refused, std::string& error) {
    refused = false;
    reaper->ReapFinished();

    // O_NONBLOCK: a FIFO under the updater's name must not hold the open; it is refused below.
    // O_NOFOLLOW: a link planted under the updater's name does not lead to another file.
    Descriptor file(
        ::open(program.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (file.get() < 0) {
        error = "cannot open " + program + ": " + ErrnoText(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        error = "cannot examine " + program + ": " + ErrnoText(errno);
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        error = program + " is not a file";
        return nullptr;
    }
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = "cannot read " + program + ": " + ErrnoText(errno);
        return nullptr;
    }
    if (check) {
        DescriptorReader reader(file.get());
        if (!check(reader)) {
            refused = true;
            error = program + " is not the program that was checked";
            return nullptr;
        }
    }
    char magic[2] = {0, 0};
    ssize_t got;
    do {
        got = ::pread(file.get(), magic, sizeof magic, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        error = "cannot read " + program + ": " + ErrnoText(errno);
        return nullptr;
    }
    bool windowsProgram = got == 2 && magic[0] == 'M' && magic[1] == 'Z';

    std::vector<std::string> args;
    std::string executable;
    if (windowsProgram) {
        const char* named = std::getenv("FABLEWRIGHT_WINE");
        std::string wine = (named && *named) ? named : "wine";
        executable = FindProgram(wine);
        if (executable.empty()) {
            error = "cannot run the Windows program " + program + ": " + wine +
                    " was not found" + (named && *named ? "" : " on PATH");
            return nullptr;
        }
        args = {executable, program};
    } else {
        // A downloaded file has no execute permission yet; one we cannot change (another
        // user's) is fine when we may run it all the same, which the start itself finds out.
        if ((status.st_mode & S_IXUSR) == 0) {
            [[maybe_unused]] int changed = ::fchmod(file.get(), (status.st_mode & 07777) | S_IXUSR);
        }
        // Started from the descriptor that was checked, never by its name again. A script's
        // interpreter opens the name it is given, so the descriptor stays open, at a fixed
        // number, across the start; a program simply has it open and may ignore it.
        executable = "/proc/self/fd/" + std::to_string(kProgramDescriptor);
        args = {program};
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    SpawnAttributes attributes;
    SpawnFileActions actions;
    if (attributes.get() == nullptr || actions.get() == nullptr) {
        error = "cannot prepare to start " + program;
        return nullptr;
    }
    // The updater starts with no signal blocked or ignored, whatever this program set up for
    // itself (a network library ignores SIGPIPE, for one).
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.get(), &all);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int firstClosed = 3;
    if (!windowsProgram) {
        ::posix_spawn_file_actions_adddup2(actions.get(), file.get(), kProgramDescriptor);
        firstClosed = kProgramDescriptor + 1;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our handles are not inherited: the updater gets standard input, output and error, and its
    // own file.
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), firstClosed);
#else
    (void)firstClosed;
#endif

    pid_t pid = 0;
    int result = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(),
                               argv.data(), environ);
    if (result != 0) {
        error = "cannot start " + program + ": " + ErrnoText(result);
        return nullptr;
    }
    return std::make_unique<PosixChildProcess>(pid, reaper);
}

bool PosixProcesses::SetEnvironmentVariable(std::string_view name, std::string_view value) {
    if (!ValidName(name) || value.find('\0') != std::string_view::npos) return false;
    std::string n(name);
    std::string v(value);
    return ::setenv(n.c_str(), v.c_str(), 1) == 0;
}

bool PosixProcesses::UnsetEnvironmentVariable(std::string_view name) {
    if (!ValidName(name)) return false;
    std::string n(name);
    return ::unsetenv(n.c_str()) == 0;
}

std::optional<std::string> PosixProcesses::GetEnvironmentVariable(std::string_view name) {
    if (!ValidName(name)) return std::nullopt;
    std::string n(name);
    const char* value = std::getenv(n.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace fw
