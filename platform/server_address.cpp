#include "platform/server_address.h"

#include <algorithm>
#include <cctype>

namespace fw {
namespace {

bool IsHostNameChar(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_';
}

bool IsBracketedAddressChar(unsigned char c) {
    return std::isxdigit(c) != 0 || c == ':' || c == '.';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
    ServerAddress address;
    if (StartsWithNoCase(text, "https://")) {
        address.secure = true;
        address.port = kHttpsPort;
        text.remove_prefix(8);
    } else if (StartsWithNoCase(text, "http://")) {
        text.remove_prefix(7);
    }
    std::string_view name;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos || close < 2) return std::nullopt;
        name = text.substr(0, close + 1);
        rest = text.substr(close + 1);
        for (char c : name.substr(1, name.size() - 2)) {
            if (!IsBracketedAddressChar(static_cast<unsigned char>(c))) return std::nullopt;
        }
    } else {
        std::size_t colon = text.find(':');
        name = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon);
        if (name.empty()) return std::nullopt;
        for (char c : name) {
            if (!IsHostNameChar(static_cast<unsigned char>(c))) return std::nullopt;
        }
    }
    if (!rest.empty()) {
        if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return std::nullopt;
        unsigned port = 0;
        for (char c : rest.substr(1)) {
            if (c < '0' || c > '9') return std::nullopt;
            port = port * 10u + static_cast<unsigned>(c - '0');
        }
        if (port < 1 || port > 65535) return std::nullopt;
        address.port = static_cast<unsigned short>(port);
    }
    address.host = std::string(name);
    return address;
}

std::string FormatServerAddress(const ServerAddress& address) {
    return (address.secure ? "https://" : "http://") + address.host + ":" +
           std::to_string(address.port);
}

bool SameServer(std::string_view a, std::string_view b) {
    std::optional<ServerAddress> first = ParseServerAddress(a);
    std::optional<ServerAddress> second = ParseServerAddress(b);
    if (!first || !second) return false;
    first->host = Lower(first->host);
    second->host = Lower(second->host);
    return *first == *second;
}

std::vector<std::string> ServerList(std::string_view text) {
    std::vector<std::string> servers;
    bool anySecure = false;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        std::string_view item = text.substr(start, comma == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : comma - start);
        std::size_t first = item.find_first_not_of(" \t");
        if (first != std::string_view::npos) {
            item = item.substr(first, item.find_last_not_of(" \t") - first + 1);
            std::optional<ServerAddress> address = ParseServerAddress(item);
            anySecure = anySecure || (address && address->secure);
            servers.emplace_back(item);
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (anySecure) {
        std::erase_if(servers, [](const std::string& server) {
            std::optional<ServerAddress> address = ParseServerAddress(server);
            return !(address && address->secure);
        });
    }
    if (servers.empty()) servers.emplace_back(text);
    return servers;
}

}  // namespace fw
