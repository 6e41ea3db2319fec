#pragma once
// The profile-string lookup of an INI file, over its text, with the rules of the Windows profile
// reader that template files were written for.

#include <cstddef>
#include <string>
#include <string_view>

namespace fw {

// The value of `key` in the first section named `section` of `iniText`, or `defaultValue`
// (without its trailing spaces) when there is no such section or key. Section and key names
// compare without regard to ASCII case and ignore surrounding blanks ("[ Configuration ]",
// " GameSystem = x"); keys before the first section header belong to the section named "".
// Lines end at LF or CR; lines starting with ';' are comments; a leading UTF-8 byte-order mark
// is skipped. The value is the text after the first '=' with blanks trimmed and one pair of
// matching enclosing quotes (' or ") removed; a NUL byte ends it. Within the section, the first
// line naming the key decides: one without '=' gives the default. The result is cut to
// `bufferSize` - 1 bytes, as a buffer of that size with its terminator would hold it.
std::string ReadProfileString(std::string_view iniText, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize);

}  // namespace fw
