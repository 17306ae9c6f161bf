#include <cstddef>
#include <cstdint>

#include "lossless_json_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DralFuzz::Verdict verdict;
  DralFuzz::CheckLosslessJsonCase(data, size, verdict);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
