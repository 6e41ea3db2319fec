#pragma once
// The check's side of signed definitions, for a program with trusted keys: the answer is read
// whole and raw (the signature covers it byte for byte), checked, and only then given out line
// by line; the serial of every accepted check is kept in the settings key, per file name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/http_client.h"
#include "platform/registry.h"
#include "platform/ui/format.h"

namespace fw {

// A message that refuses the definitions: a string id and its texts (none when textId is 0).
struct Refusal {
    int textId = 0;
    std::vector<std::string> texts;
    int code = 0;  // for the messages with a number (115 before its texts, 136 after them)
    explicit operator bool() const { return textId != 0; }
    // The arguments of the message; they point into this object.
    std::vector<FormatArg> Args() const;
};

// Checked definitions, handed out as the request would hand out lines: CR bytes dropped,
// LF ending each line, the signature block left out.
class TrustedAnswer {
public:
    bool active = false;  // true once definitions were read and trusted
    std::uint64_t serial = 0;
    ReadStatus NextLine(std::string& line);
    // Takes a checked answer whose first `signedSize` bytes are the signed definitions.
    void Accept(std::string checkedAnswer, std::size_t signedSize, std::uint64_t serial);

private:
    std::string answer;
    std::size_t signedSize = 0;
    std::size_t position = 0;
};

// Reads the whole answer of `request` (at most kMaxDefinitionsBytes) and checks it for
// `fileName`. No refusal: `trusted` is active and holds the lines.
// `now` (seconds since 1970) is compared with the expiry of the definitions.
Refusal ReadTrustedDefinitions(HttpRequest& request, std::string_view fileName,
                               const TrustedKeys& keys, Registry& registry, std::int64_t now,
                               TrustedAnswer& trusted, const WaitCallback& whileWaiting = {});

// The highest serial accepted for `fileName`, if any was recorded.
std::optional<std::uint64_t> AcceptedSerial(Registry& registry, std::string_view fileName);
void RememberSerial(Registry& registry, std::string_view fileName, std::uint64_t serial);

}  // namespace fw
