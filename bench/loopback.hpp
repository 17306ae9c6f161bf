// What the loopback transport cases share: the security of the connection
// (one parameter, so that a TLS row is one more registration), the case
// names, and a test certificate authority made by the openssl command.
//
// Names: "tcp/<call>[_tls]/<contestant>" for one client's latency and
// "tcp/<call>[_tls]_x8/<contestant>" for the throughput of 8 clients.
#pragma once

#include <string>

namespace DralBench {

enum class Security { kPlain, kTls };

constexpr int kLoopbackClients = 8;

inline std::string LoopbackName(const std::string& call, Security security, bool concurrent,
                                const std::string& contestant) {
  return "tcp/" + call + (security == Security::kTls ? "_tls" : "") + (concurrent ? "_x8" : "") + "/" +
         contestant;
}

// A CA and a server certificate for 127.0.0.1 and localhost (EC P-256),
// made once per process in a temporary directory that is removed at the
// end. Ends the process when openssl fails.
struct TestPki {
  std::string directory;
  std::string caCertFile;
  std::string serverCertFile;
  std::string serverKeyFile;
  // The same files' PEM texts.
  std::string caCert;
  std::string serverCert;
  std::string serverKey;
};
const TestPki& GetTestPki();

}  // namespace DralBench
