// Endorsement certificates as NV holds them: DER to PEM of exactly the
// certificate's bytes, and the caIssuers URI among the access descriptions.
#include <gtest/gtest.h>

#include <trustd/tpm/certificate.hpp>

#include "support/checks.hpp"

namespace Trustd {
namespace {

using Testing::Bytes;

// A self-signed certificate made by the openssl command, DER.
Bytes MakeCertificate(const Testing::TempDir& dir, const std::string& addext) {
  const auto path = dir.Path() / "certificate.der";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null "
      "-subj /CN=test -days 2 -outform DER -out '" +
      path.string() + "' " + addext + " 2>/dev/null";
  EXPECT_EQ(Testing::Shell(command), 0) << command;
  return Testing::FileBytes(path);
}

TEST(Certificate, CaIssuersUriIsTakenFromTheAccessDescriptions) {
  Testing::TempDir dir;
  struct Case {
    const char* name;
    std::string addext;
    std::optional<std::string> uri;
  };
  const Case cases[] = {
      {"no AIA", "", std::nullopt},
      {"OCSP only", "-addext 'authorityInfoAccess=OCSP;URI:http://ocsp.example.test'", std::nullopt},
      {"after OCSP",
       "-addext 'authorityInfoAccess=OCSP;URI:http://ocsp.example.test,caIssuers;URI:http://a.test/ca.cer'",
       "http://a.test/ca.cer"},
      {"first of two",
       "-addext 'authorityInfoAccess=caIssuers;URI:http://1.test/ca,caIssuers;URI:http://2.test/ca'",
       "http://1.test/ca"},
      {"not a URI", "-addext 'authorityInfoAccess=caIssuers;email:ca@example.test'", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes der = MakeCertificate(dir, c.addext);
    ASSERT_FALSE(der.empty());
    const auto certificate = CertificateFromDer(der);
    ASSERT_TRUE(certificate) << certificate.Error();
    EXPECT_EQ(certificate.Value().caIssuersUri, c.uri);
    EXPECT_EQ(Testing::CertificateDer(certificate.Value().pem), der);
  }
}

TEST(Certificate, PemHoldsTheCertificateWithoutNvPaddingAndBadBytesAreErrors) {
  Testing::TempDir dir;
  const Bytes der = MakeCertificate(dir, "");
  ASSERT_GT(der.size(), 100u);

  for (std::uint8_t pad : {0x00, 0xff}) {
    Bytes padded = der;
    padded.insert(padded.end(), 64, pad);
    const auto certificate = CertificateFromDer(padded);
    ASSERT_TRUE(certificate) << certificate.Error();
    EXPECT_EQ(Testing::CertificateDer(certificate.Value().pem), der);
  }

  const Bytes bad[] = {
      {},
      Bytes(der.begin(), der.begin() + static_cast<long>(der.size() / 2)),  // cut short
      Bytes(200, 0xff),                                                     // erased NV
      Bytes{0x30, 0x82, 0xff, 0xff, 0x02, 0x01, 0x00},                      // length past the end
  };
  for (const Bytes& bytes : bad) {
    const auto certificate = CertificateFromDer(bytes);
    EXPECT_FALSE(certificate) << bytes.size();
    EXPECT_NE(certificate.Error().find("not DER X.509"), std::string::npos) << certificate.Error();
  }
}

}  // namespace
}  // namespace Trustd
