#include <cstddef>
#include <cstdint>

#include "http_request_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DralFuzz::Verdict verdict;
  DralFuzz::CheckHttpRequestCase(data, size, verdict);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
