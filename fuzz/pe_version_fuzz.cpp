// The version resource of any executable, and the file version read from what it yields (and
// from the raw bytes, as a block the platform's own service could return).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "discovery/file_version.h"
#include "fuzz/fuzz_check.h"
#include "platform/posix/pe_version_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> file(data, size);
    std::optional<std::vector<std::uint8_t>> block = fw::ExtractVersionResource(file);
    if (block) {
        // The block is bytes of the file, never more than it holds.
        FW_FUZZ_CHECK(block->size() <= size);
        FW_FUZZ_CHECK(block->empty() ||
                      std::search(file.begin(), file.end(), block->begin(), block->end()) !=
                          file.end());
        std::uint64_t version = fw::FileVersionFromBlock(*block);
        FW_FUZZ_CHECK(fw::FormatFileVersion(version).size() <= 23);
    }
    std::uint64_t raw = fw::FileVersionFromBlock(file);
    if (size < 36) FW_FUZZ_CHECK(raw == fw::kUnknownFileVersion);
    FW_FUZZ_CHECK(fw::FormatFileVersion(raw).size() <= 23);
    return 0;
}
