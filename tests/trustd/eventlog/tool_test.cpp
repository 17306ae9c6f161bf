// A written log as tpm2_eventlog (tpm2-tools) reads it: the same events,
// digests and final PCR values as the codec's decoder and replay.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <regex>
#include <set>
#include <sstream>

#include <trustd/eventlog/event_log.hpp>

#include "sample_log.hpp"
#include "support/checks.hpp"

namespace Trustd {
namespace {

using Tcg::Bytes;

struct ToolEvent {
  std::uint32_t pcr = 0;
  std::string type;
  std::map<std::string, std::string> digests;  // algorithm name -> hex
};

struct ToolReading {
  int status = -1;
  std::vector<ToolEvent> events;                                     // EventNum order
  std::map<std::string, std::map<std::uint32_t, std::string>> pcrs;  // name -> register -> hex
};

// Reads the lines of tpm2_eventlog's YAML that matter here.
ToolReading RunTool(const std::string& path) {
  ToolReading reading;
  FILE* pipe = ::popen(("tpm2_eventlog " + path + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return reading;
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  const int status = ::pclose(pipe);
  reading.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  static const std::regex eventNum(R"(^- EventNum: (\d+)$)");
  static const std::regex pcrIndex(R"(^  PCRIndex: (\d+)$)");
  static const std::regex eventType(R"(^  EventType: (.*)$)");
  static const std::regex algorithmId(R"(^  - AlgorithmId: (\w+)$)");
  static const std::regex digest(R"re(^    Digest: "([0-9a-f]+)"$)re");
  static const std::regex bank(R"(^  (\w+):$)");
  static const std::regex value(R"(^    (\d+) *: 0x([0-9a-fA-F]+)$)");
  bool inPcrs = false;
  std::string algorithm;
  std::istringstream lines(output);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (line == "pcrs:") {
      inPcrs = true;
    } else if (inPcrs && std::regex_match(line, m, bank)) {
      algorithm = m[1];
    } else if (inPcrs && std::regex_match(line, m, value)) {
      std::string hex = m[2];
      for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      reading.pcrs[algorithm][static_cast<std::uint32_t>(std::stoul(m[1]))] = hex;
    } else if (std::regex_match(line, m, eventNum)) {
      reading.events.emplace_back();
    } else if (reading.events.empty() || inPcrs) {
      continue;
    } else if (std::regex_match(line, m, pcrIndex)) {
      reading.events.back().pcr = static_cast<std::uint32_t>(std::stoul(m[1]));
    } else if (std::regex_match(line, m, eventType)) {
      reading.events.back().type = m[1];
    } else if (std::regex_match(line, m, algorithmId)) {
      algorithm = m[1];
    } else if (std::regex_match(line, m, digest)) {
      reading.events.back().digests[algorithm] = m[1];
    }
  }
  return reading;
}

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
  const ToolReading tool = RunTool(path.string());
  ASSERT_EQ(tool.status, 0);

  // The tool counts the header as event 0, as the decoder does.
  const auto& events = decoded.Value().events;
  ASSERT_EQ(tool.events.size(), events.size() + 1);
  EXPECT_EQ(tool.events[0].type, "EV_NO_ACTION");
  for (const auto& event : events) {
    SCOPED_TRACE(event.index);
    const ToolEvent& seen = tool.events[event.index];
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
