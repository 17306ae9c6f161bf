#include <cstddef>
#include <cstdint>

#include "eventlog_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DralFuzz::Verdict verdict;
  DralFuzz::CheckEventLogCase(data, size, verdict);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
