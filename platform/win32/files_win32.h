#pragma once
// Files and folders through the Windows calls and the C runtime of Windows.

#include "platform/files.h"

namespace fw {

class Win32Files : public Files {
public:
    std::vector<std::string> FindFiles(const std::string& pattern) override;
    std::string GetProfileString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view defaultValue,
                                 std::size_t bufferSize) override;
    std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string& path) override;
    std::optional<FileStatus> Stat(const std::string& path) override;
    bool CreateDirectory(const std::string& path) override;
    // New: a protected DACL with one entry, full control for this user. Already there: it must
    // be a folder (not a link) owned by this user whose DACL lets nobody else write, save the
    // system and the administrators.
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
