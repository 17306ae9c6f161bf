// A written log as tpm2_eventlog (tpm2-tools) reads it: the same events,
// digests and final PCR values as the codec's decoder and replay.
#include <gtest/gtest.h>

#include <set>

#include <trustd/eventlog/event_log.hpp>

#include "sample_log.hpp"
#include "support/checks.hpp"
#include "support/tpm2_eventlog.hpp"

namespace Trustd {
namespace {

using Tcg::Bytes;

TEST(Tool, Tpm2EventlogReadsTheSameEventsAndRegisters) {
  const auto log = Tcg::MakeLog({Tcg::kSha256, Tcg::kSha384}, Testing::FirmwareEvents(3));
  ASSERT_TRUE(log) << log.Error();
  const auto bytes = Tcg::Encode(log.Value());
  ASSERT_TRUE(bytes) << bytes.Error();
  Testing::TempDir dir;
  const auto path = dir.Path() / "binary_bios_measurements";
  Testing::WriteBytes(path, bytes.Value());

  const auto decoded = Tcg::Decode(Testing::FileBytes(path));
  ASSERT_TRUE(decoded) << decoded.Error();
  const Testing::ToolReading tool = Testing::RunTpm2Eventlog(path.string());
  ASSERT_EQ(tool.status, 0);

  // The tool counts the header as event 0, as the decoder does.
  const auto& events = decoded.Value().events;
  ASSERT_EQ(tool.events.size(), events.size() + 1);
  EXPECT_EQ(tool.events[0].type, "EV_NO_ACTION");
  for (const auto& event : events) {
    SCOPED_TRACE(event.index);
    const Testing::ToolEvent& seen = tool.events[event.index];
    EXPECT_EQ(seen.pcr, event.pcr);
    EXPECT_EQ(seen.type, event.TypeName());
    ASSERT_EQ(seen.digests.size(), event.digests.size());
    for (const auto& digest : event.digests) {
      EXPECT_EQ(seen.digests.at(Tcg::AlgorithmName(digest.algorithmId)), Testing::Hex(digest.bytes));
    }
  }

  const auto replayed = Tcg::Replay(decoded.Value());
  ASSERT_TRUE(replayed) << replayed.Error();
  // tpm2-tools 5.4 extends EV_NO_ACTION digests (zeros) and ignores the
  // startup locality. The registers holding such events may show that
  // reading instead; every other register must agree exactly.
  Tcg::Log measured = decoded.Value();
  std::set<std::uint32_t> noAction;
  for (auto& event : measured.events) {
    if (event.type != Tcg::kEvNoAction) continue;
    noAction.insert(event.pcr);
    event.type = 1;
  }
  const auto asMeasured = Tcg::Replay(measured);
  ASSERT_TRUE(asMeasured) << asMeasured.Error();
  ASSERT_EQ(tool.pcrs.size(), replayed.Value().banks.size());
  for (const auto& [algorithm, bank] : replayed.Value().banks) {
    const auto name = Tcg::AlgorithmName(algorithm);
    ASSERT_EQ(tool.pcrs.count(name), 1u) << name;
    const auto& seen = tool.pcrs.at(name);
    ASSERT_EQ(seen.size(), bank.size()) << name;
    for (const auto& [pcr, value] : bank) {
      SCOPED_TRACE(name + " register " + std::to_string(pcr));
      ASSERT_EQ(seen.count(pcr), 1u);
      if (noAction.count(pcr) != 0 && seen.at(pcr) != Testing::Hex(value)) {
        EXPECT_EQ(seen.at(pcr), Testing::Hex(asMeasured.Value().banks.at(algorithm).at(pcr)));
      } else {
        EXPECT_EQ(seen.at(pcr), Testing::Hex(value));
      }
    }
  }
}

}  // namespace
}  // namespace Trustd
