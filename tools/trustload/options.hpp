// trustload's settings: where trustd is (loopback only), how it proves who
// it is, and how much load for how long.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include <tovri/core/secret_string.hpp>
#include <trustd/result.hpp>

namespace Trustload {

struct Endpoint {
  std::string host;  // an IP literal, IPv6 without brackets
  std::uint16_t port = 0;
  bool tls = false;
};

// http(s)://<IP literal>[:port] where the address is in 127.0.0.0/8 or is
// ::1. A name is refused too: what it resolves to is not known here, and a
// load generator must not reach another host by mistake.
Trustd::Result<Endpoint> ParseLoopbackServer(const std::string& url);

// The first line of a token file that only its owner can read (as trustctl
// reads it), surrounding blanks dropped.
Trustd::Result<Tovri::SecretString> ReadTokenFile(const std::string& path);

struct Options {
  std::string server = "https://127.0.0.1:8443";
  std::string cacert;
  std::string tokenFile;
  int connections = 8;
  // Whichever ends first; neither given: 10 s.
  std::optional<double> durationSeconds;
  std::optional<std::uint64_t> calls;
  double warmupSeconds = 0;
  double timeoutSeconds = 120;  // one call, connecting included
  std::optional<pid_t> pid;     // the daemon, for its resident memory
  std::string jsonFile;
};

// The limits every run keeps to (also what --help says).
constexpr int kMaxConnections = 1024;
constexpr double kMaxDurationSeconds = 3600;
constexpr double kMaxWarmupSeconds = 600;
constexpr double kMaxTimeoutSeconds = 600;
// Without --duration but with --calls, the run still ends after this.
constexpr double kCallsOnlyDurationSeconds = 600;

}  // namespace Trustload
