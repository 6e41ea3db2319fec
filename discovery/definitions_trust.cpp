#include "discovery/definitions_trust.h"

#include <algorithm>
#include <utility>

#include "discovery/signed_definitions.h"
#include "res/resource.h"
#include "res/strings.h"

namespace fw {
namespace {

// Where the serials live: below the tool's settings key, one sub-key per definitions file.
std::string SerialSubKey(std::string_view fileName) {
    return "DefinitionsSerial\\" + std::string(fileName);
}

constexpr int kCodeAnswerBroken = -4;  // as the line-by-line reading reports a broken answer
constexpr std::size_t kReadPiece = 64 * 1024;

}  // namespace

std::vector<FormatArg> Refusal::Args() const {
    std::vector<FormatArg> args;
    if (textId == res::kStrUnavailable) args.emplace_back(code);
    for (const std::string& text : texts) args.emplace_back(text);
    if (textId == res::kStrNewerDefinitions) args.emplace_back(code);
    return args;
}

ReadStatus AnswerLines::NextLine(std::string& line) {
    if (position >= size) return ReadStatus::kEnd;
    std::size_t end = answer.find('\n', position);
    if (end == std::string::npos || end > size) end = size;
    line.clear();
    for (std::size_t i = position; i < end; ++i) {
        if (answer[i] != '\r') line += answer[i];
    }
    position = end < size ? end + 1 : size;
    return ReadStatus::kOk;
}

void AnswerLines::Load(std::string bytes, std::size_t linesSize) {
    answer = std::move(bytes);
    size = std::min(linesSize, answer.size());
    position = 0;
}

void TrustedAnswer::Accept(std::string checkedAnswer, std::size_t signedBytes,
                           std::uint64_t acceptedSerial) {
    Load(std::move(checkedAnswer), signedBytes);
    serial = acceptedSerial;
    active = true;
}

std::optional<std::uint64_t> AcceptedSerial(Registry& registry, std::string_view fileName) {
    std::unique_ptr<RegistryKey> key = registry.CreateKey(res::LoadString(res::kStrRegistryKey));
    std::string value;
    if (!key || !key->QueryValue(SerialSubKey(fileName), value, 64)) return std::nullopt;
    return ParseSerial(value);
}

void RememberSerial(Registry& registry, std::string_view fileName, std::uint64_t serial) {
    if (std::unique_ptr<RegistryKey> key = registry.CreateKey(res::LoadString(res::kStrRegistryKey))) {
        key->SetValue(SerialSubKey(fileName), std::to_string(serial));
    }
}

Refusal ReadTrustedDefinitions(HttpRequest& request, std::string_view fileName,
                               const TrustedKeys& keys, Registry& registry, std::int64_t now,
                               TrustedAnswer& trusted, const WaitCallback& whileWaiting) {
    std::string answer;
    for (;;) {
        std::size_t had = answer.size();
        answer.resize(had + kReadPiece);
        std::ptrdiff_t count = request.ReadBlock(answer.data() + had, kReadPiece, whileWaiting);
        answer.resize(had + static_cast<std::size_t>(count > 0 ? count : 0));
        if (count == 0) break;
        if (count < 0) return {res::kStrUnavailable, {}, kCodeAnswerBroken};
        // Definitions beyond any sensible size are not definitions.
        if (answer.size() > kMaxDefinitionsBytes) return {res::kStrBadFormat, {}};
    }
    return CheckTrustedDefinitions(std::move(answer), fileName, keys, registry, now, trusted);
}

Refusal CheckTrustedDefinitions(std::string answer, std::string_view fileName,
                                const TrustedKeys& keys, Registry& registry, std::int64_t now,
                                TrustedAnswer& trusted) {
    if (answer.size() > kMaxDefinitionsBytes) return {res::kStrBadFormat, {}};
    std::optional<std::uint64_t> accepted = AcceptedSerial(registry, fileName);
    DefinitionsCheck check = CheckSignedDefinitions(answer, fileName, keys, accepted, now);
    switch (check.verdict) {
    case DefinitionsVerdict::kTrusted:
        break;
    case DefinitionsVerdict::kUnsigned:
        return {res::kStrDefsUnsigned, {}};
    case DefinitionsVerdict::kUnknownKey:
        return {res::kStrDefsUnknownKey, {check.detail}};
    case DefinitionsVerdict::kDamaged:
        return {res::kStrDefsSignatureDamaged, {}};
    case DefinitionsVerdict::kBadSignature:
        return {res::kStrDefsBadSignature, {}};
    case DefinitionsVerdict::kLinesAfter:
        return {res::kStrDefsLinesAfter, {}};
    case DefinitionsVerdict::kNoSerial:
        return {res::kStrDefsNoSerial, {}};
    case DefinitionsVerdict::kOtherFile:
        return {res::kStrDefsOtherFile, {check.detail, std::string(fileName)}};
    case DefinitionsVerdict::kOlderSerial:
        return {res::kStrDefsOlderSerial, {check.detail, std::to_string(accepted.value_or(0))}};
    case DefinitionsVerdict::kNoDigest:
        return {res::kStrDefsNoDigest, {check.detail}};
    case DefinitionsVerdict::kBadExpiry:
        return {res::kStrDefsBadExpiry, {check.detail}};
    case DefinitionsVerdict::kExpired:
        return {res::kStrDefsExpired, {check.detail}};
    }
    trusted.Accept(std::move(answer), check.signedBytes.size(), check.serial);
    return {};
}

}  // namespace fw
