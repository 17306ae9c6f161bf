// The load itself: one client (one TCP connection) per worker, each worker
// walking the mix's cycle with one call in flight, every answer judged
// against what its step expects.
//
// Before the workers start, one call of each operation whose answer does
// not depend on the worker (the TPM's, the reports) is made once: its
// answer, value or error, is the reference every later answer of that
// operation must equal. The store-backed operations work on entries the
// worker made itself (names carry the run's tag and the worker's number),
// so their expected answers follow from what the worker did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <tovri/core/secret_string.hpp>
#include <trustd/result.hpp>

#include "options.hpp"
#include "stats.hpp"

namespace Trustload {

struct RunSettings {
  Endpoint endpoint;
  std::string cacert;  // required with TLS
  Tovri::SecretString token;
  int connections = 8;
  double warmupSeconds = 0;
  double durationSeconds = 10;
  std::optional<std::uint64_t> calls;  // measured calls at most
  double timeoutSeconds = 120;
};

struct Done {};

// Runs the load and fills `measurements`. A failure means the run could not
// begin (trustd did not answer the reference calls); answers that are wrong
// during the run are counted, not failures.
Trustd::Result<Done> RunLoad(const RunSettings& settings, Measurements& measurements);

}  // namespace Trustload
