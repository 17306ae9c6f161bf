// The cases of the benchmark binary. Each case is named
// "<measure>/<data>/<contestant>" (for example "to_value/tpm_info/floor")
// and made by a factory that prepares its data, checks that the contestant
// computes the right thing, and returns the operation to time. Factories run
// lazily, on the first run of their case, so a filtered run prepares
// nothing else (and a profile run profiles only its own case).
#pragma once

#include <functional>
#include <string>

namespace DralBench {

using Operation = std::function<void()>;
using Factory = std::function<Operation()>;

// `probeOps`: how many operations the allocation count is averaged over.
void AddCase(const std::string& name, Factory factory, int probeOps);

// A case timed with `threads` callers at once, for throughput: `setup` runs
// once, on the first run of the case, and returns the maker of one caller's
// operation; each thread makes its own (outside the timed loop), calls it
// once to warm up, then in the loop. Reported in wall-clock time, with
// operations per second as items_per_second.
using CallerFactory = std::function<Operation()>;
void AddThroughputCase(const std::string& name, std::function<CallerFactory()> setup, int threads);

// Ends the process with a message when `condition` is false: a contestant
// that computes the wrong thing must not be timed.
void Require(bool condition, const std::string& what);

// Called once after the last benchmark (stops servers before exit).
void AtEnd(std::function<void()> cleanup);

// Registration of each group of cases; the groups of unavailable peers are
// not compiled in.
void AddConversionCases();
void AddCallCases();
void AddBindingCases();
void AddJsonCases();
void AddGrpcCases();
void AddLoopbackCases();
void AddGrpcLoopbackCases();

}  // namespace DralBench
