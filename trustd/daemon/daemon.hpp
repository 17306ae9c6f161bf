// The daemon's life: opens the store and the TPMs named in the
// configuration, serves the package's services over the transport, reloads
// the token file on SIGHUP and stops cleanly on SIGTERM or SIGINT (calls in
// flight finish within the configured grace period).
#pragma once

#include "config.hpp"

namespace Trustd {

// Exit statuses of trustd.
constexpr int kExitStopped = 0;      // stopped by a signal after serving
constexpr int kExitCannotStart = 1;  // bad configuration, store, TLS files, tokens or listen address
constexpr int kExitUsage = 2;        // bad command line

// Runs until SIGTERM or SIGINT. Logs to stderr (log.hpp).
int RunDaemon(const Config& config);

}  // namespace Trustd
