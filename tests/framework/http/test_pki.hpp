// A throw-away PKI for the transport's tests and benchmarks, made with
// OpenSSL at run time: a CA, a server certificate for 127.0.0.1, ::1 and
// localhost, a client certificate, an unrelated CA, an expired server
// certificate. Also the bits a token file needs.
#pragma once

#include <sys/types.h>
#include <string>

namespace Tovri {
namespace HttpTest {

// PEM files, all in one directory.
struct TestPki {
  std::string caCertificate;
  std::string serverCertificate;  // issued by the CA, valid now
  std::string serverKey;
  std::string clientCertificate;  // issued by the CA, CN=tovri-test-client
  std::string clientKey;
  std::string otherCaCertificate;        // an unrelated CA
  std::string expiredServerCertificate;  // issued by the CA, expired yesterday
  std::string expiredServerKey;
};

// Writes the files into `directory` (which must exist). False, with
// `error`, when OpenSSL or the file system fails.
bool MakeTestPki(const std::string& directory, TestPki& pki, std::string& error);

// A new private directory under $TMPDIR (or /tmp), removed with what it
// holds when the object goes; path() is empty when it could not be made.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// "sha256:<hex>" of `token`, as a token file lists it.
std::string TokenHash(const std::string& token);

// Writes `text` to `path` with the given permission bits (umask aside).
bool WriteFileWithMode(const std::string& path, const std::string& text, mode_t mode);

}  // namespace HttpTest
}  // namespace Tovri
