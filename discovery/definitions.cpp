#include "discovery/definitions.h"

#include <limits>
#include <memory>
#include <utility>

#include "discovery/inventory.h"
#include "discovery/signed_definitions.h"

namespace fw {

bool FieldTokenizer::NextField(std::string& field) {
    if (position >= text.size()) return false;
    std::size_t end = position;
    while (end < text.size() && !IsDelimiter(text[end])) ++end;
    field.assign(text.substr(position, end - position));
    position = end;
    while (position < text.size() && IsDelimiter(text[position])) ++position;
    return true;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::int32_t ParseDecimal32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate the magnitude in 64 bits and stop growing once past the 32-bit range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) magnitude = kLimit + 1;
        ++i;
    }
    if (negative) {
        return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                   : static_cast<std::int32_t>(-magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
}

std::uint32_t ParseHex32(std::string_view text, bool* digits) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && HexDigitValue(text[i + 2]) >= 0) {
        i += 2;
    }
    std::uint64_t value = 0;
    bool any = false;
    while (i < text.size() && HexDigitValue(text[i]) >= 0) {
        any = true;
        value = (value << 4) | static_cast<std::uint64_t>(HexDigitValue(text[i]));
        if (value > 0xFFFFFFFFull) value = 0x100000000ull;  // saturated; stays above the range
        ++i;
    }
    if (digits) *digits = any;
    return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

LineResult ApplyDefinitionLine(std::string_view line, DefinitionsTarget& target) {
    if (line.empty() || line.front() == '#') return {};
    FieldTokenizer tokenizer(line, "~");
    std::string keyword;
    if (!tokenizer.NextField(keyword)) return {LineOutcome::kBadFormat, {}};

    std::string field;
    LineResult known{LineOutcome::kContinue, {}, true};
    if (EqualsNoCase(keyword, "version")) {
        if (tokenizer.NextField(field)) target.availableVersion = field;
    } else if (EqualsNoCase(keyword, "update")) {
        UpdateEntry entry;
        std::string size, checksum;
        if (tokenizer.NextField(entry.templateName) && tokenizer.NextField(entry.sourceUrl) &&
            tokenizer.NextField(size) && tokenizer.NextField(checksum)) {
            entry.expectedSize = ParseDecimal32(size);
            // A checksum field without a hexadecimal digit gives 0, never an earlier record's.
            entry.expectedChecksum = ParseHex32(checksum);
            std::string digest;
            if (tokenizer.NextField(digest)) {
                if (auto parsed = ParseDigestField(digest)) {
                    entry.expectedDigest = std::make_shared<const Sha256Digest>(*parsed);
                }
            }
            target.updateEntries.Add(std::move(entry));
        }
    } else if (EqualsNoCase(keyword, "equiv")) {
        std::string name, installedName;
        if (tokenizer.NextField(name) && tokenizer.NextField(installedName) &&
            (target.installedIndex ? target.installedIndex->Contains(installedName)
                                   : ContainsName(target.installedSystems, installedName))) {
            if (target.installedIndex) target.installedIndex->Insert(name);
            target.installedSystems.push_back(std::move(name));
        }
    } else if (EqualsNoCase(keyword, "updatever")) {
        if (tokenizer.NextField(field) && ParseDecimal32(field) > kHighestDefinitionsVersion) {
            return {LineOutcome::kTooNew, field, true};
        }
    } else if (EqualsNoCase(keyword, "info")) {
        if (tokenizer.NextField(field)) {
            target.infoServer = field;
            if (tokenizer.NextField(field)) target.infoPath = field;
        }
    } else {
        return {};
    }
    return known;
}

}  // namespace fw
