#pragma once
// File-name patterns as the Windows directory search reads them, for every host.

#include <string_view>

namespace fw {

// Whether `name` matches `pattern` ("*" any run, "?" one character) without regard to ASCII
// case; "*.*" matches every name, as it does on Windows. Linear in practice, never exponential.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace fw
