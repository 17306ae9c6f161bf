// trustctl tpm event-log: the served log decoded (crypto-agile format) and
// replayed against the banks served with it, register by register.
#pragma once

#include <dral/tovri_bindings.hpp>

#include "output.hpp"

namespace Trustctl {

// Prints the summary, the replay verdict per register and, with `events`,
// every event. False (after saying why on the output) when the log cannot
// be decoded at all.
bool ShowEventLog(Output& out,
                  const ::Com::Corvane::Morv::TrustedInfrastructure::Hardware::Tpm::EventLogSvc::Info& info,
                  bool events);

}  // namespace Trustctl
