#pragma once
// The arithmetic of the loopback download benchmark: what a child reports, and medians with
// their spread over the repetitions.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw::bench {

// Median and extremes of a set of repetitions; all zero for an empty set.
struct Spread {
    double median = 0;
    double low = 0;
    double high = 0;
};

inline Spread SpreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.low = values.front();
    s.high = values.back();
    return s;
}

// Decimal megabytes per second; 0 when no time was measured.
inline double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

// "name=value" lines, as the product run writes its results; other lines are ignored, and a
// later value of a name replaces an earlier one.
inline std::map<std::string, std::string> ParseReport(std::string_view text) {
    std::map<std::string, std::string> values;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        values[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    return values;
}

// A number of seconds as a report or curl writes it ("0.251234"); nothing when the text is
// not a whole non-negative number.
inline std::optional<double> ParseSeconds(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace fw::bench
