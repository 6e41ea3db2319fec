#pragma once
// Reading the header lines of an answer, the same on every host.

#include <string>
#include <string_view>

namespace fw {

// The value of the first header line called `name` (compared without regard to case) in
// `headers`, lines separated by LF or CR LF, the status line included or not; blanks around the
// value dropped. False when there is no such line.
bool FindHeaderValue(std::string_view headers, std::string_view name, std::string& value);

}  // namespace fw
