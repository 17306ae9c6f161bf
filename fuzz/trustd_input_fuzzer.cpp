#include <cstddef>
#include <cstdint>

#include "trustd_input_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DralFuzz::Verdict verdict;
  DralFuzz::CheckTrustdInputCase(data, size, verdict);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
