// nlohmann::json on the same data: to_json of the plain structs, and
// from_json back into them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "json_peer.hpp"
#include "registry.hpp"

namespace DralBench {
namespace {

template <class T>
void AddJsonPair(const std::string& data, std::function<T()> make, int probeOps) {
  AddCase(
      "to_value/" + data + "/nlohmann",
      [make] {
        auto native = std::make_shared<const T>(make());
        return [native] {
          nlohmann::json json = *native;
          benchmark::DoNotOptimize(json);
        };
      },
      probeOps);
  AddCase(
      "from_value/" + data + "/nlohmann",
      [make] {
        auto json = std::make_shared<const nlohmann::json>(make());
        // Equal trees after a round trip: the reader loses nothing.
        Require(nlohmann::json(json->template get<T>()) == *json, "nlohmann reads its tree back");
        return [json] {
          T native = json->template get<T>();
          benchmark::DoNotOptimize(native);
        };
      },
      probeOps);
}

}  // namespace

void AddJsonCases() {
  AddJsonPair<Plain::TpmInfo>(
      "tpm_info", [] { return Plain::MakeTpmInfo(); }, 100);
  AddJsonPair<std::vector<Plain::Summary>>(
      "summaries_1000", [] { return Plain::MakeSummaries(1000); }, 5);
  AddJsonPair<std::vector<Plain::Summary>>(
      "summaries_10000", [] { return Plain::MakeSummaries(10000); }, 2);
}

}  // namespace DralBench
