// OpenSSL's side of the endorsement keys: public keys from their TPM numbers
// to PEM, and the digest of the default EK policy.
#pragma once

#include <cstdint>
#include <vector>

#include <trustd/result.hpp>

namespace Trustd {
namespace Detail {

using Bytes = std::vector<std::uint8_t>;

// An RSA public key from its modulus (big-endian) and exponent; an exponent
// of 0 is the TPM's way of saying 65537.
Result<std::string> RsaPublicKeyPem(const Bytes& modulus, std::uint32_t exponent);
// A NIST P-256 public key from its coordinates (big-endian).
Result<std::string> P256PublicKeyPem(const Bytes& x, const Bytes& y);
// SHA-256 policy digest of PolicySecret(TPM_RH_ENDORSEMENT) with no policy
// reference: the EK templates' authPolicy.
Result<Bytes> EndorsementPolicyDigest();

}  // namespace Detail
}  // namespace Trustd
