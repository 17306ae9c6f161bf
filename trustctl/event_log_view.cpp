#include "event_log_view.hpp"

#include <algorithm>
#include <map>
#include <ostream>

#include <trustd/eventlog/event_log.hpp>

namespace Trustctl {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
namespace Tcg = ::Trustd::Tcg;

std::uint16_t AlgorithmId(const ti::Hardware::Tpm::HashAlgorithm& algorithm) {
  using A = ti::Hardware::Tpm::HashAlgorithm;
  switch (algorithm.value()) {
    case A::SHA256:
      return Tcg::kSha256;
    case A::SHA384:
      return Tcg::kSha384;
    case A::SHA512:
      return Tcg::kSha512;
    case A::SM3_256:
      return Tcg::kSm3_256;
    default:
      return 0;
  }
}

std::string Name(std::uint16_t algorithmId) {
  const std::string name = Tcg::AlgorithmName(algorithmId);
  return name.empty() ? "alg-" + std::to_string(algorithmId) : name;
}

std::string TypeName(std::uint32_t type) {
  const std::string name = Tcg::EventTypeName(type);
  if (!name.empty()) return name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", type);
  return text;
}

// A register no event touches keeps the value it was reset to: zeros, or
// ones for the dynamic-launch registers 17 to 22 until a late launch.
bool AtReset(const Tcg::RegisterComparison& row) {
  if (row.servedAllZero) return true;
  const bool ones = std::all_of(row.served.begin(), row.served.end(), [](std::uint8_t b) { return b == 0xff; });
  return ones && row.pcr >= 17 && row.pcr <= 22;
}

}  // namespace

bool ShowEventLog(Output& out, const ti::Hardware::Tpm::EventLogSvc::Info& info, bool events) {
  if (out.Options().format == Format::kQuiet) return true;
  std::ostream& stream = out.Stream();
  const std::vector<unsigned char> empty;
  const std::vector<unsigned char>& bytes = info.tcgCryptoAgile ? *info.tcgCryptoAgile : empty;
  const auto log = Tcg::Decode(bytes);
  Block summary;
  summary.Add("Format", info.type.ToString());
  summary.Add("Size",
              std::to_string(bytes.size()) + " bytes" + (info.truncated ? " (cut by the server)" : ""));
  if (!log) {
    summary.Add("Decoded", out.Verdict("no: " + log.Error(), false));
    summary.Print(out);
    return false;
  }
  std::string algorithms;
  for (const auto& algorithm : log.Value().header.algorithms)
    algorithms += (algorithms.empty() ? "" : ", ") + Name(algorithm.id);
  summary.Add("Events", std::to_string(log.Value().events.size()) +
                            (log.Value().truncatedAt ? " (the last one cut at offset " +
                                                           std::to_string(*log.Value().truncatedAt) + ")"
                                                     : ""));
  summary.Add("Algorithms", algorithms);

  Tcg::Banks served;
  for (const auto& bank : info.banks) {
    const std::uint16_t id = AlgorithmId(bank->algorithm);
    if (id == 0) continue;
    for (const auto& [index, value] : bank->pcrs) served[id][static_cast<std::uint32_t>(index)] = value;
  }
  const auto replayed = Tcg::Replay(log.Value());
  if (!replayed) {
    summary.Add("Replay", out.Verdict("impossible: " + replayed.Error(), false));
    summary.Print(out);
    return false;
  }
  std::map<std::uint32_t, int> eventsPerRegister;
  for (const auto& event : Tcg::Extensions(log.Value())) ++eventsPerRegister[event.pcr];

  // Registers the log never touches are expected at zero; one that is not
  // was extended by something the log does not show.
  Table table({"PCR", "BANK", "EVENTS", "REPLAY"});
  int mismatches = 0, matches = 0;
  for (const auto& row : Tcg::Compare(replayed.Value(), served)) {
    std::string verdict;
    bool good = true;
    switch (row.state) {
      case Tcg::RegisterState::kMatches:
        verdict = "matches";
        ++matches;
        break;
      case Tcg::RegisterState::kDiffers:
        verdict = "differs: served " + out.Hex(row.served) + ", log gives " + out.Hex(row.replayed);
        good = false;
        break;
      case Tcg::RegisterState::kNotInLog:
        if (AtReset(row)) continue;
        verdict = "differs: not in the log, served " + out.Hex(row.served);
        good = false;
        break;
      case Tcg::RegisterState::kNotServed:
        verdict = "not served by the TPM";
        good = false;
        break;
    }
    if (!good) ++mismatches;
    const auto count = eventsPerRegister.find(row.pcr);
    table.Add({std::to_string(row.pcr), Name(row.algorithmId),
               std::to_string(count == eventsPerRegister.end() ? 0 : count->second),
               out.Verdict(verdict, good)});
  }
  summary.Add("Replay", mismatches == 0
                            ? out.Verdict("matches the TPM (" + std::to_string(matches) + " registers)", true)
                            : out.Verdict(std::to_string(mismatches) + " registers differ", false));
  summary.Print(out);
  stream << "\n";
  table.Print(out);

  if (events) {
    stream << "\n";
    Table list({"EVENT", "PCR", "TYPE", "DIGESTS"});
    for (const auto& event : log.Value().events) {
      std::string digests;
      for (const auto& digest : event.digests)
        digests += (digests.empty() ? "" : " ") + Name(digest.algorithmId) + ":" + out.Hex(digest.bytes);
      list.Add({std::to_string(event.index), std::to_string(event.pcr), TypeName(event.type), digests});
    }
    list.Print(out);
  }
  return true;
}

}  // namespace Trustctl
