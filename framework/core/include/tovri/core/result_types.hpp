// What an operation answers besides its value: Void, the result of
// operations that return nothing, and Progress, the report that comes with
// every answer.
#pragma once

#include <cstdint>

namespace Tovri {

// Stands for the absence of a result (operations that return nothing).
struct Void {};
inline bool operator==(const Void&, const Void&) noexcept { return true; }
inline bool operator!=(const Void&, const Void&) noexcept { return false; }

// A progress report: three counters. Every final answer the bindings build
// reports 0, 1, 1; equal second and third fields mark a final answer.
struct Progress {
  std::int64_t min = 0;
  std::int64_t current = 0;
  std::int64_t max = 0;
};

inline bool operator==(const Progress& a, const Progress& b) noexcept {
  return a.min == b.min && a.current == b.current && a.max == b.max;
}
inline bool operator!=(const Progress& a, const Progress& b) noexcept { return !(a == b); }

// The progress of a completed call.
inline Progress FinalProgress() noexcept { return Progress{0, 1, 1}; }

}  // namespace Tovri
