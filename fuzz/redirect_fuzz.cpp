// Where a server's Location header leads, and server addresses as the command line, the
// definitions and update records write them: whatever the text, a target is an address that
// reads back as itself and an object without controls or a fragment.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/http_redirects.h"
#include "platform/server_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    if (std::optional<fw::ServerAddress> address = fw::ParseServerAddress(text)) {
        FW_FUZZ_CHECK(!address->host.empty() && address->port != 0);
        FW_FUZZ_CHECK(fw::ParseServerAddress(fw::FormatServerAddress(*address)) == address);
        FW_FUZZ_CHECK(address->host.find_first_of("/@?# ") == std::string::npos);
        FW_FUZZ_CHECK(fw::SameServer(text, fw::FormatServerAddress(*address)));
    }

    for (bool secure : {false, true}) {
        fw::ServerAddress from{secure, "origin.example", 8443};
        std::optional<fw::RedirectTarget> target = fw::ResolveRedirect(from, "a/b.exe?x", text);
        if (!target) continue;
        FW_FUZZ_CHECK(fw::ParseServerAddress(fw::FormatServerAddress(target->server)) ==
                      target->server);
        FW_FUZZ_CHECK(target->object.find('#') == std::string::npos);
        for (char c : target->object) {
            auto byte = static_cast<unsigned char>(c);
            FW_FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
        }
    }
    return 0;
}
