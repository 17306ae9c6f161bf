// Whether a remote address answers: one TCP connection attempt, bounded in
// time, closed as soon as it is made. Tells a trust authority's health.
#pragma once

#include <chrono>
#include <string>

namespace Trustd {

struct ProbeOutcome {
  bool answers = false;
  std::string reason;  // why not: "connection refused", "no answer within 2000 ms", ...
};

// Resolution is bounded too for IP literals (none takes place); a host name
// is resolved by the system resolver, within its own timeouts.
ProbeOutcome Probe(const std::string& hostname, int port, std::chrono::milliseconds timeout);

}  // namespace Trustd
