// What trustd's tests use to check TPM-shaped results independently of the
// code under test: OpenSSL digests and PEM parsing, file bytes, a shell.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace Trustd {
namespace Testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Hex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (auto b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// `name` is an OpenSSL digest name ("SHA256").
inline Bytes Digest(const char* name, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &size, EVP_get_digestbyname(name), nullptr);
  out.resize(size);
  return out;
}

// The DER of the first certificate in a PEM text; nothing when it has none.
inline std::optional<Bytes> CertificateDer(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  char* name = nullptr;
  char* header = nullptr;
  unsigned char* data = nullptr;
  long length = 0;
  std::optional<Bytes> out;
  if (PEM_read_bio(bio, &name, &header, &data, &length) == 1 && std::string(name) == PEM_STRING_X509) {
    const unsigned char* cursor = data;
    X509* certificate = d2i_X509(nullptr, &cursor, length);
    if (certificate != nullptr && cursor == data + length) out = Bytes(data, data + length);
    X509_free(certificate);
  }
  OPENSSL_free(name);
  OPENSSL_free(header);
  OPENSSL_free(data);
  BIO_free(bio);
  return out;
}

// Whether two PEM texts hold the same public key (a PUBLIC KEY or a
// certificate's).
inline bool SamePublicKey(const std::string& a, const std::string& b) {
  const auto load = [](const std::string& pem) -> EVP_PKEY* {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    if (key == nullptr) {
      BIO_free(bio);
      bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
      X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
      if (certificate != nullptr) key = X509_get_pubkey(certificate);
      X509_free(certificate);
    }
    BIO_free(bio);
    return key;
  };
  EVP_PKEY* first = load(a);
  EVP_PKEY* second = load(b);
  const bool same = first != nullptr && second != nullptr && EVP_PKEY_eq(first, second) == 1;
  EVP_PKEY_free(first);
  EVP_PKEY_free(second);
  return same;
}

// Exit status of a shell command (-1 when it did not exit normally).
inline int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh directory under $TMPDIR (or /tmp), removed with the object.
class TempDir {
 public:
  TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trustd-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace Testing
}  // namespace Trustd
