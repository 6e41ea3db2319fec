// The registry file over any bytes: whatever parses must write back to a document that parses
// to the same thing, and a default value set in it must read back.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/posix/reg_file.h"

namespace {

const std::vector<std::string> kKey = {"Software", "Corvallen", "Fablewright", "InstallDir"};

bool SameDocument(const fw::RegDocument& a, const fw::RegDocument& b) {
    if (a.sections.size() != b.sections.size()) return false;
    for (std::size_t i = 0; i < a.sections.size(); ++i) {
        const fw::RegSection& x = a.sections[i];
        const fw::RegSection& y = b.sections[i];
        if (x.header != y.header || x.deletion != y.deletion || x.currentUser != y.currentUser ||
            x.keyPath != y.keyPath || x.lines.size() != y.lines.size()) {
            return false;
        }
        for (std::size_t j = 0; j < x.lines.size(); ++j) {
            if (x.lines[j].text != y.lines[j].text || x.lines[j].kind != y.lines[j].kind ||
                x.lines[j].value != y.lines[j].value) {
                return false;
            }
        }
    }
    return a.byteOrderMark == b.byteOrderMark && a.preamble == b.preamble;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::string value = provider.ConsumeRandomLengthString(64);
    std::string text = provider.ConsumeRemainingBytesAsString();

    fw::RegParseResult parsed = fw::ParseRegFile(text);
    if (!parsed.document) {
        FW_FUZZ_CHECK(!parsed.error.empty());
        return 0;
    }
    fw::RegDocument& document = *parsed.document;
    std::string written = fw::SerializeRegFile(document);
    fw::RegParseResult again = fw::ParseRegFile(written);
    FW_FUZZ_CHECK(again.document.has_value());
    FW_FUZZ_CHECK(SameDocument(document, *again.document));
    FW_FUZZ_CHECK(fw::SerializeRegFile(*again.document) == written);

    // What the program reads before any change is what the rewritten file says too.
    fw::RegDefaultValue before = fw::FindRegDefault(document, kKey);
    fw::RegDefaultValue reread = fw::FindRegDefault(*again.document, kKey);
    FW_FUZZ_CHECK(before.state == reread.state && before.text == reread.text);

    if (fw::RegValueStorable(value)) {
        fw::SetRegDefault(document, kKey, value);
        fw::RegDefaultValue after = fw::FindRegDefault(document, kKey);
        FW_FUZZ_CHECK(after.state == fw::RegDefaultState::kText && after.text == value);
        fw::RegParseResult stored = fw::ParseRegFile(fw::SerializeRegFile(document));
        FW_FUZZ_CHECK(stored.document.has_value());
        fw::RegDefaultValue loaded = fw::FindRegDefault(*stored.document, kKey);
        FW_FUZZ_CHECK(loaded.state == fw::RegDefaultState::kText && loaded.text == value);
    }
    return 0;
}
