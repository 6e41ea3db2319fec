#include "platform/crypto.h"

namespace fw {

bool VerifyEcdsaP256Sha256(std::span<const std::uint8_t> publicKeyDer,
                           std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signatureDer) {
    Sha256Digest digest;
    return Sha256::Of(message, digest) &&
           VerifyEcdsaP256Sha256Digest(publicKeyDer, digest, signatureDer);
}

}  // namespace fw
