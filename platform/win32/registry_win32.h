#pragma once
// The current user's part of the Windows registry.

#include <string>

#include "platform/registry.h"

namespace fw {

class Win32Registry : public Registry {
public:
    // Keys are opened below `root`, a sub-key of HKEY_CURRENT_USER ("" for the hive itself);
    // tests give each run a root of its own.
    explicit Win32Registry(std::string root = {}) : root(std::move(root)) {}
    std::unique_ptr<RegistryKey> CreateKey(std::string_view path) override;

private:
    std::string root;
};

// Deletes `path` below HKEY_CURRENT_USER with all its sub-keys; false when it cannot.
bool DeleteUserKeyTree(const std::string& path);

}  // namespace fw
