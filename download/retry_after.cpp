#include "download/retry_after.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "res/resource.h"
#include "res/strings.h"

namespace fw {

namespace {

bool ParseDigits(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 12 || text.front() < '0' || text.front() > '9') return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", the one date form servers must send.
std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT" ||
        text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':') {
        return std::nullopt;
    }
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(8, 3));
    std::int64_t day = 0;
    std::int64_t year = 0;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t second = 0;
    if (month == kMonths.end() || !ParseDigits(text.substr(5, 2), day) ||
        !ParseDigits(text.substr(12, 4), year) || !ParseDigits(text.substr(17, 2), hour) ||
        !ParseDigits(text.substr(20, 2), minute) || !ParseDigits(text.substr(23, 2), second) ||
        day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    auto monthNumber = static_cast<unsigned>(month - kMonths.begin() + 1);
    return DaysFromCivil(year, monthNumber, static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second;
}

}  // namespace

std::optional<std::uint32_t> RetryAfterSeconds(std::string_view value,
                                               std::int64_t nowUnixSeconds) {
    std::int64_t seconds = 0;
    if (!ParseDigits(value, seconds)) {
        std::optional<std::int64_t> date = ParseHttpDate(value);
        if (!date) return std::nullopt;
        seconds = std::max<std::int64_t>(0, *date - nowUnixSeconds);
    }
    return static_cast<std::uint32_t>(std::min<std::int64_t>(seconds, kMaxRetryAfterSeconds));
}

namespace {

// Where the wait's digits stand in a busy-server question, and how many there are.
std::optional<std::pair<std::size_t, std::size_t>> BusyWaitField(std::string_view question) {
    // Both busy questions, the download's and the check's, begin alike up to the wait.
    std::string_view format = res::LoadString(res::kStrRetryBusyQuestion);
    std::size_t field = format.find("%d");
    if (field == std::string_view::npos || question.substr(0, field) != format.substr(0, field)) {
        return std::nullopt;
    }
    std::string_view rest = question.substr(field);
    std::size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
    return std::pair{field, digits};
}

}  // namespace

std::optional<std::uint32_t> BusyWaitInQuestion(std::string_view question) {
    std::optional<std::pair<std::size_t, std::size_t>> field = BusyWaitField(question);
    if (!field) return std::nullopt;
    std::int64_t seconds = 0;
    if (!ParseDigits(question.substr(field->first, field->second), seconds) ||
        seconds > kMaxRetryAfterSeconds) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(seconds);
}

std::string RetryQuestionKey(std::string_view question) {
    std::string key(question);
    if (std::optional<std::pair<std::size_t, std::size_t>> field = BusyWaitField(question)) {
        key.erase(field->first, field->second);
    }
    return key;
}

void NoteBusyWait(HttpRequest& request, int status, std::int64_t nowUnixSeconds,
                  std::optional<std::uint32_t>& shortest) {
    std::string value;
    if ((status != 503 && status != 429) || !request.QueryHeader("Retry-After", value)) return;
    if (std::optional<std::uint32_t> wait = RetryAfterSeconds(value, nowUnixSeconds)) {
        shortest = shortest ? std::min(*shortest, *wait) : *wait;
    }
}

std::uint32_t WithSpread(std::uint32_t milliseconds, std::uint32_t random) {
    return milliseconds + random % (milliseconds / 10 + 1);
}

}  // namespace fw
