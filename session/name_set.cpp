#include "session/name_set.h"

#include "platform/text.h"

namespace fw {

std::string FoldNameCase(std::string_view name) {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        auto byte = static_cast<unsigned char>(folded[i]);
        if (IsLeadByte(byte)) {
            ++i;  // the trail byte may look like a letter; it stays as it is
        } else if (byte >= 'A' && byte <= 'Z') {
            folded[i] = static_cast<char>(byte - 'A' + 'a');
        }
    }
    return folded;
}

}  // namespace fw
