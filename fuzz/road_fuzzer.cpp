#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "road_properties.hpp"

namespace {

// DRAL_FUZZ_TRACE=1 prints what each input decodes to; DRAL_FUZZ_DEEP=1
// allows the 100k-level chains of the deep seeds.
DralFuzz::RoadOptions OptionsFromEnvironment() {
  DralFuzz::RoadOptions options;
  options.trace = std::getenv("DRAL_FUZZ_TRACE") != nullptr;
  options.deep = std::getenv("DRAL_FUZZ_DEEP") != nullptr;
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const DralFuzz::RoadOptions options = OptionsFromEnvironment();
  DralFuzz::Verdict verdict;
  DralFuzz::CheckRoadCase(data, size, verdict, options);
  DralFuzz::AbortOnFailure(verdict);
  return 0;
}
