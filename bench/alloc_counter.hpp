// Allocation accounting for the benchmark binary.
//
// The binary replaces malloc and its siblings (forwarding to glibc's own
// allocator) and the global operator new/delete (forwarding to malloc), so
// every heap allocation made in the process is seen once: C++ objects,
// protobuf's, and gRPC core's, which allocate with malloc directly.
// Accounting is off unless a probe window is open, so the timed loops only
// pay one relaxed load per allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace DralBench {

struct AllocStats {
  std::uint64_t allocations = 0;  // successful malloc/calloc/realloc/new calls
  std::int64_t peakBytes = 0;     // high-water mark of live bytes added since the window opened
};

// Opens a probe window: counts from zero, live bytes from zero. Allocations
// on every thread count (gRPC answers on its own threads).
void BeginProbe();
// Closes the window and returns what it saw.
AllocStats EndProbe();

}  // namespace DralBench
