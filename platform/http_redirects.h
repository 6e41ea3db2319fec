#pragma once
// Redirects, followed the same way on every host: at most kMaxRedirects of them, and never from
// https to http, so that an answer meant to travel encrypted never goes out in plain text.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.h"
#include "platform/server_address.h"

namespace fw {

inline constexpr int kMaxRedirects = 5;

// Where a Location header leads from `object` on `from`: an absolute "http(s)://" address, one
// without a scheme ("//host/..."), a path from the root ("/a/b") or relative to the object's
// folder ("b"). The object comes without its leading "/" and without a fragment.
struct RedirectTarget {
    ServerAddress server;
    std::string object;
};
std::optional<RedirectTarget> ResolveRedirect(const ServerAddress& from, std::string_view object,
                                              std::string_view location);

// A session whose requests follow the redirects (301, 302, 303, 307, 308) that `inner`'s
// requests hand back as answers. 307 and 308 repeat the verb, headers and body; the others go
// on with a GET without them. A redirect that is not followed (to http from https, one too many,
// or to nowhere) is the answer, with its status code.
std::unique_ptr<HttpSession> FollowRedirects(std::unique_ptr<HttpSession> inner);

}  // namespace fw
