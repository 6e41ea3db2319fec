#pragma once
// The registry export format ("Windows Registry Editor Version 5.00") as a document: parsing text
// into sections and value lines, the default values below HKEY_CURRENT_USER, and writing the
// document back. Everything here works on text only, so it can be fed any bytes.
//
// Lines that are not ours to change (named values, comments, blank lines, other hives) are kept
// exactly as written, so a document that is parsed and written again without a change comes
// back with the same lines.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// Files above this size are refused rather than read: the settings of one program never come
// near it, and it bounds the work that a damaged or hostile file can cause.
inline constexpr std::size_t kMaxRegFileSize = 16u * 1024u * 1024u;

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

// Windows limits each key name to 255 characters.
inline constexpr std::size_t kMaxRegKeyNameLength = 255;

enum class RegLineKind {
    kOther,          // blank line, comment, named value: kept as written
    kDefaultString,  // @="text"
    kDefaultDelete,  // @=- (removes the default value)
    kDefaultOther,   // @=dword:..., @=hex...: a default value that is not text
};

// One logical line of a section: more than one physical line when a hex value is continued
// with a trailing backslash.
struct RegLine {
    std::vector<std::string> text;  // physical lines as written, without line ends
    RegLineKind kind = RegLineKind::kOther;
    std::string value;  // kDefaultString: the unescaped text
};

struct RegSection {
    std::string header;        // the header line as written, e.g. "[HKEY_CURRENT_USER\Software]"
    bool deletion = false;     // "[-HKEY_...]": the key and everything below it go
    bool currentUser = false;  // the hive is HKEY_CURRENT_USER
    std::vector<std::string> keyPath;  // key names below the hive
    std::vector<RegLine> lines;        // the lines up to the next section
};

struct RegDocument {
    bool byteOrderMark = false;
    std::string lineEnd = "\r\n";       // used for every line when the document is written
    std::vector<std::string> preamble;  // blank and comment lines before the first section
    std::vector<RegSection> sections;   // in file order; later sections win
};

struct RegParseResult {
    std::optional<RegDocument> document;  // empty when the text is not a valid export
    std::string error;                    // why not, for diagnostics
    std::size_t errorLine = 0;            // 1-based physical line of the error, 0 for none
};

// A new document: the header line and one blank line.
RegDocument NewRegDocument();

// Parses `text`. An empty text (zero bytes) is an empty document: it holds nothing that a write
// could destroy. Everything else must begin with the header line.
RegParseResult ParseRegFile(std::string_view text);

std::string SerializeRegFile(const RegDocument& document);

// Quoting as the export format does it: backslash and double quote get a backslash before them.
std::string EscapeRegString(std::string_view text);

// Splits a key path below HKEY_CURRENT_USER ("Software\Maker\Product") into its names. "" is the
// hive itself (no names). Fails for empty names (leading, trailing or doubled backslashes),
// names longer than kMaxRegKeyNameLength and names with control characters or with a "]" that
// would make the header line ambiguous.
bool SplitRegKeyPath(std::string_view path, std::vector<std::string>& names);

// Key names compare without regard to ASCII case.
bool RegKeyNamesEqual(std::string_view a, std::string_view b);

enum class RegDefaultState {
    kNoKey,    // the key does not exist
    kNoValue,  // the key exists without a default value
    kText,     // the default value is text
    kNotText,  // the default value has another type
};

struct RegDefaultValue {
    RegDefaultState state = RegDefaultState::kNoKey;
    std::string text;  // kText only
};

// The effective state of the key `names` below HKEY_CURRENT_USER after every section has been
// applied in order, as importing the file would leave it. A key exists when a section names it
// or a key below it; a deletion section removes the key it names and everything below.
RegDefaultValue FindRegDefault(const RegDocument& document, const std::vector<std::string>& names);
bool RegKeyExists(const RegDocument& document, const std::vector<std::string>& names);

// Makes the key exist; returns whether the document changed.
bool AddRegKey(RegDocument& document, const std::vector<std::string>& names);

// Makes the default value of the key `names` the text `value` (creating the key); returns
// whether the document changed. `value` must not hold line ends (see RegValueStorable).
bool SetRegDefault(RegDocument& document, const std::vector<std::string>& names,
                   std::string_view value);

// Whether `value` can be written as a quoted value on one line.
bool RegValueStorable(std::string_view value);

}  // namespace fw
