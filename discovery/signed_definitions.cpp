#include "discovery/signed_definitions.h"

#include <chrono>
#include <cstdio>

#include "discovery/base64.h"
#include "discovery/definitions.h"

namespace fw {
namespace {

constexpr std::size_t kKeyIdBytes = 8;
// More signatures than any key rotation needs are not a signature block but a load.
constexpr std::size_t kMaxSignatureLines = 8;
// The refusal names a few unknown keys, not as many as a peer cares to list.
constexpr std::size_t kMaxNamedUnknownKeys = 3;
constexpr std::size_t kMaxSignatureLineLength = 512;

// Calls `visit(start, raw, clean)` for each line of `text`: where it starts, the line as it
// stands (CR bytes kept, LF not) and without CR bytes. A last line without LF is a line; an
// empty text has none.
template <class Visit>
void ForEachLine(std::string_view text, Visit visit) {
    std::size_t position = 0;
    std::string clean;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view raw = text.substr(position, (end == std::string_view::npos ? text.size() : end) - position);
        std::string_view line = raw;
        // Copied only when there is a CR to drop: most lines have none, or one at the end.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) {
            clean.clear();
            for (char c : raw) {
                if (c != '\r') clean += c;
            }
            line = clean;
        }
        if (!visit(position, raw, line)) return;
        position = next;
    }
}

std::string_view Keyword(std::string_view line) { return line.substr(0, line.find('~')); }

std::string Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

SignatureBlock SplitSignatureBlock(std::string_view answer) {
    SignatureBlock block;
    block.signedBytes = answer;
    ForEachLine(answer, [&](std::size_t start, std::string_view raw, std::string_view line) {
        if (EqualsNoCase(Keyword(line), "signature")) {
            if (!block.found) block.signedBytes = answer.substr(0, start);
            block.found = true;
            // Views into the answer: the line's own bytes minus any CR (which sits at its end
            // in the files we know; one elsewhere makes the line unreadable, as it should).
            while (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
            block.signatureLines.push_back(raw);
        } else if (block.found && !line.empty()) {
            block.othersAfter = true;
        }
        return true;
    });
    return block;
}

bool ParseSignatureLine(std::string_view line, SignatureLine& parsed) {
    // Far longer than any line of the one scheme read: not worth decoding.
    if (line.size() > kMaxSignatureLineLength) return false;
    FieldTokenizer tokenizer(line, "~");
    std::string keyword, algorithm, keyId, signature, extra;
    if (!tokenizer.NextField(keyword) || !tokenizer.NextField(algorithm) ||
        !tokenizer.NextField(keyId) || !tokenizer.NextField(signature) ||
        tokenizer.NextField(extra)) {
        return false;
    }
    if (keyId.size() != 2 * kKeyIdBytes) return false;
    for (char c : keyId) {
        if (HexDigitValue(c) < 0) return false;
    }
    std::optional<Bytes> der = DecodeBase64(signature);
    if (!der || der->empty()) return false;
    parsed.algorithm = Lower(algorithm);
    parsed.keyId = Lower(keyId);
    parsed.signature = std::move(*der);
    return true;
}

std::string KeyIdOf(std::span<const std::uint8_t> publicKeyDer) {
    Sha256Digest digest;
    if (!Sha256::Of(publicKeyDer, digest)) return {};
    return Hex(std::span<const std::uint8_t>(digest.data(), kKeyIdBytes));
}

std::optional<std::uint64_t> ParseSerial(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<Sha256Digest> ParseDigestField(std::string_view field) {
    constexpr std::string_view kPrefix = "sha256:";
    if (field.size() != kPrefix.size() + 64 || !EqualsNoCase(field.substr(0, kPrefix.size()), kPrefix)) {
        return std::nullopt;
    }
    Sha256Digest digest;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        char high = field[kPrefix.size() + 2 * i];
        char low = field[kPrefix.size() + 2 * i + 1];
        if (HexDigitValue(high) < 0 || HexDigitValue(low) < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(HexDigitValue(high) * 16 + HexDigitValue(low));
    }
    return digest;
}

std::string DigestHex(const Sha256Digest& digest) { return Hex(digest); }

std::optional<std::int64_t> ParseExpiry(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ, every digit where the form has one.
    constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
    if (text.size() != kForm.size()) return std::nullopt;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (kForm[i] == '0' ? !digit : text[i] != kForm[i]) return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t count) {
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
        return value;
    };
    std::chrono::year_month_day date{std::chrono::year(number(0, 4)),
                                     std::chrono::month(static_cast<unsigned>(number(5, 2))),
                                     std::chrono::day(static_cast<unsigned>(number(8, 2)))};
    int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    std::chrono::sys_days days(date);
    return static_cast<std::int64_t>(days.time_since_epoch().count()) * 86400 + hour * 3600 +
           minute * 60 + second;
}

std::string FormatExpiry(std::int64_t unixTime) {
    std::int64_t dayNumber = unixTime / 86400 - (unixTime % 86400 < 0 ? 1 : 0);
    std::int64_t secondOfDay = unixTime - dayNumber * 86400;
    std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(dayNumber))};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                  static_cast<int>(secondOfDay % 60));
    return text;
}

DefinitionsCheck CheckSignedDefinitions(std::string_view answer, std::string_view fileName,
                                        const TrustedKeys& keys,
                                        std::optional<std::uint64_t> highestSerial,
                                        std::int64_t now) {
    DefinitionsCheck check;
    SignatureBlock block = SplitSignatureBlock(answer);
    auto refuse = [&](DefinitionsVerdict verdict, std::string detail = {}) {
        check.verdict = verdict;
        check.detail = std::move(detail);
        return check;
    };
    if (!block.found) return refuse(DefinitionsVerdict::kUnsigned);
    if (block.othersAfter) return refuse(DefinitionsVerdict::kLinesAfter);

    std::vector<std::string> keyIds;
    for (const Bytes& key : keys) keyIds.push_back(KeyIdOf(key));
    if (block.signatureLines.size() > kMaxSignatureLines) return refuse(DefinitionsVerdict::kDamaged);
    std::span<const std::uint8_t> message(reinterpret_cast<const std::uint8_t*>(block.signedBytes.data()),
                                          block.signedBytes.size());
    // Hashed once, however many lines name a trusted key.
    Sha256Digest digest;
    if (!Sha256::Of(message, digest)) return refuse(DefinitionsVerdict::kDamaged);
    std::size_t namedUnknown = 0;
    bool verified = false, badSignature = false, damaged = false;
    std::string unknownIds;
    for (std::string_view text : block.signatureLines) {
        SignatureLine line;
        if (!ParseSignatureLine(text, line) || line.algorithm != kSignatureAlgorithm) {
            damaged = true;
            continue;
        }
        bool known = false;
        for (std::size_t k = 0; k < keys.size() && !verified; ++k) {
            if (keyIds[k] != line.keyId) continue;
            known = true;
            if (VerifyEcdsaP256Sha256Digest(keys[k], digest, line.signature)) {
                verified = true;
            } else {
                badSignature = true;
            }
        }
        if (!known && !verified && namedUnknown < kMaxNamedUnknownKeys) {
            unknownIds += (unknownIds.empty() ? "" : ", ") + line.keyId;
            ++namedUnknown;
        }
        if (verified) break;
    }
    if (!verified) {
        if (badSignature) return refuse(DefinitionsVerdict::kBadSignature);
        if (damaged) return refuse(DefinitionsVerdict::kDamaged);
        return refuse(DefinitionsVerdict::kUnknownKey, unknownIds);
    }
    check.signedBytes = block.signedBytes;

    // Only now are the lines the publisher's: read the serial and the digests.
    int serials = 0;
    std::optional<std::uint64_t> serial;
    std::string serialFile;
    std::string missingDigest;
    bool anyMissingDigest = false;
    int expiries = 0;
    std::string expiryText;
    ForEachLine(block.signedBytes, [&](std::size_t, std::string_view, std::string_view line) {
        if (line.empty() || line.front() == '#') return true;
        FieldTokenizer tokenizer(line, "~");
        std::string keyword;
        tokenizer.NextField(keyword);
        if (EqualsNoCase(keyword, "serial")) {
            ++serials;
            std::string number;
            if (tokenizer.NextField(serialFile) && tokenizer.NextField(number)) {
                serial = ParseSerial(number);
            }
        } else if (EqualsNoCase(keyword, "expires")) {
            ++expiries;
            if (!tokenizer.NextField(expiryText)) expiryText.clear();
        } else if (EqualsNoCase(keyword, "update") && !anyMissingDigest) {
            std::string name, source, size, checksum, digest;
            // A record with fewer fields adds no update, so it needs no digest.
            if (tokenizer.NextField(name) && tokenizer.NextField(source) &&
                tokenizer.NextField(size) && tokenizer.NextField(checksum) &&
                !(tokenizer.NextField(digest) && ParseDigestField(digest))) {
                anyMissingDigest = true;
                missingDigest = name;
            }
        }
        return true;
    });
    if (serials != 1 || !serial) return refuse(DefinitionsVerdict::kNoSerial);
    if (!EqualsNoCase(serialFile, fileName)) return refuse(DefinitionsVerdict::kOtherFile, serialFile);
    if (highestSerial && *serial < *highestSerial) {
        return refuse(DefinitionsVerdict::kOlderSerial, std::to_string(*serial));
    }
    check.serial = *serial;
    if (expiries > 0) {
        check.expires = ParseExpiry(expiryText);
        if (expiries > 1 || !check.expires) return refuse(DefinitionsVerdict::kBadExpiry, expiryText);
        if (*check.expires <= now) return refuse(DefinitionsVerdict::kExpired, expiryText);
    }
    if (anyMissingDigest) return refuse(DefinitionsVerdict::kNoDigest, missingDigest);
    check.verdict = DefinitionsVerdict::kTrusted;
    return check;
}

bool ReadPublicKeysPem(std::string_view pem, TrustedKeys& keys) {
    constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
    constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
    for (std::size_t at = pem.find(kBegin); at != std::string_view::npos; at = pem.find(kBegin, at)) {
        std::size_t bodyStart = at + kBegin.size();
        std::size_t end = pem.find(kEnd, bodyStart);
        if (end == std::string_view::npos) return false;
        std::string body;
        for (char c : pem.substr(bodyStart, end - bodyStart)) {
            if (c != '\r' && c != '\n' && c != ' ' && c != '\t') body += c;
        }
        std::optional<Bytes> der = DecodeBase64(body);
        if (!der || der->empty()) return false;
        keys.push_back(std::move(*der));
        at = end + kEnd.size();
    }
    return true;
}

}  // namespace fw
