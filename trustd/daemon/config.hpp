// trustd's configuration file: what it listens on and how it is secured,
// which TPMs it serves, where it keeps its state, and its limits. JSON,
// read with Boost.JSON; every key is documented in docs/trustd.md. A key
// nobody knows is an error, so that a typo does not silently fall back to a
// default.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <tovri/http/server.hpp>
#include <trustd/result.hpp>

namespace Trustd {

struct TpmConfig {
  std::string id;        // what the services call it ("tpm0")
  std::string tcti;      // "device:/dev/tpmrm0", "swtpm:host=127.0.0.1,port=2321"
  std::string eventLog;  // the measured-boot log; empty: none
  // How long one TPM command may go unanswered (and a call wait behind
  // another) before the call fails.
  int commandTimeoutMs = 10000;
};

struct TrustAuthorityConfig {
  std::string hostname;
  int port = 443;
};

enum class LogLevel { kError = 3, kWarning = 4, kInfo = 6, kDebug = 7 };

struct Config {
  // Where the file was read from; relative paths in it are resolved against
  // its directory.
  std::string path;

  std::vector<Tovri::Http::ListenAddress> listen;
  std::optional<Tovri::Http::TlsServerOptions> tls;
  bool allowPlainHttp = false;  // plain HTTP beyond loopback
  std::string tokenFile;        // empty: no authentication (loopback only)
  Tovri::Http::RoleMap roles = Tovri::Http::DefaultRoles();

  std::vector<TpmConfig> tpms;
  std::string stateDirectory;    // trustd.db and store.key
  std::string reportsDirectory;  // attestation tokens, one directory per service
  std::optional<TrustAuthorityConfig> trustAuthority;

  std::size_t eventLogMaxBytes = 4 * 1024 * 1024;
  std::size_t reportMaxBytes = 64 * 1024;
  int probeTimeoutMs = 2000;
  int workerThreads = 4;
  int ioThreads = 2;
  std::size_t maxBodyBytes = 1024 * 1024;
  std::size_t maxConnections = 256;
  int shutdownGraceMs = 10000;
  LogLevel logLevel = LogLevel::kInfo;
};

// The configuration in `text`, read from a file at `path`; the error names
// the key (as a JSON path) and what is wrong with it.
Result<Config> ParseConfig(const std::string& text, const std::string& path);
Result<Config> LoadConfig(const std::string& path);

}  // namespace Trustd
