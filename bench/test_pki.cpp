// The test CA of the TLS cases, made with the openssl command line rather
// than by hand-written code.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "loopback.hpp"
#include "registry.hpp"

namespace DralBench {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void Run(const std::string& command) {
  Require(std::system((command + " >/dev/null 2>&1").c_str()) == 0, "openssl: " + command);
}

TestPki Make() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dral-bench-pki-XXXXXX").string();
  Require(mkdtemp(pattern.data()) != nullptr, "a temporary directory for the test CA");
  TestPki pki;
  pki.directory = pattern;
  const std::string d = pki.directory + "/";
  pki.caCertFile = d + "ca.pem";
  pki.serverCertFile = d + "server.pem";
  pki.serverKeyFile = d + "server.key";
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  Run("openssl req -x509 " + key + " -keyout " + d + "ca.key -out " + pki.caCertFile +
      " -days 2 -subj /CN=dral-bench-ca");
  Run("openssl req " + key + " -keyout " + pki.serverKeyFile + " -out " + d +
      "server.csr -subj /CN=localhost");
  {
    std::ofstream extensions(d + "server.ext");
    extensions << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
  }
  Run("openssl x509 -req -in " + d + "server.csr -CA " + pki.caCertFile + " -CAkey " + d +
      "ca.key -CAcreateserial -days 2 -extfile " + d + "server.ext -out " + pki.serverCertFile);
  pki.caCert = ReadFile(pki.caCertFile);
  pki.serverCert = ReadFile(pki.serverCertFile);
  pki.serverKey = ReadFile(pki.serverKeyFile);
  Require(!pki.caCert.empty() && !pki.serverCert.empty() && !pki.serverKey.empty(), "the test CA's files");
  return pki;
}

}  // namespace

const TestPki& GetTestPki() {
  static const TestPki* pki = [] {
    auto* made = new TestPki(Make());
    AtEnd([made] {
      std::error_code ignored;
      std::filesystem::remove_all(made->directory, ignored);
      delete made;
    });
    return made;
  }();
  return *pki;
}

}  // namespace DralBench
