#include "download/resume.h"

#include <charconv>

namespace fw {

namespace {

constexpr std::string_view kNoteHeader = "fablewright-partial 1";

bool FitsInHeader(std::string_view value) {
    if (value.empty() || value.size() > 1024) return false;
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

template <typename T>
bool ParseWhole(std::string_view text, T& value) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The next line of `text` after `pos`, without its LF.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end < text.size() ? end + 1 : end;
    return line;
}

}  // namespace

std::string PartialPath(std::string_view localPath) { return std::string(localPath) + ".part"; }

std::string PartialNotePath(std::string_view localPath) {
    return std::string(localPath) + ".part-note";
}

std::string FormatPartialNote(const PartialNote& note) {
    return std::string(kNoteHeader) + "\n" + std::to_string(note.expectedSize) + "\n" +
           std::to_string(note.expectedChecksum) + "\n" + note.validator + "\n";
}

std::optional<PartialNote> ParsePartialNote(std::string_view text) {
    std::size_t pos = 0;
    if (NextLine(text, pos) != kNoteHeader) return std::nullopt;
    PartialNote note;
    if (!ParseWhole(NextLine(text, pos), note.expectedSize) || note.expectedSize <= 0 ||
        !ParseWhole(NextLine(text, pos), note.expectedChecksum)) {
        return std::nullopt;
    }
    std::string_view validator = NextLine(text, pos);
    if (!FitsInHeader(validator) || pos != text.size()) return std::nullopt;
    note.validator = validator;
    return note;
}

std::string ChooseValidator(std::string_view etag, std::string_view lastModified) {
    bool strongTag = etag.size() >= 2 && etag.front() == '"' && etag.back() == '"';
    if (strongTag && FitsInHeader(etag)) return std::string(etag);
    if (FitsInHeader(lastModified)) return std::string(lastModified);
    return {};
}

bool ContentRangeContinues(std::string_view contentRange, std::int64_t offset, std::int64_t size) {
    constexpr std::string_view kUnit = "bytes ";
    if (contentRange.substr(0, kUnit.size()) != kUnit) return false;
    std::string_view rest = contentRange.substr(kUnit.size());
    std::size_t dash = rest.find('-');
    std::size_t slash = rest.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return false;
    }
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = 0;
    return ParseWhole(rest.substr(0, dash), first) &&
           ParseWhole(rest.substr(dash + 1, slash - dash - 1), last) &&
           ParseWhole(rest.substr(slash + 1), total) && first == offset && last == size - 1 &&
           total == size;
}

}  // namespace fw
