#include "app/builtin_keys.h"

#include "discovery/signed_definitions.h"

namespace fw {

TrustedKeys BuiltInTrustedKeys() { return TrustedKeysFromPem(BuiltInTrustedKeysPem()); }

TrustedKeys TrustedKeysFromPem(std::string_view pem) {
    TrustedKeys keys;
    bool hasText = pem.find_first_not_of(" \r\n\t") != std::string_view::npos;
    if (!ReadPublicKeysPem(pem, keys) || (hasText && keys.empty())) return TrustedKeys{Bytes{}};
    return keys;
}

}  // namespace fw
