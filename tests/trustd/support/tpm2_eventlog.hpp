// tpm2_eventlog (tpm2-tools) as the tests read it: the events, their digests
// and the final "pcrs:" section of its YAML, for cross-checks against a
// reader nobody here wrote.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace Trustd {
namespace Testing {

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
inline ToolReading RunTpm2Eventlog(const std::string& path) {
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

}  // namespace Testing
}  // namespace Trustd
