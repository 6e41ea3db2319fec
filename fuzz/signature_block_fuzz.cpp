// The signature-block splitter and the signature line parser over any answer: the signed bytes
// are a prefix of the answer that ends at a line start, and every signature line lies after it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/signed_definitions.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view answer(reinterpret_cast<const char*>(data), size);
    fw::SignatureBlock block = fw::SplitSignatureBlock(answer);

    FW_FUZZ_CHECK(answer.substr(0, block.signedBytes.size()) == block.signedBytes);
    FW_FUZZ_CHECK(block.signedBytes.data() == answer.data() || block.signedBytes.empty());
    FW_FUZZ_CHECK(block.found == !block.signatureLines.empty());
    if (!block.found) {
        FW_FUZZ_CHECK(block.signedBytes.size() == answer.size());
        FW_FUZZ_CHECK(!block.othersAfter);
    } else {
        FW_FUZZ_CHECK(block.signedBytes.empty() || block.signedBytes.back() == '\n');
        FW_FUZZ_CHECK(block.signedBytes.size() < answer.size());
    }
    for (std::string_view line : block.signatureLines) {
        // Every line is a view into the answer, after the signed bytes, without its line end.
        FW_FUZZ_CHECK(line.data() >= answer.data() + block.signedBytes.size());
        FW_FUZZ_CHECK(line.data() + line.size() <= answer.data() + answer.size());
        FW_FUZZ_CHECK(line.find('\n') == std::string_view::npos);
        FW_FUZZ_CHECK(line.empty() || line.back() != '\r');
        fw::SignatureLine parsed;
        if (fw::ParseSignatureLine(line, parsed)) {
            FW_FUZZ_CHECK(parsed.keyId.size() == 16);
            FW_FUZZ_CHECK(!parsed.signature.empty());
            FW_FUZZ_CHECK(parsed.keyId.find_first_not_of("0123456789abcdef") == std::string::npos);
        }
    }
    // Splitting the signed bytes again finds nothing to cut.
    fw::SignatureBlock again = fw::SplitSignatureBlock(block.signedBytes);
    FW_FUZZ_CHECK(!again.found && again.signedBytes.size() == block.signedBytes.size());

    // With no trusted key nothing can pass.
    fw::DefinitionsCheck check = fw::CheckSignedDefinitions(answer, "FablewrightUpdates.txt", {}, 7, 0);
    FW_FUZZ_CHECK(check.verdict != fw::DefinitionsVerdict::kTrusted);
    return 0;
}
