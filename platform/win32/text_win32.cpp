#include "platform/text.h"

#include "platform/win32/windows_win32.h"

namespace fw {

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace fw
