// An endorsement certificate as NV holds it: DER, possibly followed by
// padding up to the index's size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <trustd/result.hpp>

namespace Trustd {

struct Certificate {
  // The bytes of the first X.509 certificate in the input, PEM.
  std::string pem;
  // Its Authority Information Access caIssuers URI, when it has one.
  std::optional<std::string> caIssuersUri;
};

Result<Certificate> CertificateFromDer(const std::vector<std::uint8_t>& der);

}  // namespace Trustd
