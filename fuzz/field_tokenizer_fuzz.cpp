// The field tokenizer and the two number readers over any bytes. The first byte chooses how
// many of the following bytes form the delimiter set; the rest is the line.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "discovery/definitions.h"
#include "fuzz/fuzz_check.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// strtol with a 32-bit long, written the slow and obvious way.
std::int64_t ReferenceDecimal(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value < (std::int64_t{1} << 40)) value = value * 10 + (s[i] - '0');
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t delimiterCount = static_cast<std::uint8_t>(input[0]) % 4;
    input.remove_prefix(1);
    if (delimiterCount > input.size()) delimiterCount = input.size();
    std::string_view delimiters = input.substr(0, delimiterCount);
    std::string_view text = input.substr(delimiterCount);

    fw::FieldTokenizer tokenizer(text, delimiters);
    std::string field = "untouched";
    std::size_t fields = 0;
    std::size_t consumed = 0;
    while (tokenizer.NextField(field)) {
        FW_FUZZ_CHECK(field.find_first_of(delimiters) == std::string::npos || delimiters.empty());
        // Only the first field can be empty: a run of delimiters is one separator.
        FW_FUZZ_CHECK(fields == 0 || !field.empty());
        consumed += field.size();
        FW_FUZZ_CHECK(consumed <= text.size());
        ++fields;
        FW_FUZZ_CHECK(fields <= text.size());
    }
    // The text is all fields plus delimiters; with no delimiters it is one field.
    std::size_t delimiterBytes = 0;
    for (char c : text) delimiterBytes += delimiters.find(c) != std::string_view::npos ? 1 : 0;
    FW_FUZZ_CHECK(consumed + delimiterBytes == text.size());
    if (text.empty()) FW_FUZZ_CHECK(fields == 0 && field == "untouched");
    // The end is sticky.
    std::string after = "x";
    FW_FUZZ_CHECK(!tokenizer.NextField(after) && after == "x");

    FW_FUZZ_CHECK(fw::ParseDecimal32(text) == ReferenceDecimal(text));
    bool digits = false;
    std::uint32_t hex = fw::ParseHex32(text, &digits);
    if (!digits) FW_FUZZ_CHECK(hex == 0);
    return 0;
}
