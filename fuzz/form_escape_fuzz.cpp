// The update request's form over any folder, version and names: every field must come back
// whole when the body is split and unescaped, so no name can smuggle a field of its own.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/update_request.h"
#include "fuzz/fuzz_check.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // the form is written in lower-case hex only
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::vector<std::string_view> Split(std::string_view text, char at) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(at, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    bool beta = provider.ConsumeBool();
    std::string folder = provider.ConsumeRandomLengthString(80);
    std::string version = provider.ConsumeRandomLengthString(30);
    fw::TextList systems;
    // Installed names are never empty: the inventory skips templates without a name, and an
    // "equiv" record's name is never its first field.
    while (provider.remaining_bytes() > 0 && systems.size() < 20) {
        std::string name = provider.ConsumeRandomLengthString(40);
        if (!name.empty()) systems.push_back(name);
    }

    std::string escaped;
    fw::EscapeFormText(escaped, folder);
    std::string back;
    FW_FUZZ_CHECK(Unescape(escaped, back) && back == folder);
    FW_FUZZ_CHECK(escaped.find_first_of("&= +\"") == std::string::npos);

    std::string body = fw::BuildUpdateRequestBody(beta, folder, version, systems);
    std::vector<std::string_view> fields = Split(body, '&');
    FW_FUZZ_CHECK(fields.size() == (beta ? 4u : 3u));
    std::vector<std::string> names, values;
    for (std::string_view field : fields) {
        std::vector<std::string_view> pair = Split(field, '=');
        FW_FUZZ_CHECK(pair.size() == 2);
        std::string name, value;
        FW_FUZZ_CHECK(Unescape(pair[0], name) && Unescape(pair[1], value));
        names.push_back(name);
        values.push_back(value);
    }
    std::size_t at = 0;
    if (beta) {
        FW_FUZZ_CHECK(names[0] == "beta" && values[0] == "true");
        at = 1;
    }
    std::string dir = folder;
    std::replace(dir.begin(), dir.end(), '\\', '/');
    std::string joined;
    for (std::size_t i = 0; i < systems.size(); ++i) joined += (i == 0 ? "" : ";") + systems[i];
    FW_FUZZ_CHECK(names[at] == "dir" && values[at] == dir);
    FW_FUZZ_CHECK(names[at + 1] == "version" && values[at + 1] == version);
    FW_FUZZ_CHECK(names[at + 2] == "systems" && values[at + 2] == joined);

    std::string headers = fw::UpdateRequestHeaders(body.size());
    FW_FUZZ_CHECK(headers.find(std::to_string(body.size())) != std::string::npos);
    return 0;
}
