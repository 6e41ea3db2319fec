#include "tests/support/test_signer.h"

#include "discovery/base64.h"
#include "discovery/signed_definitions.h"

namespace fw::test {

std::string TestSigner::KeyId() const { return KeyIdOf(publicKey); }

std::string TestSigner::SignatureLine(std::string_view message) const {
    return "signature~" + std::string(kSignatureAlgorithm) + "~" + KeyId() + "~" +
           EncodeBase64(Sign(message));
}

std::string SameChecksumOtherBytes(std::string bytes) {
    bytes.at(0) = static_cast<char>(bytes.at(0) ^ 0x5A);
    bytes.at(64) = static_cast<char>(bytes.at(64) ^ 0x5A);
    return bytes;
}

}  // namespace fw::test
