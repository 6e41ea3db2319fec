// The extended "update" record and the fields of signed definitions, one line at a time: a
// digest is taken only from a well-formed sixth field, and the field readers agree with their
// own output.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/base64.h"
#include "discovery/definitions.h"
#include "discovery/signed_definitions.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    if (line.find('\n') != std::string_view::npos || line.find('\r') != std::string_view::npos) {
        return 0;  // the check hands over single lines without line ends
    }
    std::string version, server, path;
    fw::EntryArray entries;
    fw::TextList systems = {"Fablewright"};
    fw::DefinitionsTarget target{version, entries, systems, server, path};
    fw::ApplyDefinitionLine(line, target);
    FW_FUZZ_CHECK(entries.GetSize() <= 1);
    if (entries.GetSize() == 1 && entries[0].expectedDigest) {
        std::string hex = fw::DigestHex(*entries[0].expectedDigest);
        FW_FUZZ_CHECK(hex.size() == 64);
        // The digest came from a field that reads back to the same bytes.
        std::optional<fw::Sha256Digest> again = fw::ParseDigestField("sha256:" + hex);
        FW_FUZZ_CHECK(again && *again == *entries[0].expectedDigest);
    }

    // Each field reader on the whole line: what it accepts it reads back identically.
    if (std::optional<std::uint64_t> serial = fw::ParseSerial(line)) {
        FW_FUZZ_CHECK(fw::ParseSerial(std::to_string(*serial)) == serial);
    }
    if (std::optional<fw::Bytes> bytes = fw::DecodeBase64(line)) {
        FW_FUZZ_CHECK(fw::EncodeBase64(*bytes) == line);
    }
    fw::TrustedKeys keys;
    if (fw::ReadPublicKeysPem(line, keys)) {
        for (const fw::Bytes& key : keys) FW_FUZZ_CHECK(!key.empty());
    }
    return 0;
}
