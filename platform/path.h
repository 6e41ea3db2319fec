#pragma once
// Paths are joined with the host's separator in one place. The texts that a user or a server
// sees keep their own forms.

#include <string>
#include <string_view>

namespace fw {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

inline std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += kPathSeparator;
    path += name;
    return path;
}

}  // namespace fw
