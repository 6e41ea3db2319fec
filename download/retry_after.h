#pragma once
// How long a busy server (503, 429) asks to be left alone, within what a client will wait.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace fw {

// The longest wait a server can ask for.
inline constexpr std::uint32_t kMaxRetryAfterSeconds = 600;

// A Retry-After value, whole seconds ("120") or an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT")
// measured from `nowUnixSeconds`; a date in the past is 0. Capped at kMaxRetryAfterSeconds.
// Nothing for any other text.
std::optional<std::uint32_t> RetryAfterSeconds(std::string_view value,
                                               std::int64_t nowUnixSeconds);

// `milliseconds` plus up to a tenth more, chosen by `random`, so that a crowd of clients told
// the same wait does not come back at once.
std::uint32_t WithSpread(std::uint32_t milliseconds, std::uint32_t random);

// A busy answer (`status` 503 or 429) whose Retry-After can be read: `shortest` becomes the
// shorter of its wait and what it held, so that of several servers the one back first counts.
void NoteBusyWait(HttpRequest& request, int status, std::int64_t nowUnixSeconds,
                  std::optional<std::uint32_t>& shortest);

// The wait in seconds that a retry question built from a busy-server message carries (the
// download's or the check's); nothing for any other text.
std::optional<std::uint32_t> BusyWaitInQuestion(std::string_view question);

// The question without the wait a busy server asked for: what stays the same from one try at a
// file (or at the check) to the next, whatever wait the server names each time.
std::string RetryQuestionKey(std::string_view question);

}  // namespace fw
