#include <cstddef>
#include <cstdint>

#include "format_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DralFuzz::Verdict verdict;
  DralFuzz::CheckFormatCase(data, size, verdict);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
