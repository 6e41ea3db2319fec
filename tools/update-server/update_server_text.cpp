// The parts of the update server that are plain text: fault switches and recorded requests as
// JSON lines. Portable, so that a client on another host can speak the server's language.

#include <algorithm>
#include <cctype>
#include <charconv>

#include "tools/update-server/update_server.h"

namespace fw {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    out += '"';
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

// Seconds with an optional fraction ("2", "0.5") to milliseconds.
bool ParseSeconds(std::string_view text, std::chrono::milliseconds& value) {
    std::size_t dot = text.find('.');
    std::uint64_t whole = 0;
    if (!ParseNumber(text.substr(0, dot), whole) || whole > 1000000) return false;
    std::uint64_t millis = whole * 1000;
    if (dot != std::string_view::npos) {
        std::string_view fraction = text.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 3) return false;
        std::uint64_t digits = 0;
        if (!ParseNumber(fraction, digits)) return false;
        for (std::size_t i = fraction.size(); i < 3; ++i) digits *= 10;
        millis += digits;
    }
    value = std::chrono::milliseconds(millis);
    return true;
}

bool ApplySwitch(std::string_view item, ServerFault& fault) {
    std::size_t equals = item.find('=');
    std::string_view name = item.substr(0, equals);
    std::string_view value =
        equals == std::string_view::npos ? std::string_view{} : item.substr(equals + 1);
    std::uint64_t number = 0;
    if (name == "redirect") {
        if (value.empty()) return false;
        fault.redirect = std::string(value);
        return true;
    }
    if (name == "retry-after") {
        if (value.empty()) return false;
        // A date's comma travels as ';', since commas part the switches.
        std::string text(value);
        std::replace(text.begin(), text.end(), ';', ',');
        fault.retryAfter = std::move(text);
        return true;
    }
    for (auto [flagName, flag] : {std::pair{"ignore-range", &fault.ignoreRange},
                                  std::pair{"wrong-range", &fault.wrongRange},
                                  std::pair{"no-validators", &fault.noValidators}}) {
        if (name != flagName) continue;
        *flag = true;
        return equals == std::string_view::npos || value == "1";
    }
    if (name == "drop") {
        fault.drop = true;
        return equals == std::string_view::npos || value == "1";
    }
    if (name == "endless") {
        fault.endless = true;
        return equals == std::string_view::npos || value == "1";
    }
    if (name == "stall") {
        std::size_t at = value.find('@');
        if (at == std::string_view::npos) return false;
        if (!ParseSeconds(value.substr(0, at), fault.stallFor)) return false;
        if (!ParseNumber(value.substr(at + 1), number)) return false;
        fault.stallAfter = number;
        return true;
    }
    if (!ParseNumber(value, number)) return false;
    if (name == "status") {
        if (number < 100 || number > 999) return false;
        fault.status = static_cast<int>(number);
    } else if (name == "truncate") {
        fault.truncateAfter = number;
    } else if (name == "rate") {
        if (number == 0) return false;
        fault.bytesPerSecond = number;
    } else if (name == "length") {
        fault.announcedLength = number;
    } else if (name == "first") {
        if (number == 0) return false;
        fault.onlyFirst = number;
    } else {
        return false;
    }
    return true;
}

// Just enough JSON for the lines ToJson writes: an object whose members are strings or arrays
// of arrays of strings.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text(text) {}

    bool Literal(char c) {
        SkipSpace();
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    }
    bool Peek(char c) {
        SkipSpace();
        return at < text.size() && text[at] == c;
    }
    bool AtEnd() {
        SkipSpace();
        return at == text.size();
    }

    bool String(std::string& out) {
        out.clear();
        if (!Literal('"')) return false;
        while (at < text.size()) {
            char c = text[at++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= text.size()) return false;
            char escape = text[at++];
            switch (escape) {
            case '"': case '\\': case '/': out += escape; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                // Only \u00XX: every byte ToJson escapes is one of those.
                if (text.size() - at < 4) return false;
                unsigned value = 0;
                auto [end, error] =
                    std::from_chars(text.data() + at, text.data() + at + 4, value, 16);
                if (error != std::errc{} || end != text.data() + at + 4 || value > 0xFF) {
                    return false;
                }
                out += static_cast<char>(static_cast<unsigned char>(value));
                at += 4;
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    bool Pairs(std::vector<std::pair<std::string, std::string>>& out) {
        out.clear();
        if (!Literal('[')) return false;
        if (Literal(']')) return true;
        do {
            std::pair<std::string, std::string> pair;
            if (!Literal('[') || !String(pair.first) || !Literal(',') || !String(pair.second) ||
                !Literal(']')) {
                return false;
            }
            out.push_back(std::move(pair));
        } while (Literal(','));
        return Literal(']');
    }

private:
    void SkipSpace() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' ||
                                    text[at] == '\n')) {
            ++at;
        }
    }

    std::string_view text;
    std::size_t at = 0;
};

}  // namespace

std::string ToJsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

std::string_view ServerCertificateName(ServerCertificate kind) {
    switch (kind) {
    case ServerCertificate::kNone: return "none";
    case ServerCertificate::kTrusted: return "trusted";
    case ServerCertificate::kOtherName: return "other-name";
    case ServerCertificate::kExpired: return "expired";
    case ServerCertificate::kUnknownAuthority: return "unknown-authority";
    }
    return "none";
}

std::optional<ServerCertificate> ParseServerCertificate(std::string_view name) {
    for (ServerCertificate kind :
         {ServerCertificate::kNone, ServerCertificate::kTrusted, ServerCertificate::kOtherName,
          ServerCertificate::kExpired, ServerCertificate::kUnknownAuthority}) {
        if (ServerCertificateName(kind) == name) return kind;
    }
    return std::nullopt;
}

std::string FaultPathKey(std::string_view path) {
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return "/" + std::string(path);
}

std::optional<ServerFault> ParseFaultSwitches(std::string_view switches) {
    ServerFault fault;
    if (switches.empty()) return fault;
    while (true) {
        std::size_t comma = switches.find(',');
        if (!ApplySwitch(switches.substr(0, comma), fault)) return {};
        if (comma == std::string_view::npos) break;
        switches.remove_prefix(comma + 1);
        if (switches.empty()) return {};
    }
    return fault;
}

std::optional<std::pair<std::string, ServerFault>> ParseFaultSpec(std::string_view spec) {
    // A redirect's URL has colons of its own: the path ends at the last colon after which
    // the switches read.
    for (std::size_t colon = spec.rfind(':'); colon != std::string_view::npos && colon > 0;
         colon = spec.rfind(':', colon - 1)) {
        if (colon + 1 == spec.size()) return {};
        std::optional<ServerFault> fault = ParseFaultSwitches(spec.substr(colon + 1));
        if (fault) return std::make_pair(FaultPathKey(spec.substr(0, colon)), *fault);
    }
    return {};
}

std::string FormatFaultSwitches(const ServerFault& fault) {
    std::string out;
    auto add = [&out](const std::string& item) {
        if (!out.empty()) out += ',';
        out += item;
    };
    if (fault.status) add("status=" + std::to_string(*fault.status));
    if (fault.truncateAfter) add("truncate=" + std::to_string(*fault.truncateAfter));
    if (fault.stallAfter) {
        auto millis = static_cast<std::uint64_t>(std::max<std::int64_t>(0, fault.stallFor.count()));
        std::string fraction = std::to_string(millis % 1000);
        fraction.insert(0, 3 - fraction.size(), '0');
        add("stall=" + std::to_string(millis / 1000) + "." + fraction + "@" +
            std::to_string(*fault.stallAfter));
    }
    if (fault.bytesPerSecond > 0) add("rate=" + std::to_string(fault.bytesPerSecond));
    if (fault.announcedLength) add("length=" + std::to_string(*fault.announcedLength));
    if (fault.drop) add("drop");
    if (fault.endless) add("endless");
    if (fault.redirect) add("redirect=" + *fault.redirect);
    if (fault.retryAfter) {
        std::string text = *fault.retryAfter;
        std::replace(text.begin(), text.end(), ',', ';');
        add("retry-after=" + text);
    }
    if (fault.ignoreRange) add("ignore-range");
    if (fault.wrongRange) add("wrong-range");
    if (fault.noValidators) add("no-validators");
    if (fault.onlyFirst) add("first=" + std::to_string(*fault.onlyFirst));
    return out;
}

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualNoCase(key, name)) return value;
    }
    return {};
}

std::string RecordedRequest::ToJson() const {
    std::string out = "{\"requestLine\":";
    AppendJsonString(out, requestLine);
    out += ",\"method\":";
    AppendJsonString(out, method);
    out += ",\"target\":";
    AppendJsonString(out, target);
    out += ",\"version\":";
    AppendJsonString(out, version);
    out += ",\"headers\":[";
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (i > 0) out += ',';
        out += '[';
        AppendJsonString(out, headers[i].first);
        out += ',';
        AppendJsonString(out, headers[i].second);
        out += ']';
    }
    out += "],\"body\":";
    AppendJsonString(out, body);
    out += '}';
    return out;
}

std::optional<RecordedRequest> ParseRecordedRequest(std::string_view json) {
    JsonReader reader(json);
    RecordedRequest request;
    if (!reader.Literal('{')) return {};
    bool sawRequestLine = false;
    if (!reader.Peek('}')) {
        do {
            std::string name;
            if (!reader.String(name) || !reader.Literal(':')) return {};
            std::string* field = nullptr;
            if (name == "headers") {
                if (!reader.Pairs(request.headers)) return {};
                continue;
            }
            if (name == "requestLine") {
                field = &request.requestLine;
                sawRequestLine = true;
            } else if (name == "method") {
                field = &request.method;
            } else if (name == "target") {
                field = &request.target;
            } else if (name == "version") {
                field = &request.version;
            } else if (name == "body") {
                field = &request.body;
            } else if (name == "path") {
                field = &request.path;
            } else {
                return {};
            }
            if (!reader.String(*field)) return {};
        } while (reader.Literal(','));
    }
    if (!reader.Literal('}') || !reader.AtEnd() || !sawRequestLine) return {};
    return request;
}

}  // namespace fw
