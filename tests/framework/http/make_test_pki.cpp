// make_test_pki <dir>: writes the tests' throw-away PKI into <dir> and
// prints the files, one "name path" a line, for shell and Python tests.
#include <cstdio>
#include <string>

#include "test_pki.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  Tovri::HttpTest::TestPki pki;
  std::string error;
  if (!Tovri::HttpTest::MakeTestPki(argv[1], pki, error)) {
    std::fprintf(stderr, "make_test_pki: %s\n", error.c_str());
    return 1;
  }
  const std::pair<const char*, const std::string*> files[] = {{"ca", &pki.caCertificate},
                                                              {"server_cert", &pki.serverCertificate},
                                                              {"server_key", &pki.serverKey},
                                                              {"client_cert", &pki.clientCertificate},
                                                              {"client_key", &pki.clientKey},
                                                              {"other_ca", &pki.otherCaCertificate},
                                                              {"expired_cert", &pki.expiredServerCertificate},
                                                              {"expired_key", &pki.expiredServerKey}};
  for (const auto& file : files) std::printf("%s %s\n", file.first, file.second->c_str());
  return 0;
}
