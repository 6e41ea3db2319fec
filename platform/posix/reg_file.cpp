#include "platform/posix/reg_file.h"

#include <algorithm>

namespace fw {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";
constexpr std::string_view kHivePrefix = "HKEY_";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && RegKeyNamesEqual(s.substr(0, prefix.size()), prefix);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllHexDigits(std::string_view s) {
    for (char c : s) {
        if (!IsHexDigit(c)) return false;
    }
    return true;
}

// Bytes below 0x20 other than the tab never belong in the text of an export; line ends have
// been taken off before this is asked.
bool IsControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\t';
}

bool SamePath(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!RegKeyNamesEqual(a[i], b[i])) return false;
    }
    return true;
}

// Whether `prefix` is `path` or one of the keys above it.
bool IsPrefixPath(const std::vector<std::string>& prefix, const std::vector<std::string>& path) {
    if (prefix.size() > path.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!RegKeyNamesEqual(prefix[i], path[i])) return false;
    }
    return true;
}

// Reads a quoted text that starts at s[pos]; on success `pos` is just past the closing quote.
// The format escapes only the backslash and the double quote; any other escape is damage.
bool ReadQuoted(std::string_view s, std::size_t& pos, std::string& out, std::string& error) {
    out.clear();
    ++pos;  // the opening quote
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return true;
        if (c == '\\') {
            if (pos >= s.size()) break;
            char next = s[pos++];
            if (next != '\\' && next != '"') {
                error = "invalid escape in quoted text";
                return false;
            }
            out += next;
        } else {
            out += c;
        }
    }
    error = "unterminated quoted text";
    return false;
}

// "01,ab, 7f": bytes of one or two hex digits separated by commas; may be empty.
bool ValidHexList(std::string_view list) {
    list = Trim(list);
    if (list.empty()) return true;
    while (true) {
        std::size_t comma = list.find(',');
        std::string_view token = Trim(list.substr(0, comma));
        if (token.empty() || token.size() > 2 || !AllHexDigits(token)) return false;
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

struct PhysicalLines {
    std::vector<std::string_view> lines;
    bool crlf = false;  // the first line ends with CR LF
    bool anyLineEnd = false;
};

bool SplitLines(std::string_view text, PhysicalLines& out, std::string& error,
                std::size_t& errorLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        bool hasEnd = end != std::string_view::npos;
        std::string_view line = text.substr(start, hasEnd ? end - start : std::string_view::npos);
        bool cr = !line.empty() && line.back() == '\r';
        if (cr && hasEnd) line.remove_suffix(1);
        if (hasEnd && !out.anyLineEnd) {
            out.anyLineEnd = true;
            out.crlf = cr;
        }
        for (char c : line) {
            if (IsControl(c)) {
                error = "control character or binary data";
                errorLine = out.lines.size() + 1;
                return false;
            }
        }
        out.lines.push_back(line);
        if (!hasEnd) break;
        start = end + 1;
    }
    return true;
}

bool ParseHeader(std::string_view raw, RegSection& section, std::string& error) {
    std::string_view s = Trim(raw);
    if (s.size() < 2 || s.front() != '[' || s.back() != ']') {
        error = "section header without its closing bracket";
        return false;
    }
    std::string_view inner = s.substr(1, s.size() - 2);
    section.header = std::string(raw);
    section.deletion = !inner.empty() && inner.front() == '-';
    if (section.deletion) inner.remove_prefix(1);
    std::vector<std::string> names;
    while (true) {
        std::size_t slash = inner.find('\\');
        std::string_view name = inner.substr(0, slash);
        if (name.empty()) {
            error = "empty key name in section header";
            return false;
        }
        names.emplace_back(name);
        if (slash == std::string_view::npos) break;
        inner.remove_prefix(slash + 1);
    }
    if (!StartsWithNoCase(names.front(), kHivePrefix)) {
        error = "section header does not name a hive";
        return false;
    }
    section.currentUser = RegKeyNamesEqual(names.front(), kCurrentUser);
    section.keyPath.assign(names.begin() + 1, names.end());
    return true;
}

// Parses the value line lines[index], taking continuation lines of hex data with it; `index`
// ends on the last physical line used.
bool ParseValueLine(const std::vector<std::string_view>& lines, std::size_t& index, RegLine& line,
                    std::string& error) {
    std::string_view s = Trim(lines[index]);
    line.text.assign(1, std::string(lines[index]));
    std::size_t pos = 0;
    bool isDefault = s.front() == '@';
    if (isDefault) {
        pos = 1;
    } else {
        std::string name;
        if (!ReadQuoted(s, pos, name, error)) return false;
    }
    while (pos < s.size() && IsBlank(s[pos])) ++pos;
    if (pos >= s.size() || s[pos] != '=') {
        error = "value name without '='";
        return false;
    }
    std::string_view data = Trim(s.substr(pos + 1));

    if (!data.empty() && data.front() == '"') {
        std::size_t end = 0;
        std::string text;
        if (!ReadQuoted(data, end, text, error)) return false;
        if (!Trim(data.substr(end)).empty()) {
            error = "text after a quoted value";
            return false;
        }
        line.kind = isDefault ? RegLineKind::kDefaultString : RegLineKind::kOther;
        if (isDefault) line.value = std::move(text);
        return true;
    }
    if (data == "-") {
        line.kind = isDefault ? RegLineKind::kDefaultDelete : RegLineKind::kOther;
        return true;
    }
    line.kind = isDefault ? RegLineKind::kDefaultOther : RegLineKind::kOther;
    if (StartsWithNoCase(data, "dword:")) {
        std::string_view digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8 || !AllHexDigits(digits)) {
            error = "malformed dword value";
            return false;
        }
        return true;
    }
    if (StartsWithNoCase(data, "hex")) {
        std::size_t p = 3;
        if (p < data.size() && data[p] == '(') {
            std::size_t close = data.find(')', p);
            if (close == std::string_view::npos || close == p + 1 ||
                !AllHexDigits(data.substr(p + 1, close - p - 1))) {
                error = "malformed hex value type";
                return false;
            }
            p = close + 1;
        }
        if (p >= data.size() || data[p] != ':') {
            error = "malformed hex value";
            return false;
        }
        std::string joined;
        std::string_view piece = Trim(data.substr(p + 1));
        while (!piece.empty() && piece.back() == '\\') {
            piece.remove_suffix(1);
            joined += piece;
            if (++index >= lines.size()) {
                error = "continued value at the end of the file";
                return false;
            }
            line.text.emplace_back(lines[index]);
            piece = Trim(lines[index]);
        }
        joined += piece;
        if (!ValidHexList(joined)) {
            error = "malformed hex bytes";
            return false;
        }
        return true;
    }
    error = "unknown value type";
    return false;
}

bool IsBlankLine(std::string_view line) {
    return Trim(line).empty();
}

// Keeps the blank line between sections that the format has, before a section is appended.
void EnsureBlankLineAtEnd(RegDocument& document) {
    if (document.sections.empty()) {
        if (document.preamble.empty() || !IsBlankLine(document.preamble.back())) {
            document.preamble.emplace_back();
        }
        return;
    }
    std::vector<RegLine>& lines = document.sections.back().lines;
    if (lines.empty() || !IsBlankLine(lines.back().text.back())) {
        lines.push_back(RegLine{{std::string()}, RegLineKind::kOther, {}});
    }
}

RegLine MakeDefaultLine(std::string_view value) {
    RegLine line;
    line.text.push_back("@=\"" + EscapeRegString(value) + "\"");
    line.kind = RegLineKind::kDefaultString;
    line.value = std::string(value);
    return line;
}

void AppendSection(RegDocument& document, const std::vector<std::string>& names,
                   const RegLine* value) {
    EnsureBlankLineAtEnd(document);
    RegSection section;
    section.header = "[";
    section.header += kCurrentUser;
    for (const std::string& name : names) {
        section.header += '\\';
        section.header += name;
    }
    section.header += ']';
    section.currentUser = true;
    section.keyPath = names;
    if (value) section.lines.push_back(*value);
    section.lines.push_back(RegLine{{std::string()}, RegLineKind::kOther, {}});
    document.sections.push_back(std::move(section));
}

}  // namespace

bool RegKeyNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

RegDocument NewRegDocument() {
    RegDocument document;
    document.preamble.emplace_back();
    return document;
}

std::string EscapeRegString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

bool RegValueStorable(std::string_view value) {
    for (char c : value) {
        if (IsControl(c)) return false;
    }
    return true;
}

bool SplitRegKeyPath(std::string_view path, std::vector<std::string>& names) {
    names.clear();
    if (path.empty()) return true;
    while (true) {
        std::size_t slash = path.find('\\');
        std::string_view name = path.substr(0, slash);
        if (name.empty() || name.size() > kMaxRegKeyNameLength) return false;
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 0x20) return false;
        }
        names.emplace_back(name);
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

RegParseResult ParseRegFile(std::string_view text) {
    RegParseResult result;
    if (text.size() > kMaxRegFileSize) {
        result.error = "file too large";
        return result;
    }
    if (text.empty()) {
        result.document = NewRegDocument();
        return result;
    }
    RegDocument document;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        document.byteOrderMark = true;
        text.remove_prefix(kByteOrderMark.size());
    }
    PhysicalLines physical;
    if (!SplitLines(text, physical, result.error, result.errorLine)) return result;
    const std::vector<std::string_view>& lines = physical.lines;
    if (physical.anyLineEnd && !physical.crlf) document.lineEnd = "\n";
    if (lines.empty() || Trim(lines[0]) != kRegFileHeader) {
        result.error = "missing header line";
        result.errorLine = 1;
        return result;
    }

    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view s = Trim(lines[i]);
        bool inSection = !document.sections.empty();
        if (s.empty() || s.front() == ';') {
            if (inSection) {
                document.sections.back().lines.push_back(
                    RegLine{{std::string(lines[i])}, RegLineKind::kOther, {}});
            } else {
                document.preamble.emplace_back(lines[i]);
            }
            continue;
        }
        std::size_t first = i;
        if (s.front() == '[') {
            RegSection section;
            if (!ParseHeader(lines[i], section, result.error)) {
                result.errorLine = i + 1;
                return result;
            }
            document.sections.push_back(std::move(section));
            continue;
        }
        if (inSection && (s.front() == '@' || s.front() == '"')) {
            RegLine line;
            if (!ParseValueLine(lines, i, line, result.error)) {
                result.errorLine = std::min(i, lines.size() - 1) + 1;
                return result;
            }
            document.sections.back().lines.push_back(std::move(line));
            continue;
        }
        result.error = inSection ? "not a value line" : "value or text outside a section";
        result.errorLine = first + 1;
        return result;
    }
    result.document = std::move(document);
    return result;
}

std::string SerializeRegFile(const RegDocument& document) {
    std::string out;
    const std::string& end = document.lineEnd;
    if (document.byteOrderMark) out += kByteOrderMark;
    out += kRegFileHeader;
    out += end;
    for (const std::string& line : document.preamble) {
        out += line;
        out += end;
    }
    for (const RegSection& section : document.sections) {
        out += section.header;
        out += end;
        for (const RegLine& line : section.lines) {
            for (const std::string& text : line.text) {
                out += text;
                out += end;
            }
        }
    }
    return out;
}

RegDefaultValue FindRegDefault(const RegDocument& document, const std::vector<std::string>& names) {
    // The hive itself always exists.
    bool exists = names.empty();
    RegDefaultValue value{RegDefaultState::kNoValue, {}};
    for (const RegSection& section : document.sections) {
        if (!section.currentUser) continue;
        if (section.deletion) {
            if (IsPrefixPath(section.keyPath, names)) {
                exists = names.empty();
                value = {RegDefaultState::kNoValue, {}};
            }
            continue;
        }
        if (SamePath(section.keyPath, names)) {
            exists = true;
            for (const RegLine& line : section.lines) {
                switch (line.kind) {
                    case RegLineKind::kOther:
                        break;
                    case RegLineKind::kDefaultString:
                        value = {RegDefaultState::kText, line.value};
                        break;
                    case RegLineKind::kDefaultDelete:
                        value = {RegDefaultState::kNoValue, {}};
                        break;
                    case RegLineKind::kDefaultOther:
                        value = {RegDefaultState::kNotText, {}};
                        break;
                }
            }
        } else if (IsPrefixPath(names, section.keyPath)) {
            exists = true;  // a key below it exists, so it does too
        }
    }
    if (!exists) return {RegDefaultState::kNoKey, {}};
    return value;
}

bool RegKeyExists(const RegDocument& document, const std::vector<std::string>& names) {
    return FindRegDefault(document, names).state != RegDefaultState::kNoKey;
}

bool AddRegKey(RegDocument& document, const std::vector<std::string>& names) {
    if (RegKeyExists(document, names)) return false;
    AppendSection(document, names, nullptr);
    return true;
}

bool SetRegDefault(RegDocument& document, const std::vector<std::string>& names,
                   std::string_view value) {
    RegDefaultValue current = FindRegDefault(document, names);
    if (current.state == RegDefaultState::kText && current.text == value) return false;

    // The last section of the key that no later deletion undoes decides its default value.
    RegSection* target = nullptr;
    for (RegSection& section : document.sections) {
        if (!section.currentUser) continue;
        if (section.deletion && IsPrefixPath(section.keyPath, names)) {
            target = nullptr;
        } else if (!section.deletion && SamePath(section.keyPath, names)) {
            target = &section;
        }
    }
    RegLine line = MakeDefaultLine(value);
    if (!target) {
        AppendSection(document, names, &line);
        return true;
    }
    std::vector<RegLine>& lines = target->lines;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (it->kind != RegLineKind::kOther) {
            *it = std::move(line);
            return true;
        }
    }
    // The format puts the default value first in its section.
    lines.insert(lines.begin(), std::move(line));
    return true;
}

}  // namespace fw
