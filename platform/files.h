#pragma once
// Files and folders: directory search, profile strings, version blocks of executables, status,
// creation, writing, reading and removal.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

struct FileStatus {
    std::int64_t size = 0;
    bool isDirectory = false;
};

class WritableFile {
public:
    virtual ~WritableFile() = default;  // closes the file
    // Writes all `size` bytes; false when not all of them could be written.
    virtual bool Write(const void* data, std::size_t size) = 0;
    // Closes the file now; false when the last bytes could not be written.
    virtual bool Close() = 0;
};

class ReadableFile {
public:
    virtual ~ReadableFile() = default;  // closes the file
    // Up to `size` bytes: the count read, 0 at the end, -1 on failure.
    virtual std::ptrdiff_t Read(void* buffer, std::size_t size) = 0;
};

// What became of a folder that must be this user's alone.
enum class PrivateFolder {
    kReady,        // made for this user alone, or already this user's and writable by nobody else
    kCannotCreate, // missing and cannot be made, or a file stands under its name
    kNotPrivate,   // there, but another user owns it, others may write to it, or it is no folder
};

class Files {
public:
    virtual ~Files() = default;

    // The names (without folder) of the entries of the folder of `pattern` whose names match its
    // last component ("*" and "?" wildcards), compared without regard to case, in the order the
    // platform's search yields them. Sub-folders are not searched.
    virtual std::vector<std::string> FindFiles(const std::string& pattern) = 0;

    // GetPrivateProfileStringA: the value of `key` in `section` of the INI file at `path`, or
    // `defaultValue`; cut to bufferSize - 1 characters.
    virtual std::string GetProfileString(const std::string& path, std::string_view section,
                                         std::string_view key, std::string_view defaultValue,
                                         std::size_t bufferSize) = 0;

    // The version-information block of an executable as GetFileVersionInfoA returns it, or
    // nothing when the file has none (size 0) or it cannot be read.
    virtual std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string& path) = 0;

    virtual std::optional<FileStatus> Stat(const std::string& path) = 0;
    // Creates the last level of `path`; false when it cannot (also when it exists).
    virtual bool CreateDirectory(const std::string& path) = 0;
    // Creates `path` readable and writable by this user alone (0700; on Windows a DACL that
    // grants access to this user only), or checks the folder already there.
    virtual PrivateFolder MakePrivateDirectory(const std::string& path) = 0;
    // Creates or truncates `path` for writing; nullptr on failure. A symbolic link in its
    // place is removed, never followed: what it points at is not written.
    virtual std::unique_ptr<WritableFile> CreateFile(const std::string& path) = 0;
    virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) = 0;
    virtual bool Remove(const std::string& path) = 0;

    // For files kept between runs in a folder others might reach: none of these goes through a
    // symbolic link (or, on Windows, any reparse point) at `path`. Hosts override them; the
    // defaults here are what plain files allow.
    // Creates `path` for writing only when nothing has that name yet; nullptr otherwise.
    virtual std::unique_ptr<WritableFile> CreateNewFile(const std::string& path) {
        if (Stat(path)) return nullptr;
        return CreateFile(path);
    }
    // The regular file at `path`, opened to write after its last byte; nullptr when there is none.
    virtual std::unique_ptr<WritableFile> OpenForAppend(const std::string& /*path*/) {
        return nullptr;
    }
    // The regular file at `path`, opened for reading; nullptr when there is none.
    virtual std::unique_ptr<ReadableFile> OpenForReadingNoFollow(const std::string& path) {
        return OpenForReading(path);
    }
    // Gives the file `from` the name `to`, replacing a file of that name; false when it cannot.
    virtual bool Rename(const std::string& from, const std::string& to);
    // The file's name as a user would see it (GetFileTitleA): the last path component.
    virtual std::string GetFileTitle(const std::string& path) = 0;

    // `path` made absolute against the current folder, with "." and ".." taken out and no
    // separator at the end; empty when it cannot be. Hosts override it; the text itself here.
    virtual std::string FullPath(const std::string& path) { return path; }
    // Whether `a` and `b` name the same folder as the file system sees it: whatever the
    // separators, "." and "..", a separator at the end and, where they exist, symbolic links;
    // on Windows also letter case and short names. A folder that does not exist yet is compared
    // by its nearest existing parent and the rest of its name. Hosts override it; the text
    // itself here.
    virtual bool SameFolder(const std::string& a, const std::string& b) { return a == b; }
};

inline bool Files::Rename(const std::string& from, const std::string& to) {
    std::unique_ptr<ReadableFile> source = OpenForReading(from);
    std::unique_ptr<WritableFile> target = source ? CreateFile(to) : nullptr;
    if (!target) return false;
    char block[4096];
    for (;;) {
        std::ptrdiff_t count = source->Read(block, sizeof block);
        if (count < 0) return false;
        if (count == 0) break;
        if (!target->Write(block, static_cast<std::size_t>(count))) return false;
    }
    source.reset();
    return target->Close() && Remove(from);
}

}  // namespace fw
