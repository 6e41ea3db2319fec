#include "platform/posix/ini_reader.h"

namespace fw {
namespace {

constexpr std::string_view kBlanks = " \t\v\f\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::string_view ValueOf(std::string_view raw) {
    // The caller's C string ends at the first NUL, whatever follows it on the line.
    raw = raw.substr(0, raw.find('\0'));
    std::string_view value = Trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

std::string CutToBuffer(std::string_view value, std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    return std::string(value.substr(0, bufferSize - 1));
}

}  // namespace

std::string ReadProfileString(std::string_view iniText, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize) {
    std::string_view fallback = defaultValue.substr(0, defaultValue.find_last_not_of(' ') + 1);
    if (iniText.starts_with(kByteOrderMark)) iniText.remove_prefix(kByteOrderMark.size());

    bool inSection = section.empty();  // the nameless section before the first header
    std::size_t pos = 0;
    while (pos <= iniText.size()) {
        std::size_t end = iniText.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = iniText.size();
        std::string_view line = Trim(iniText.substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                // Only the first section of a name is read, as the platform's reader does.
                if (inSection) break;
                inSection = SameName(Trim(line.substr(1, close - 1)), section);
                continue;
            }
            // Without its ']' the line is an ordinary key line.
        }
        if (!inSection) continue;
        std::size_t equals = line.find('=');
        std::string_view name = Trim(line.substr(0, equals));
        if (!SameName(name, key)) continue;
        if (equals == std::string_view::npos) break;
        return CutToBuffer(ValueOf(line.substr(equals + 1)), bufferSize);
    }
    return CutToBuffer(fallback, bufferSize);
}

}  // namespace fw
