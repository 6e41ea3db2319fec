#pragma once
// What the file transfer decides without touching the network or the disk.

#include <string>
#include <string_view>

namespace fw {

// Whether `name`, which comes from the server, is a plain file name that stays inside the
// folder it is joined to: not empty, not "." or "..", without "/", "\", ":" or control
// characters, and, where Windows rules apply, not a reserved device name ("CON", "nul.txt").
bool IsSafeUpdaterFileName(std::string_view name, bool windowsRules);

// The file name of an updater: the part of `sourceUrl` after its last "/", or all of it.
std::string UpdaterFileName(std::string_view sourceUrl);

// Where an absolute address ("http://server/object", or "https://server/object" with `secure`)
// points. `absolute` is false for an object path on the update server, which is then `object`
// unchanged.
struct UpdaterSource {
    bool absolute = false;
    std::string server;
    std::string object;
    bool secure = false;
};
UpdaterSource SplitSourceUrl(std::string_view sourceUrl);

}  // namespace fw
