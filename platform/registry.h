#pragma once
// The current user's settings key, with the semantics of RegCreateKeyA, RegQueryValueA,
// RegSetValueA and RegCloseKey on default (unnamed) values of sub-keys.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace fw {

class RegistryKey {
public:
    virtual ~RegistryKey() = default;  // closes the key
    // Reads the default value of `subKey` (a path below this key, "" for the key itself).
    // Fails when the sub-key is missing or when the value with its terminator does not fit
    // `bufferSize` bytes. A sub-key without a default value reads as empty text, as
    // RegQueryValueA does.
    virtual bool QueryValue(std::string_view subKey, std::string& value,
                            std::size_t bufferSize) = 0;
    // Writes the default value of `subKey`, creating the sub-key when it is missing.
    virtual bool SetValue(std::string_view subKey, std::string_view value) = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // Opens `path` below HKEY_CURRENT_USER, creating it when it does not exist; nullptr when
    // that fails. Key names compare without regard to case.
    virtual std::unique_ptr<RegistryKey> CreateKey(std::string_view path) = 0;
};

}  // namespace fw
