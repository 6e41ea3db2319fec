#include "session/update_entry.h"

#include "platform/text.h"

namespace fw {

UpdateEntry* EntryArray::FindByName(std::string_view name) {
    for (UpdateEntry& entry : entries) {
        if (EqualsNoCase(entry.templateName, name)) return &entry;
    }
    return nullptr;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        // The trail byte of a double-byte character may look like an ASCII letter; the whole
        // character is compared exactly.
        if (IsLeadByte(x) || IsLeadByte(y)) {
            if (x != y) return false;
            if (i + 1 < a.size()) {
                ++i;
                if (a[i] != b[i]) return false;
            }
            continue;
        }
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace fw
