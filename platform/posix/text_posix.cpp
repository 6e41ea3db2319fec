#include "platform/text.h"

namespace fw {

// POSIX hosts use UTF-8 or a single-byte locale: no byte of them starts a double-byte
// character, and UTF-8 sequences never contain ASCII bytes.
bool IsLeadByte(unsigned char) { return false; }

}  // namespace fw
