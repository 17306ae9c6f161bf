// trustctl's command line as a function: the whole of the command but the
// process around it, so that it can be driven with any words and streams.
#pragma once

#include <ostream>

namespace Trustctl {

// Parses `argv` (argv[0] is the program's name) and runs the command it
// names, writing to `out` and `err`; returns the exit status
// (docs/trustctl.md). Settings come from the flags, the environment and the
// config file as for the executable.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace Trustctl
