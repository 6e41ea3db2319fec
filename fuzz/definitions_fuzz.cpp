// A whole definitions answer, read the way the check reads it: split at LF, every CR dropped,
// a last line without LF still a line, the running total bounded, each line applied in turn
// until one ends the check.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/definitions.h"
#include "discovery/inventory.h"
#include "fuzz/fuzz_check.h"
#include "platform/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view answer(reinterpret_cast<const char*>(data), size);
    std::string availableVersion = "before";
    fw::EntryArray updateEntries;
    fw::TextList installedSystems = {"Fablewright", "Sci Fi"};
    std::string infoServer = "info.example";
    std::string infoPath = "vrn/sendupdinfo.php";
    fw::DefinitionsTarget target{availableVersion, updateEntries, installedSystems, infoServer,
                                 infoPath};

    std::size_t received = 0;
    std::size_t lines = 0;
    std::size_t equivLines = 0;
    std::size_t position = 0;
    while (position < answer.size()) {
        std::size_t end = answer.find('\n', position);
        std::string_view raw = answer.substr(position, end == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : end - position);
        position = end == std::string_view::npos ? answer.size() : end + 1;
        std::string line;
        for (char c : raw) {
            if (c != '\r') line += c;
        }
        FW_FUZZ_CHECK(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
        received += line.size() + 1;
        if (line.size() > fw::kMaxLineBytes || received > fw::kMaxDefinitionsBytes) break;
        ++lines;
        if (line.size() >= 5 && fw::EqualsNoCase(std::string_view(line).substr(0, 5), "equiv")) {
            ++equivLines;
        }
        fw::LineResult result = fw::ApplyDefinitionLine(line, target);
        if (result.outcome == fw::LineOutcome::kBadFormat) {
            // Only a line that starts with a tilde and holds nothing else can lack a keyword...
            // and then the tokenizer yields the empty keyword, so this never happens.
            FW_FUZZ_CHECK(false);
        }
        if (result.outcome == fw::LineOutcome::kTooNew) {
            FW_FUZZ_CHECK(fw::ParseDecimal32(result.versionText) > fw::kHighestDefinitionsVersion);
            break;
        }
    }

    // Every record adds at most one entry or one name, and every entry is whole.
    FW_FUZZ_CHECK(updateEntries.GetSize() <= lines);
    FW_FUZZ_CHECK(installedSystems.size() <= 2 + equivLines);
    for (std::size_t i = 0; i < updateEntries.GetSize(); ++i) {
        const fw::UpdateEntry& entry = updateEntries[i];
        FW_FUZZ_CHECK(entry.sourceUrl.find('~') == std::string::npos);
        FW_FUZZ_CHECK(entry.templateName.find('~') == std::string::npos);
        FW_FUZZ_CHECK(!entry.sourceUrl.empty());
        FW_FUZZ_CHECK(entry.localPath == nullptr);
    }
    FW_FUZZ_CHECK(availableVersion.find('~') == std::string::npos);
    FW_FUZZ_CHECK(infoServer.find('~') == std::string::npos);
    return 0;
}
