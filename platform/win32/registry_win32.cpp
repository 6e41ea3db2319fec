#include "platform/win32/registry_win32.h"

#include <climits>
#include <string>
#include <vector>

#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

class Win32RegistryKey : public RegistryKey {
public:
    explicit Win32RegistryKey(HKEY key) : key(key) {}
    ~Win32RegistryKey() override { RegCloseKey(key); }
    Win32RegistryKey(const Win32RegistryKey&) = delete;
    Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

    bool QueryValue(std::string_view subKey, std::string& value, std::size_t bufferSize) override {
        if (bufferSize == 0 || bufferSize > static_cast<std::size_t>(LONG_MAX)) return false;
        std::string name(subKey);
        std::vector<char> buffer(bufferSize, '\0');
        LONG size = static_cast<LONG>(bufferSize);
        // A value that does not fit is an error (ERROR_MORE_DATA), never a cut text.
        if (RegQueryValueA(key, name.empty() ? nullptr : name.c_str(), buffer.data(), &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        buffer.back() = '\0';
        value = buffer.data();  // the text ends at its first zero byte
        return true;
    }

    bool SetValue(std::string_view subKey, std::string_view value) override {
        std::string name(subKey);
        std::string data(value);
        if (data.size() >= static_cast<std::size_t>(ULONG_MAX)) return false;
        return RegSetValueA(key, name.empty() ? nullptr : name.c_str(), REG_SZ, data.c_str(),
                            static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }

private:
    HKEY key;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Registry::CreateKey(std::string_view path) {
    std::string name(path);
    if (!root.empty()) name = name.empty() ? root : root + "\\" + name;
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, name.c_str(), &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegistryKey>(key);
}

bool DeleteUserKeyTree(const std::string& path) {
    if (path.empty()) return false;  // never the whole hive
    return RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()) == ERROR_SUCCESS;
}

}  // namespace fw
