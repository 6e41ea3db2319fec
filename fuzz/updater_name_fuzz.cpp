// Where an updater named by the server is written and fetched from: a name that passes the
// check must stay inside the temp folder on both hosts' rules.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/transfer.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view sourceUrl(reinterpret_cast<const char*>(data), size);

    std::string name = fw::UpdaterFileName(sourceUrl);
    FW_FUZZ_CHECK(name.find('/') == std::string::npos);
    FW_FUZZ_CHECK(sourceUrl.ends_with(name));
    for (bool windowsRules : {false, true}) {
        if (!fw::IsSafeUpdaterFileName(name, windowsRules)) continue;
        FW_FUZZ_CHECK(!name.empty() && name != "." && name != "..");
        FW_FUZZ_CHECK(name.find_first_of("/\\:") == std::string::npos);
        for (char c : name) FW_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        if (windowsRules) FW_FUZZ_CHECK(name.find_first_not_of(". ") != std::string::npos);
    }
    // The unix rules are never more permissive than the Windows ones.
    if (fw::IsSafeUpdaterFileName(name, true)) FW_FUZZ_CHECK(fw::IsSafeUpdaterFileName(name, false));

    fw::UpdaterSource source = fw::SplitSourceUrl(sourceUrl);
    if (!source.absolute) {
        FW_FUZZ_CHECK(source.object == sourceUrl && source.server.empty() && !source.secure);
    } else {
        FW_FUZZ_CHECK(source.server.find('/') == std::string::npos);
        FW_FUZZ_CHECK(source.server.find("http://") == std::string::npos);
        FW_FUZZ_CHECK(source.server.size() + source.object.size() <= sourceUrl.size());
    }
    return 0;
}
