#include "platform/posix/registry_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/path.h"
#include "platform/posix/reg_file.h"
#include "platform/posix/user_folders_posix.h"

namespace fw {
namespace {

constexpr const char* kPathVariable = "FABLEWRIGHT_REGISTRY";
constexpr std::string_view kFileName = "registry.reg";
// Another process holding the settings lock longer than this is taken as stuck: the change
// fails rather than hold the program for ever. The lock is tried again this often meanwhile.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(50);

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : value(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return value; }
    bool valid() const { return value >= 0; }
    // Closes now; false when the close reported an error (data may not have been written).
    bool Close() {
        int fd = std::exchange(value, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int value;
};

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// Holds an exclusive lock on the file's folder, so that two of our processes changing the
// registry at once do not lose one of the changes. The lock lives on the folder rather than on
// the file because the file is replaced by every write. Where the file system has no locks we
// go on without one: the atomic rename still keeps the file whole.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder)
        : fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

    // False when another process kept the lock for the whole wait, or `giveUp` said so.
    bool Acquire(const std::function<bool()>& giveUp) {
        if (!fd.valid()) return true;
        auto until = std::chrono::steady_clock::now() + kLockWait;
        for (;;) {
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) return true;  // no locks here
            if (std::chrono::steady_clock::now() >= until || (giveUp && giveUp())) return false;
            std::this_thread::sleep_for(kLockRetry);
        }
    }

  private:
    UniqueFd fd;  // closing it releases the lock
};

// Removes a temporary file unless it was renamed into place.
class TempFileGuard {
  public:
    explicit TempFileGuard(std::string path) : path(std::move(path)) {}
    ~TempFileGuard() {
        if (!path.empty()) ::unlink(path.c_str());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Release() { path.clear(); }

  private:
    std::string path;
};

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the folder and the folders above it as needed, readable by the user alone: the
// registry is private to the user.
bool EnsureFolder(const std::string& folder) {
    if (IsFolder(folder)) return true;
    std::size_t pos = 0;
    while (true) {
        pos = folder.find('/', pos + 1);
        std::string prefix = folder.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (pos == std::string::npos) break;
    }
    return IsFolder(folder);
}

// Writes go to the file a symbolic link points at, so that the link stays a link.
std::string WriteTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, FreeDeleter> real(::realpath(path.c_str(), nullptr));
        if (real) return real.get();
    }
    return path;
}

enum class LoadResult { kLoaded, kMissing, kFailed };

LoadResult LoadFile(const std::string& path, std::string& text) {
    text.clear();
    if (path.empty()) return LoadResult::kFailed;
    // O_NONBLOCK keeps a FIFO in place of the file from blocking the open; it is refused below.
    int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    int openError = errno;
    UniqueFd fd(raw);
    if (!fd.valid()) return openError == ENOENT ? LoadResult::kMissing : LoadResult::kFailed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > kMaxRegFileSize) {
        return LoadResult::kFailed;
    }
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LoadResult::kFailed;
        }
        if (n == 0) break;
        // The file may have grown since fstat.
        if (text.size() + static_cast<std::size_t>(n) > kMaxRegFileSize) return LoadResult::kFailed;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return LoadResult::kLoaded;
}

// The registry as the file holds it now: an empty one when there is no file, nothing when the
// file cannot be read or is not a valid export.
std::optional<RegDocument> ReadDocument(const std::string& path) {
    std::string text;
    switch (LoadFile(path, text)) {
        case LoadResult::kMissing:
            return NewRegDocument();
        case LoadResult::kFailed:
            return std::nullopt;
        case LoadResult::kLoaded:
            break;
    }
    return ParseRegFile(text).document;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Replaces `target` with `text` so that a reader sees either the old file or the new one, and
// a crash at any point leaves one of them whole.
bool ReplaceFile(const std::string& target, std::string_view text) {
    std::string folder = FolderOf(target);
    std::string pattern = JoinPath(folder, "." + NameOf(target) + ".XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    TempFileGuard guard(name.data());

    struct stat st {};
    mode_t mode = 0600;
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    ::fchmod(fd.get(), mode);  // on failure the file keeps the private mode of mkostemp

    if (!WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0 || !fd.Close()) return false;
    if (::rename(name.data(), target.c_str()) != 0) return false;
    guard.Release();

    // Makes the rename itself durable.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    return true;
}

// Re-reads the file, lets `change` alter it and writes it back when it changed. Another process
// may have changed the file since we last read it; its changes survive. A file that cannot be
// read or parsed is never written over.
bool ModifyFile(const std::string& file, const std::function<bool()>& giveUp,
                const std::function<bool(RegDocument&)>& change) {
    if (file.empty()) return false;
    std::string target = WriteTarget(file);
    std::string folder = FolderOf(target);
    if (!EnsureFolder(folder)) return false;
    FolderLock lock(folder);
    if (!lock.Acquire(giveUp)) return false;
    std::optional<RegDocument> document = ReadDocument(target);
    if (!document) return false;
    if (!change(*document)) return true;
    std::string text = SerializeRegFile(*document);
    // A file we would refuse to read back is not written.
    if (text.size() > kMaxRegFileSize) return false;
    return ReplaceFile(target, text);
}

class PosixRegistryKey : public RegistryKey {
  public:
    PosixRegistryKey(std::string file, std::vector<std::string> names,
                     std::function<bool()> giveUp)
        : file(std::move(file)), names(std::move(names)), giveUp(std::move(giveUp)) {}

    bool QueryValue(std::string_view subKey, std::string& value, std::size_t bufferSize) override {
        value.clear();  // a failed read leaves no partial text behind
        std::vector<std::string> path;
        if (!FullPath(subKey, path)) return false;
        std::optional<RegDocument> document = ReadDocument(file);
        if (!document) return false;
        RegDefaultValue found = FindRegDefault(*document, path);
        switch (found.state) {
            case RegDefaultState::kNoKey:
                return false;
            case RegDefaultState::kNotText:
                // Nothing we could show as a folder; another sub-key may still give one.
                return false;
            case RegDefaultState::kNoValue:
                // RegQueryValueA succeeds with an empty text for a key that exists without a
                // default value, so a key without one counts as found, just like an empty value.
                return bufferSize >= 1;
            case RegDefaultState::kText:
                // The text and its terminator must fit, or RegQueryValueA reports
                // ERROR_MORE_DATA.
                if (found.text.size() >= bufferSize) return false;
                value = std::move(found.text);
                return true;
        }
        return false;
    }

    bool SetValue(std::string_view subKey, std::string_view value) override {
        // RegSetValueA takes a zero-terminated text.
        std::string_view text = value.substr(0, value.find('\0'));
        // A line end cannot be written inside a quoted value of the format; refusing the write
        // keeps the file readable.
        if (!RegValueStorable(text)) return false;
        std::vector<std::string> path;
        if (!FullPath(subKey, path)) return false;
        return ModifyFile(file, giveUp, [&](RegDocument& document) {
            return SetRegDefault(document, path, text);
        });
    }

  private:
    bool FullPath(std::string_view subKey, std::vector<std::string>& path) const {
        std::vector<std::string> below;
        if (!SplitRegKeyPath(subKey, below)) return false;
        path = names;
        path.insert(path.end(), below.begin(), below.end());
        return true;
    }

    std::string file;
    std::vector<std::string> names;
    std::function<bool()> giveUp;
};

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

PosixRegistry::PosixRegistry(std::string filePath, std::function<bool()> giveUp)
    : file(std::move(filePath)), giveUp(std::move(giveUp)) {}

std::string PosixRegistry::DefaultPath() {
    std::string path = Environment(kPathVariable);
    if (!path.empty()) return path;
    std::string relative = JoinPath(kMakerFolder, kFileName);
    // As the XDG base directory rules say, a relative or empty value is ignored.
    std::string config = Environment("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') return JoinPath(config, relative);
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return JoinPath(JoinPath(home, ".config"), relative);
}

std::unique_ptr<RegistryKey> PosixRegistry::CreateKey(std::string_view path) {
    std::vector<std::string> names;
    if (!SplitRegKeyPath(path, names)) return nullptr;
    std::optional<RegDocument> document = ReadDocument(file);
    if (!document) return nullptr;
    // RegCreateKeyA creates a missing key, and so the file that holds it.
    if (!RegKeyExists(*document, names) &&
        !ModifyFile(file, giveUp, [&](RegDocument& d) { return AddRegKey(d, names); })) {
        return nullptr;
    }
    return std::make_unique<PosixRegistryKey>(file, std::move(names), giveUp);
}

}  // namespace fw
