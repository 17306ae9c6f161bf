// Collects the properties a fuzz case violated.
//
// The property functions of each target fill a Verdict instead of aborting,
// so the same functions serve the libFuzzer targets (which abort on any
// failure) and the GoogleTest replay of the corpus (which reports them).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace DralFuzz {

class Verdict {
 public:
  // Records `property` as violated unless `holds`; returns `holds`.
  bool Require(bool holds, const char* property, const std::string& detail = std::string()) {
    if (!holds) failures_.push_back(detail.empty() ? std::string(property) : property + (": " + detail));
    return holds;
  }

  // Context printed with the failures (what the input decoded to).
  void Note(const std::string& context) { notes_.push_back(context); }

  bool Passed() const noexcept { return failures_.empty(); }
  const std::vector<std::string>& Failures() const noexcept { return failures_; }

  std::string Report() const {
    std::string out;
    for (const std::string& failure : failures_) out += "  violated: " + failure + "\n";
    for (const std::string& note : notes_) out += "  " + note + "\n";
    return out;
  }

 private:
  std::vector<std::string> failures_;
  std::vector<std::string> notes_;
};

// Bytes made readable for a report: printable ASCII as is, the rest escaped.
inline std::string Printable(const std::string& bytes, std::size_t max = 200) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  if (bytes.size() > max) out += "...";
  return out + "\"";
}

// For the libFuzzer entry points: a violated property is a finding.
inline void AbortOnFailure(const Verdict& verdict) {
  if (verdict.Passed()) return;
  std::fprintf(stderr, "==fuzz== property violated\n%s", verdict.Report().c_str());
  std::abort();
}

}  // namespace DralFuzz
