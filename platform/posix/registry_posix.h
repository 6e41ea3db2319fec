#pragma once
// The current user's settings key on a POSIX host: one text file in the registry export format
// (see reg_file.h), read afresh for every operation and replaced atomically on every change, so
// that other processes' changes are seen and a crash never leaves a torn file.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace fw {

class PosixRegistry : public Registry {
  public:
    // A change waits at most 10 s for another process's lock on the settings, and gives up
    // sooner once `giveUp` says so (a console run asked to stop); it then fails.
    explicit PosixRegistry(std::string filePath, std::function<bool()> giveUp = {});

    // FABLEWRIGHT_REGISTRY when set, else $XDG_CONFIG_HOME/Corvallen/registry.reg, else
    // ~/.config/Corvallen/registry.reg. Empty when no home folder can be found at all.
    static std::string DefaultPath();

    // A missing file is an empty registry. A file that cannot be read or is not a valid
    // export fails the open, and is never written over.
    std::unique_ptr<RegistryKey> CreateKey(std::string_view path) override;

    const std::string& filePath() const { return file; }

  private:
    std::string file;
    std::function<bool()> giveUp;
};

}  // namespace fw
