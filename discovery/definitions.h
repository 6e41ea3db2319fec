#pragma once
// The update definitions: "~"-separated records, one per line, read into the dialog's state.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "session/name_set.h"
#include "session/update_entry.h"

namespace fw {

// Splits a line into fields at any of the delimiter characters. A run of delimiters counts as
// one, and delimiters at the end give no further field.
class FieldTokenizer {
public:
    FieldTokenizer(std::string_view text, std::string_view delimiters)
        : text(text), delimiters(delimiters) {}
    // The next field, possibly empty (only the first can be); false at the end of the text, in
    // which case `field` is left untouched.
    bool NextField(std::string& field);

private:
    bool IsDelimiter(char c) const { return delimiters.find(c) != std::string_view::npos; }
    std::string_view text;
    std::string_view delimiters;
    std::size_t position = 0;
};

// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);

// A decimal number as the C library's strtol reads it on a platform with 32-bit long: leading
// blanks and a sign allowed, reading stops at the first other character, no digits give 0, and
// a number beyond the 32-bit range gives the nearest limit.
std::int32_t ParseDecimal32(std::string_view text);
// A hexadecimal number of 32 bits: leading blanks and a "0x" prefix allowed, reading stops at
// the first non-hexadecimal character, beyond 32 bits gives 0xFFFFFFFF. `digits` tells whether
// any hexadecimal digit was read.
std::uint32_t ParseHex32(std::string_view text, bool* digits = nullptr);

// What the records of one check change.
struct DefinitionsTarget {
    std::string& availableVersion;
    EntryArray& updateEntries;
    TextList& installedSystems;
    std::string& infoServer;
    std::string& infoPath;
    // When given, holds the same names as installedSystems and answers for it, so that many
    // "equiv" records do not each search the whole list.
    NameSet* installedIndex = nullptr;
};

enum class LineOutcome {
    kContinue,   // the line was used, or skipped
    kBadFormat,  // no keyword could be taken from the line
    kTooNew,     // an "updatever" record above the version this program reads
};

struct LineResult {
    LineOutcome outcome = LineOutcome::kContinue;
    std::string versionText;  // kTooNew: the version field as written
    // The line starts with a keyword this program reads. An answer without one such line is
    // not definitions at all (a portal's page, an empty body) and must not read as "no updates".
    bool known = false;
};

// The highest definitions format this program reads; also the application version.
inline constexpr int kHighestDefinitionsVersion = 3;

// Applies one line of the definitions (CR bytes already dropped).
LineResult ApplyDefinitionLine(std::string_view line, DefinitionsTarget& target);

}  // namespace fw
