#pragma once
// The public keys built into this program (cmake/trusted_keys.cmake). The host's main hands
// them to the dialogs through the Platform bundle; tests pass keys of their own instead.

#include <string_view>

#include "platform/crypto.h"

namespace fw {

// The PEM text the build embedded; empty when it trusts no key.
std::string_view BuiltInTrustedKeysPem();

// The keys of a PEM text. Should a text that is not empty fail to read, the result is a key
// that verifies nothing, so that a damaged build refuses every definitions file rather than
// checking none.
TrustedKeys TrustedKeysFromPem(std::string_view pem);

// The keys built into this program.
TrustedKeys BuiltInTrustedKeys();

}  // namespace fw
