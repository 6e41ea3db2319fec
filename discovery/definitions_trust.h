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

// Definitions held in memory, handed out as the request would hand out lines: CR bytes
// dropped, LF ending each line, nothing after the first `size` bytes.
class AnswerLines {
public:
    ReadStatus NextLine(std::string& line);
    void Load(std::string bytes, std::size_t size);
    const std::string& Bytes() const { return answer; }

private:
    std::string answer;
    std::size_t size = 0;
    std::size_t position = 0;
};

// Checked definitions: the lines of the signed part, the signature block left out; Bytes() is
// the answer as checked, signature included.
class TrustedAnswer : public AnswerLines {
public:
    bool active = false;  // true once definitions were read and trusted
    std::uint64_t serial = 0;
    // Takes a checked answer whose first `signedSize` bytes are the signed definitions.
    void Accept(std::string checkedAnswer, std::size_t signedSize, std::uint64_t serial);
};

// Reads the whole answer of `request` (at most kMaxDefinitionsBytes) and checks it for
// `fileName`. No refusal: `trusted` is active and holds the lines.
// `now` (seconds since 1970) is compared with the expiry of the definitions.
Refusal ReadTrustedDefinitions(HttpRequest& request, std::string_view fileName,
                               const TrustedKeys& keys, Registry& registry, std::int64_t now,
                               TrustedAnswer& trusted, const WaitCallback& whileWaiting = {});
// The same checks for an answer already in memory (one kept from an earlier check).
Refusal CheckTrustedDefinitions(std::string answer, std::string_view fileName,
                                const TrustedKeys& keys, Registry& registry, std::int64_t now,
                                TrustedAnswer& trusted);

// The highest serial accepted for `fileName`, if any was recorded.
std::optional<std::uint64_t> AcceptedSerial(Registry& registry, std::string_view fileName);
void RememberSerial(Registry& registry, std::string_view fileName, std::uint64_t serial);

}  // namespace fw
