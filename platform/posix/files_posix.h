#pragma once
// Files and folders on a POSIX host, with the behaviour of the Windows calls the program was
// written against: case-blind directory search, the profile reader's rules, version blocks read
// from the executable's own resources.

#include "platform/files.h"

namespace fw {

// Creates `path` for its owner alone (0600 from the first byte, exclusively, never through a
// symbolic link) and writes `text` into it; on failure nothing is left and `error` says why.
bool CreateOwnerOnlyFile(const std::string& path, std::string_view text, std::string& error);

class PosixFiles : public Files {
  public:
    // Executables larger than this are not searched for version information.
    static constexpr std::uint64_t kMaxExecutableSize = 64ull << 20;
    // Profile files larger than this are treated as unreadable.
    static constexpr std::uint64_t kMaxProfileSize = 16ull << 20;

    std::vector<std::string> FindFiles(const std::string& pattern) override;
    std::string GetProfileString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view defaultValue,
                                 std::size_t bufferSize) override;
    std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string& path) override;
    std::optional<FileStatus> Stat(const std::string& path) override;
    bool CreateDirectory(const std::string& path) override;
    PrivateFolder MakePrivateDirectory(const std::string& path) override;
    std::unique_ptr<WritableFile> CreateFile(const std::string& path) override;
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    bool Remove(const std::string& path) override;
    std::unique_ptr<WritableFile> CreateNewFile(const std::string& path) override;
    std::unique_ptr<WritableFile> OpenForAppend(const std::string& path) override;
    std::unique_ptr<ReadableFile> OpenForReadingNoFollow(const std::string& path) override;
    bool Rename(const std::string& from, const std::string& to) override;
    std::string GetFileTitle(const std::string& path) override;
    std::string FullPath(const std::string& path) override;
    bool SameFolder(const std::string& a, const std::string& b) override;
};

}  // namespace fw
