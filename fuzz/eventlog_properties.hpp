// Properties of the measured-boot event log codec, checked on arbitrary
// bytes read as a log.
//
// Input: the whole input is the log. Decode never crashes; what it reads
// writes back to the same bytes (up to the cut, for a cut log); the replay
// of what it reads agrees with itself through the comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <trustd/eventlog/event_log.hpp>

#include "verdict.hpp"

namespace DralFuzz {

inline void CheckEventLogCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  namespace Tcg = Trustd::Tcg;
  const auto log = Tcg::Decode(data, size);
  if (!log) {
    verdict.Require(!log.Error().empty(), "a refused log says why");
    return;
  }
  verdict.Note(std::to_string(log.Value().events.size()) + " events");
  const std::size_t used = log.Value().truncatedAt.value_or(size);
  verdict.Require(used <= size, "the cut lies inside the input");
  const auto bytes = Tcg::Encode(log.Value());
  if (verdict.Require(bytes.Ok(), "what decodes encodes", bytes.Error())) {
    verdict.Require(bytes.Value() == std::vector<std::uint8_t>(data, data + used),
                    "what decodes re-encodes to the same bytes");
    const auto again = Tcg::Decode(bytes.Value());
    verdict.Require(again.Ok() && again.Value().events == log.Value().events && !again.Value().truncatedAt,
                    "the re-encoded log decodes to the same events");
  }
  const auto replayed = Tcg::Replay(log.Value());
  if (!replayed) {
    verdict.Require(!replayed.Error().empty(), "a refused replay says why");
    return;
  }
  for (const auto& c : Tcg::Compare(replayed.Value(), replayed.Value().banks)) {
    verdict.Require(c.state == Tcg::RegisterState::kMatches, "a replay matches itself");
  }
}

}  // namespace DralFuzz
