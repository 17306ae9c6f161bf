#include "test_pki.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace Tovri {
namespace HttpTest {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;

Key NewKey() { return Key(EVP_EC_gen("P-256"), &EVP_PKEY_free); }

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (!extension) return false;
  const bool ok = X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return ok;
}

struct Request {
  const char* commonName;
  bool ca = false;
  const char* subjectAltName = nullptr;
  const char* extendedKeyUsage = nullptr;
  long notBefore = -kDay;  // seconds from now
  long notAfter = 30 * kDay;
};

// Signed by (issuer, issuerKey), or by itself when issuer is null.
Certificate Issue(const Request& request, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
  static long serial = 1;
  Certificate certificate(X509_new(), &X509_free);
  X509* c = certificate.get();
  bool ok = c && X509_set_version(c, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(c), serial++) == 1 &&
            X509_gmtime_adj(X509_getm_notBefore(c), request.notBefore) &&
            X509_gmtime_adj(X509_getm_notAfter(c), request.notAfter) && X509_set_pubkey(c, key) == 1;
  X509_NAME* name = ok ? X509_get_subject_name(c) : nullptr;
  ok = ok &&
       X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>("Tovri tests"), -1, -1, 0) == 1 &&
       X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>(request.commonName), -1, -1, 0) == 1;
  X509* signer = issuer ? issuer : c;
  ok = ok && X509_set_issuer_name(c, X509_get_subject_name(signer)) == 1;
  ok = ok && AddExtension(c, signer, NID_basic_constraints, request.ca ? "critical,CA:TRUE" : "CA:FALSE");
  ok = ok && AddExtension(c, signer, NID_key_usage,
                          request.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  ok = ok && AddExtension(c, signer, NID_subject_key_identifier, "hash");
  if (issuer) ok = ok && AddExtension(c, signer, NID_authority_key_identifier, "keyid");
  if (request.subjectAltName)
    ok = ok && AddExtension(c, signer, NID_subject_alt_name, request.subjectAltName);
  if (request.extendedKeyUsage)
    ok = ok && AddExtension(c, signer, NID_ext_key_usage, request.extendedKeyUsage);
  ok = ok && X509_sign(c, issuerKey ? issuerKey : key, EVP_sha256()) > 0;
  if (!ok) certificate.reset();
  return certificate;
}

bool WritePem(const std::string& path, X509* certificate, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) return false;
  bool ok = certificate ? PEM_write_X509(file, certificate) == 1
                        : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(file) == 0 && ok;
  return ok && ::chmod(path.c_str(), 0600) == 0;
}

}  // namespace

bool MakeTestPki(const std::string& directory, TestPki& pki, std::string& error) {
  const std::string at = directory + "/";
  Key caKey = NewKey(), otherCaKey = NewKey(), serverKey = NewKey(), clientKey = NewKey(),
      expiredKey = NewKey();
  if (!caKey || !otherCaKey || !serverKey || !clientKey || !expiredKey) {
    error = "cannot make keys";
    return false;
  }
  Request caRequest{"Tovri test CA"};
  caRequest.ca = true;
  Certificate ca = Issue(caRequest, caKey.get(), nullptr, nullptr);
  Request otherRequest{"Tovri unrelated CA"};
  otherRequest.ca = true;
  Certificate otherCa =
      ca ? Issue(otherRequest, otherCaKey.get(), nullptr, nullptr) : Certificate(nullptr, &X509_free);
  Request serverRequest{"localhost"};
  serverRequest.subjectAltName = "IP:127.0.0.1,IP:::1,DNS:localhost";
  serverRequest.extendedKeyUsage = "serverAuth";
  Certificate server =
      ca ? Issue(serverRequest, serverKey.get(), ca.get(), caKey.get()) : Certificate(nullptr, &X509_free);
  Request expiredRequest = serverRequest;
  expiredRequest.notBefore = -3 * kDay;
  expiredRequest.notAfter = -kDay;
  Certificate expired =
      ca ? Issue(expiredRequest, expiredKey.get(), ca.get(), caKey.get()) : Certificate(nullptr, &X509_free);
  Request clientRequest{"tovri-test-client"};
  clientRequest.extendedKeyUsage = "clientAuth";
  Certificate client =
      ca ? Issue(clientRequest, clientKey.get(), ca.get(), caKey.get()) : Certificate(nullptr, &X509_free);
  if (!ca || !otherCa || !server || !expired || !client) {
    error = "cannot issue the certificates";
    return false;
  }
  pki.caCertificate = at + "ca.pem";
  pki.otherCaCertificate = at + "other-ca.pem";
  pki.serverCertificate = at + "server.pem";
  pki.serverKey = at + "server.key";
  pki.clientCertificate = at + "client.pem";
  pki.clientKey = at + "client.key";
  pki.expiredServerCertificate = at + "expired.pem";
  pki.expiredServerKey = at + "expired.key";
  const bool ok = WritePem(pki.caCertificate, ca.get(), nullptr) &&
                  WritePem(pki.otherCaCertificate, otherCa.get(), nullptr) &&
                  WritePem(pki.serverCertificate, server.get(), nullptr) &&
                  WritePem(pki.serverKey, nullptr, serverKey.get()) &&
                  WritePem(pki.clientCertificate, client.get(), nullptr) &&
                  WritePem(pki.clientKey, nullptr, clientKey.get()) &&
                  WritePem(pki.expiredServerCertificate, expired.get(), nullptr) &&
                  WritePem(pki.expiredServerKey, nullptr, expiredKey.get());
  if (!ok) error = "cannot write the files into " + directory;
  return ok;
}

TempDirectory::TempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovri-pki-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDirectory::~TempDirectory() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TokenHash(const std::string& token) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(token.data(), token.size(), digest, &size, EVP_sha256(), nullptr) != 1) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string out = "sha256:";
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

bool WriteFileWithMode(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::fchmod(fd, mode) == 0 && ok;
  return ::close(fd) == 0 && ok;
}

}  // namespace HttpTest
}  // namespace Tovri
