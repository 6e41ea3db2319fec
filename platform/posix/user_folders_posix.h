#pragma once
// This user's folders as the XDG base directory rules name them, and the program's names in
// them: the maker's folder holds the settings of all its programs, each program keeps its own
// files in a folder of its own below it.

#include <string>
#include <string_view>

namespace fw {

inline constexpr std::string_view kMakerFolder = "Corvallen";
inline constexpr std::string_view kProgramFolder = "Fablewright";

// $HOME, else the home folder of the user database; empty when neither is known.
std::string HomeFolder();
// $XDG_CACHE_HOME (when absolute), else $HOME/.cache, with the maker's and the program's
// folders below it; empty without a home.
std::string UserCacheFolder();

}  // namespace fw
