#pragma once
// Where a connection goes: the scheme, host and port that the command line, the definitions and
// the update records name a server by. Read in one place, so that every host agrees on it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

inline constexpr unsigned short kHttpPort = 80;
inline constexpr unsigned short kHttpsPort = 443;

struct ServerAddress {
    bool secure = false;  // TLS, with the server's certificate and name checked
    std::string host;     // a name, a dotted address, or "[v6-address]" with its brackets
    unsigned short port = kHttpPort;

    bool operator==(const ServerAddress&) const = default;
};

// "https://host[:port]" (port 443 unless given), "http://host[:port]" or "host[:port]" (port 80
// unless given); the scheme in any letter case. Nothing when the text cannot name a server: an
// empty host, a port outside 1 to 65535, or anything that could smuggle a user, a path or a
// second address into the address.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

// "http://host:port" or "https://host:port", as ParseServerAddress reads it back.
std::string FormatServerAddress(const ServerAddress& address);

// Whether two texts name the same scheme, port and host (the host without regard to ASCII case).
// Texts that name no server match nothing.
bool SameServer(std::string_view a, std::string_view b);

// The servers of a comma-separated list, in order, each without surrounding blanks; never
// empty (a text without items gives itself, so that a message can name what was given). A list
// that names an https server keeps only the servers that are https: falling back to plain http
// would let whoever can block https pick what the program reads.
std::vector<std::string> ServerList(std::string_view text);

}  // namespace fw
