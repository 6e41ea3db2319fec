#include "platform/posix/user_folders_posix.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/path.h"

namespace fw {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty()) return home;
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
    while (size <= 1024 * 1024) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* result = nullptr;
        int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result);
        if (error == ERANGE) {
            size *= 2;
            continue;
        }
        if (error != 0 || !result || !result->pw_dir) return {};
        return result->pw_dir;
    }
    return {};
}

std::string UserCacheFolder() {
    std::string relative = JoinPath(kMakerFolder, kProgramFolder);
    // As the XDG base directory rules say, a relative or empty value is ignored.
    std::string cache = Environment("XDG_CACHE_HOME");
    if (!cache.empty() && cache.front() == '/') return JoinPath(cache, relative);
    std::string home = HomeFolder();
    if (home.empty() || home.front() != '/') return {};
    return JoinPath(JoinPath(home, ".cache"), relative);
}

}  // namespace fw
