#pragma once
// What the system's code page says about single bytes of 8-bit text.

namespace fw {

// Whether `byte` starts a two-byte character of the active code page. On hosts whose texts are
// not in a double-byte code page this is always false.
bool IsLeadByte(unsigned char byte);

}  // namespace fw
