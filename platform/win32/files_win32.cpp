#include "platform/win32/files_win32.h"

#include "platform/wildcard.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include <memory>
#include <vector>

#include "platform/win32/windows_win32.h"

// Security descriptors, which the lean Windows headers leave out.
#include <aclapi.h>
#include <sddl.h>

namespace fw {
namespace {

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};

class TokenHandle {
public:
    TokenHandle() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &handle)) handle = nullptr;
    }
    ~TokenHandle() {
        if (handle) CloseHandle(handle);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;
    HANDLE get() const { return handle; }

private:
    HANDLE handle = nullptr;
};

// The TOKEN_USER of this process (its SID inside), or empty.
std::vector<BYTE> CurrentUser() {
    TokenHandle token;
    DWORD size = 0;
    if (!token.get()) return {};
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    return buffer;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// Whether an existing folder's owner is `user` and its DACL lets nobody but the user, the
// system and the administrators change what is in it.
bool OnlyUserMayWrite(const std::string& path, PSID user) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS) {
        return false;
    }
    std::unique_ptr<void, LocalFreer> descriptor(raw);
    // No DACL at all grants everyone everything.
    if (!owner || !dacl || !EqualSid(owner, user)) return false;
    constexpr ACCESS_MASK kWriting = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kWriting) == 0 || EqualSid(sid, user) ||
            IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
            IsWellKnown(sid, WinCreatorOwnerSid)) {
            continue;
        }
        return false;
    }
    return true;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle(handle) {}
    ~FindHandle() {
        if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

// Written with _lcreat/_lwrite/_lclose.
class Win32WritableFile : public WritableFile {
public:
    explicit Win32WritableFile(HFILE file) : file(file) {}
    ~Win32WritableFile() override { Close(); }
    Win32WritableFile(const Win32WritableFile&) = delete;
    Win32WritableFile& operator=(const Win32WritableFile&) = delete;

    bool Write(const void* data, std::size_t size) override {
        if (file == HFILE_ERROR) return false;
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            // _lwrite takes at most a UINT and reports HFILE_ERROR (which is UINT_MAX) itself.
            UINT chunk = static_cast<UINT>(std::min<std::size_t>(size, 1u << 30));
            UINT written = _lwrite(file, bytes, chunk);
            if (written != chunk) return false;
            bytes += chunk;
            size -= chunk;
        }
        return true;
    }

    bool Close() override {
        if (file == HFILE_ERROR) return true;
        HFILE closing = file;
        file = HFILE_ERROR;
        return _lclose(closing) != HFILE_ERROR;
    }

private:
    HFILE file;
};

// Read in binary mode: a checksum must see the bytes, not the text translation.
class Win32ReadableFile : public ReadableFile {
public:
    explicit Win32ReadableFile(int fd) : fd(fd) {}
    ~Win32ReadableFile() override { _close(fd); }
    Win32ReadableFile(const Win32ReadableFile&) = delete;
    Win32ReadableFile& operator=(const Win32ReadableFile&) = delete;

    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX));
        int n = _read(fd, buffer, chunk);
        return n < 0 ? -1 : n;
    }

private:
    int fd;
};

// GetPrivateProfileStringA looks a relative name up in the Windows folder, not the current one.
std::string ProfileFullPath(const std::string& path) {
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

bool IsDiskFile(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

std::string LastComponent(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::vector<std::string> Win32Files::FindFiles(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data{};
    FindHandle find(FindFirstFileA(pattern.c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) return names;
    // The search also matches the short 8.3 names, so "*.gsi" finds "new.gsix" (short name
    // NEW~1.GSI); only names that match in full count.
    std::string wildcard = LastComponent(pattern);
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (!MatchesWildcard(name, wildcard)) continue;
        names.push_back(std::move(name));
    } while (FindNextFileA(find.get(), &data));
    return names;
}

std::string Win32Files::GetProfileString(const std::string& path, std::string_view section,
                                         std::string_view key, std::string_view defaultValue,
                                         std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    std::string s(section);
    std::string k(key);
    std::string d(defaultValue);
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(bufferSize, 1u << 24));
    std::string buffer(size, '\0');
    DWORD length = GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buffer.data(), size,
                                            ProfileFullPath(path).c_str());
    buffer.resize(std::min<DWORD>(length, size - 1));
    return buffer;
}

std::optional<std::vector<std::uint8_t>> Win32Files::GetFileVersionInfo(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<std::uint8_t> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return std::nullopt;
    return block;
}

std::optional<FileStatus> Win32Files::Stat(const std::string& path) {
    struct _stat64 status {};
    if (_stat64(path.c_str(), &status) != 0) return std::nullopt;
    FileStatus result;
    result.size = status.st_size;
    result.isDirectory = (status.st_mode & _S_IFDIR) != 0;
    return result;
}

bool Win32Files::CreateDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

PrivateFolder Win32Files::MakePrivateDirectory(const std::string& path) {
    std::vector<BYTE> token = CurrentUser();
    if (token.empty()) return PrivateFolder::kCannotCreate;
    PSID user = reinterpret_cast<TOKEN_USER*>(token.data())->User.Sid;
    char* sidText = nullptr;
    if (!ConvertSidToStringSidA(user, &sidText)) return PrivateFolder::kCannotCreate;
    std::unique_ptr<void, LocalFreer> sidOwner(sidText);
    // Protected (P): nothing is inherited from the install folder.
    std::string sddl = std::string("D:P(A;OICI;FA;;;") + sidText + ")";
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &raw,
                                                              nullptr)) {
        return PrivateFolder::kCannotCreate;
    }
    std::unique_ptr<void, LocalFreer> descriptor(raw);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, raw, FALSE};
    if (CreateDirectoryA(path.c_str(), &attributes)) return PrivateFolder::kReady;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return PrivateFolder::kCannotCreate;
    DWORD kind = GetFileAttributesA(path.c_str());
    // A file under the name is no folder to refuse: the first updater fails to be made there.
    if (kind == INVALID_FILE_ATTRIBUTES || (kind & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return PrivateFolder::kCannotCreate;
    }
    if ((kind & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !OnlyUserMayWrite(path, user)) {
        return PrivateFolder::kNotPrivate;
    }
    return PrivateFolder::kReady;
}

namespace {

// A link planted under a file's name (a symbolic link, a junction or a second hard link) is
// removed rather than written through: truncating it would truncate the file it leads to. The
// temp folder is the user's alone, so nobody else can plant one between this and the create.
void RemoveLinkUnder(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info {};
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && info.nNumberOfLinks <= 1) {
        return;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryA(path.c_str());
    } else {
        DeleteFileA(path.c_str());
    }
}

}  // namespace

std::unique_ptr<WritableFile> Win32Files::CreateFile(const std::string& path) {
    RemoveLinkUnder(path);
    HFILE file = _lcreat(path.c_str(), 0);  // a normal file; an existing one is truncated
    if (file == HFILE_ERROR) return nullptr;
    auto writable = std::make_unique<Win32WritableFile>(file);
    // A device or pipe under the name is no place for an updater.
    if (!IsDiskFile(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(file)))) return nullptr;
    return writable;
}

std::unique_ptr<ReadableFile> Win32Files::OpenForReading(const std::string& path) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return nullptr;
    auto readable = std::make_unique<Win32ReadableFile>(fd);
    // Only files on a disk are read: a pipe or device could keep a read waiting for good.
    if (!IsDiskFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)))) return nullptr;
    return readable;
}

namespace {

// A regular file on a disk, opened as itself: a reparse point (a link or junction) is opened
// rather than followed, and then refused. While it is written nobody else may write to it; a
// reader lets the one writer go on, so that a part being continued can be read back meanwhile.
HANDLE OpenPlainFile(const std::string& path, DWORD access, DWORD disposition) {
    DWORD share = access == GENERIC_READ ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    BY_HANDLE_FILE_INFORMATION info {};
    if (!IsDiskFile(handle) || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

HFILE AsHfile(HANDLE handle) {
    return static_cast<HFILE>(reinterpret_cast<std::intptr_t>(handle));
}

}  // namespace

std::unique_ptr<WritableFile> Win32Files::CreateNewFile(const std::string& path) {
    HANDLE handle = OpenPlainFile(path, GENERIC_WRITE, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32WritableFile>(AsHfile(handle));
}

std::unique_ptr<WritableFile> Win32Files::OpenForAppend(const std::string& path) {
    HANDLE handle = OpenPlainFile(path, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto file = std::make_unique<Win32WritableFile>(AsHfile(handle));
    if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return nullptr;
    }
    return file;
}

std::unique_ptr<ReadableFile> Win32Files::OpenForReadingNoFollow(const std::string& path) {
    HANDLE handle = OpenPlainFile(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32ReadableFile>(fd);
}

bool Win32Files::Rename(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Win32Files::Remove(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::string Win32Files::GetFileTitle(const std::string& path) {
    char title[MAX_PATH] = {};
    if (GetFileTitleA(path.c_str(), title, MAX_PATH) == 0) return title;
    return LastComponent(path);
}

namespace {

// A folder's identity: the volume and the file index, the same through any name of it (a
// short name, other letter case, a link).
struct FolderIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FolderIdentity&) const = default;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle; }

private:
    HANDLE handle;
};

std::optional<FolderIdentity> IdentityOf(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// A full path's nearest existing folder, and the names below it that do not exist yet.
struct ExistingPart {
    std::optional<FolderIdentity> identity;
    std::string rest;
};

ExistingPart SplitAtExisting(std::string head) {
    std::string rest;
    for (;;) {
        if (std::optional<FolderIdentity> identity = IdentityOf(head)) return {identity, rest};
        std::size_t separator = head.find_last_of('\\');
        if (separator == std::string::npos || separator + 1 == head.size()) break;
        rest = head.substr(separator) + rest;
        head.resize(separator);
        // "C:" alone names the drive's current folder; its root is meant.
        if (head.size() == 2 && head[1] == ':') head += '\\';
    }
    return {std::nullopt, head + rest};
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace

std::string Win32Files::FullPath(const std::string& path) {
    if (path.empty()) return {};
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::string full(needed, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    // A root keeps its separator ("C:\\"); any other folder loses it.
    while (full.size() > 3 && (full.back() == '\\' || full.back() == '/')) full.pop_back();
    return full;
}

bool Win32Files::SameFolder(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return a == b;
    std::string fullA = FullPath(a);
    std::string fullB = FullPath(b);
    if (fullA.empty() || fullB.empty()) return false;
    ExistingPart partA = SplitAtExisting(fullA);
    ExistingPart partB = SplitAtExisting(fullB);
    if (partA.identity.has_value() != partB.identity.has_value()) return false;
    if (partA.identity && *partA.identity != *partB.identity) return false;
    return EqualNoCase(partA.rest, partB.rest);
}

}  // namespace fw
