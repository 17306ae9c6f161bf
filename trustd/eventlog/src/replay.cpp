// Replaying a log into the PCR values a TPM should hold after it, and
// comparing them with what a TPM reports.
#include <algorithm>
#include <cstring>
#include <set>

#include <trustd/eventlog/event_log.hpp>

#include "hash.hpp"

namespace Trustd {
namespace Tcg {

namespace {

constexpr char kStartupLocalitySignature[16] = "StartupLocality";

bool IsStartupLocality(const Event& event) {
  return event.type == kEvNoAction && event.data.size() >= 16 &&
         std::memcmp(event.data.data(), kStartupLocalitySignature, 16) == 0;
}

std::string Where(const Event& event) {
  return "event " + std::to_string(event.index) + " at offset " + std::to_string(event.offset) + ": ";
}

// PCR 0's value before its first extension: the locality the platform
// reset it at, in the last byte.
Bytes Start(std::uint32_t pcr, std::size_t size, const std::optional<std::uint8_t>& locality) {
  Bytes value(size, 0);
  if (pcr == 0 && locality) value.back() = *locality;
  return value;
}

}  // namespace

std::vector<Extension> Extensions(const Log& log) {
  std::vector<Extension> out;
  for (const Event& event : log.events) {
    if (event.type == kEvNoAction) continue;
    out.push_back(Extension{event.index, event.pcr, event.digests});
  }
  return out;
}

Result<Replayed> Replay(const Log& log) {
  using R = Result<Replayed>;
  Replayed out;
  std::vector<Algorithm> usable;
  for (const Algorithm& algorithm : log.header.algorithms) {
    const auto probe = Detail::Hash(algorithm.id, {});
    if (probe && probe->size() == algorithm.digestSize) {
      usable.push_back(algorithm);
    } else {
      out.notReplayed.push_back(algorithm.id);
    }
  }

  bool pcr0Extended = false;
  for (const Event& event : log.events) {
    if (event.type == kEvNoAction) {
      if (!IsStartupLocality(event)) continue;
      // The locality only means something as PCR 0's starting state, so it
      // has to be unique and come before PCR 0 changes.
      if (event.pcr != 0)
        return R::Failure(Where(event) + "a StartupLocality event for PCR " + std::to_string(event.pcr));
      if (event.data.size() != 17) {
        return R::Failure(Where(event) + "a StartupLocality event of " + std::to_string(event.data.size()) +
                          " bytes, not 17");
      }
      if (out.startupLocality) return R::Failure(Where(event) + "a second StartupLocality event");
      if (pcr0Extended) return R::Failure(Where(event) + "a StartupLocality event after PCR 0 was extended");
      out.startupLocality = event.data[16];
      continue;
    }
    for (const Algorithm& algorithm : usable) {
      const Bytes* digest = event.DigestOf(algorithm.id);
      if (digest == nullptr) {
        return R::Failure(Where(event) + "no " + AlgorithmName(algorithm.id) + " digest to extend");
      }
      auto& bank = out.banks[algorithm.id];
      auto value = bank.find(event.pcr);
      if (value == bank.end()) {
        value = bank.emplace(event.pcr, Start(event.pcr, algorithm.digestSize, out.startupLocality)).first;
      }
      auto next = Detail::Hash(algorithm.id, value->second, *digest);
      if (!next) return R::Failure(Where(event) + "cannot compute " + AlgorithmName(algorithm.id));
      value->second = std::move(*next);
    }
    if (event.pcr == 0) pcr0Extended = true;
  }
  // A locality and no measurement: PCR 0 still differs from zero.
  if (out.startupLocality && !pcr0Extended) {
    for (const Algorithm& algorithm : usable) {
      out.banks[algorithm.id][0] = Start(0, algorithm.digestSize, out.startupLocality);
    }
  }
  return R::Success(std::move(out));
}

std::vector<RegisterComparison> Compare(const Replayed& replayed, const Banks& served) {
  std::set<std::uint16_t> algorithms;
  for (const auto& bank : replayed.banks) algorithms.insert(bank.first);
  for (const auto& bank : served) algorithms.insert(bank.first);

  static const std::map<std::uint32_t, Bytes> none;
  std::vector<RegisterComparison> out;
  for (const std::uint16_t algorithm : algorithms) {
    const auto inLog = replayed.banks.find(algorithm);
    const auto inTpm = served.find(algorithm);
    const auto& logged = inLog == replayed.banks.end() ? none : inLog->second;
    const auto& held = inTpm == served.end() ? none : inTpm->second;
    std::set<std::uint32_t> pcrs;
    for (const auto& entry : logged) pcrs.insert(entry.first);
    for (const auto& entry : held) pcrs.insert(entry.first);
    for (const std::uint32_t pcr : pcrs) {
      RegisterComparison c;
      c.algorithmId = algorithm;
      c.pcr = pcr;
      const auto l = logged.find(pcr);
      const auto h = held.find(pcr);
      if (l != logged.end()) c.replayed = l->second;
      if (h != held.end()) {
        c.served = h->second;
        c.servedAllZero =
            std::all_of(c.served.begin(), c.served.end(), [](std::uint8_t b) { return b == 0; });
      }
      if (h == held.end()) {
        c.state = RegisterState::kNotServed;
      } else if (l == logged.end()) {
        c.state = RegisterState::kNotInLog;
      } else {
        c.state = c.served == c.replayed ? RegisterState::kMatches : RegisterState::kDiffers;
      }
      out.push_back(std::move(c));
    }
  }
  return out;
}

}  // namespace Tcg
}  // namespace Trustd
