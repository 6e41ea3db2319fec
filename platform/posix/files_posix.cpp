#include "platform/posix/files_posix.h"

#include "platform/wildcard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <cstring>

#include "platform/posix/ini_reader.h"
#include "platform/posix/pe_version_reader.h"

namespace fw {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd(other.Release()) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd = other.Release();
        }
        return *this;
    }

    int get() const { return fd; }
    int Release() {
        int released = fd;
        fd = -1;
        return released;
    }
    bool valid() const { return fd >= 0; }
    bool Close() {
        if (fd < 0) return true;
        int result = ::close(fd);
        fd = -1;
        return result == 0;
    }

  private:
    int fd;
};

class DirectoryHandle {
  public:
    explicit DirectoryHandle(const std::string& path) : dir(::opendir(path.c_str())) {}
    ~DirectoryHandle() {
        if (dir) ::closedir(dir);
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    DIR* get() const { return dir; }

  private:
    DIR* dir;
};

class PosixWritableFile : public WritableFile {
  public:
    explicit PosixWritableFile(int fd) : fd(fd) {}
    bool Write(const void* data, std::size_t size) override {
        if (!fd.valid()) return false;
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            ssize_t written = ::write(fd.get(), bytes, size);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return false;
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }
    bool Close() override { return fd.Close(); }

  private:
    FileDescriptor fd;
};

class PosixReadableFile : public ReadableFile {
  public:
    explicit PosixReadableFile(int fd) : fd(fd) {}
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        for (;;) {
            ssize_t count = ::read(fd.get(), buffer, size);
            if (count < 0 && errno == EINTR) continue;
            return count < 0 ? -1 : static_cast<std::ptrdiff_t>(count);
        }
    }

  private:
    FileDescriptor fd;
};

// Opens `path` only if it is a regular file (a symbolic link to one included). The open itself
// never blocks: a FIFO would wait for a writer, a device might wait for anything. Invalid when
// the path cannot be opened or is something else.
FileDescriptor OpenRegularFile(const std::string& path, int mode, struct stat& status) {
    FileDescriptor fd(::open(path.c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
    if (!fd.valid()) return fd;
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fd.Close();
    }
    return fd;
}

// The whole of a regular file of at most `limit` bytes; nothing when it cannot be read, is not
// a regular file or is larger.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::uint64_t limit) {
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_RDONLY, status);
    if (!fd.valid() || status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > limit) {
        return std::nullopt;
    }
    // The size is a hint: a file that changes while it is read gets what is there, within the
    // limit.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (data.size() >= limit) break;
            data.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(limit, data.size() + 4096)));
        }
        ssize_t count = ::read(fd.get(), data.data() + filled, data.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    data.resize(filled);
    return data;
}

}  // namespace

std::vector<std::string> PosixFiles::FindFiles(const std::string& pattern) {
    std::size_t slash = pattern.rfind('/');
    std::string folder = slash == std::string::npos ? std::string(".")
                         : slash == 0                 ? std::string("/")
                                                      : pattern.substr(0, slash);
    std::string_view namePattern(pattern);
    if (slash != std::string::npos) namePattern.remove_prefix(slash + 1);

    std::vector<std::string> names;
    if (namePattern.empty()) return names;
    DirectoryHandle dir(folder);
    if (!dir.get()) return names;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (MatchesWildcard(name, namePattern)) names.emplace_back(name);
    }
    return names;
}

std::string PosixFiles::GetProfileString(const std::string& path, std::string_view section,
                                         std::string_view key, std::string_view defaultValue,
                                         std::size_t bufferSize) {
    std::optional<std::vector<std::uint8_t>> data = ReadWholeFile(path, kMaxProfileSize);
    std::string_view text;
    if (data) text = std::string_view(reinterpret_cast<const char*>(data->data()), data->size());
    return ReadProfileString(text, section, key, defaultValue, bufferSize);
}

std::optional<std::vector<std::uint8_t>> PosixFiles::GetFileVersionInfo(const std::string& path) {
    std::optional<std::vector<std::uint8_t>> data = ReadWholeFile(path, kMaxExecutableSize);
    if (!data) return std::nullopt;
    return ExtractVersionResource(*data);
}

std::optional<FileStatus> PosixFiles::Stat(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileStatus{static_cast<std::int64_t>(status.st_size), S_ISDIR(status.st_mode)};
}

bool PosixFiles::CreateDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool CreateOwnerOnlyFile(const std::string& path, std::string_view text, std::string& error) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    // The umask may have taken bits away, never added any; make sure of the mode all the same.
    bool ok = ::fchmod(fd.get(), 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    int saved = errno;
    if (!fd.Close()) ok = false;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(saved ? saved : EIO);
        ::unlink(path.c_str());
    }
    return ok;
}

PrivateFolder PosixFiles::MakePrivateDirectory(const std::string& path) {
    // The umask can only take bits away from 0700.
    if (::mkdir(path.c_str(), 0700) == 0) return PrivateFolder::kReady;
    if (errno != EEXIST) return PrivateFolder::kCannotCreate;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return PrivateFolder::kCannotCreate;
    // A file under the name is no folder to refuse: the first updater fails to be made there.
    if (S_ISREG(status.st_mode)) return PrivateFolder::kCannotCreate;
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return PrivateFolder::kNotPrivate;
    }
    // Ours, left readable to others by an older version: ours alone from now on.
    if ((status.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        return PrivateFolder::kNotPrivate;
    }
    return PrivateFolder::kReady;
}

std::unique_ptr<WritableFile> PosixFiles::CreateFile(const std::string& path) {
    // Truncated only once it is known to be a regular file of its own. A link planted in its
    // place, symbolic or hard, is taken away rather than written through.
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_NOFOLLOW, status);
    if (!fd.valid() || status.st_nlink > 1) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 ||
            !(S_ISLNK(link.st_mode) || (S_ISREG(link.st_mode) && link.st_nlink > 1)) ||
            ::unlink(path.c_str()) != 0) {
            return nullptr;
        }
        fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, status);
    }
    if (!fd.valid() || ::ftruncate(fd.get(), 0) != 0) return nullptr;
    return std::make_unique<PosixWritableFile>(fd.Release());
}

std::unique_ptr<ReadableFile> PosixFiles::OpenForReading(const std::string& path) {
    // Folders open on POSIX but not on Windows; nobody reads one as a file, nor a FIFO or device.
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_RDONLY, status);
    if (!fd.valid()) return nullptr;
    auto file = std::make_unique<PosixReadableFile>(fd.get());
    // Ownership of the descriptor passes to the file.
    fd.Release();
    return file;
}

std::unique_ptr<WritableFile> PosixFiles::CreateNewFile(const std::string& path) {
    // O_EXCL fails on any existing name, a dangling link included.
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, status);
    if (!fd.valid()) return nullptr;
    return std::make_unique<PosixWritableFile>(fd.Release());
}

std::unique_ptr<WritableFile> PosixFiles::OpenForAppend(const std::string& path) {
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_WRONLY | O_APPEND | O_NOFOLLOW, status);
    if (!fd.valid()) return nullptr;
    return std::make_unique<PosixWritableFile>(fd.Release());
}

std::unique_ptr<ReadableFile> PosixFiles::OpenForReadingNoFollow(const std::string& path) {
    struct stat status {};
    FileDescriptor fd = OpenRegularFile(path, O_RDONLY | O_NOFOLLOW, status);
    if (!fd.valid()) return nullptr;
    return std::make_unique<PosixReadableFile>(fd.Release());
}

bool PosixFiles::Rename(const std::string& from, const std::string& to) {
    // A link at `to` is replaced, not followed.
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFiles::Remove(const std::string& path) {
    // Files only, as the Windows runtime's remove(): an empty folder stays.
    return ::unlink(path.c_str()) == 0;
}

std::string PosixFiles::GetFileTitle(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

namespace {

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string PosixFiles::FullPath(const std::string& path) {
    if (path.empty()) return {};
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error) return {};
    return WithoutTrailingSeparators(full.lexically_normal().string());
}

bool PosixFiles::SameFolder(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return a == b;
    // Two folders that exist are the same when they are the same object, however reached.
    struct stat first {};
    struct stat second {};
    bool firstExists = ::stat(a.c_str(), &first) == 0;
    bool secondExists = ::stat(b.c_str(), &second) == 0;
    if (firstExists && secondExists) {
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }
    if (firstExists != secondExists) return false;
    // Neither exists: the links of the part that does are resolved, the rest taken as written.
    std::error_code firstError;
    std::error_code secondError;
    std::filesystem::path resolvedFirst = std::filesystem::weakly_canonical(
        std::filesystem::absolute(a, firstError), firstError);
    std::filesystem::path resolvedSecond = std::filesystem::weakly_canonical(
        std::filesystem::absolute(b, secondError), secondError);
    if (firstError || secondError) return false;
    return WithoutTrailingSeparators(resolvedFirst.lexically_normal().string()) ==
           WithoutTrailingSeparators(resolvedSecond.lexically_normal().string());
}

}  // namespace fw
