// Properties of what trustd reads from files others may write: its
// configuration file, the attestation tokens on disk and the bearer token
// file (read by the transport), checked on arbitrary bytes.
//
// Input: the whole input is the text. The configuration reader never
// crashes; a configuration it accepts holds what the daemon relies on; one
// it refuses says where, under the file's name. The same text read as a
// token: accepted only as three base64url parts. Read as a token file: one
// principal per line that is neither blank nor a comment, with known roles
// and distinct hashes; a refusal names the file and a line and never quotes
// a hash.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "config.hpp"
#include "reports.hpp"
#include "security_detail.hpp"
#include "verdict.hpp"

namespace DralFuzz {

// The words of each line of a token file that counts (blank lines and
// comments left out), by the file's own rules.
inline std::vector<std::vector<std::string>> TokenFileLines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    std::string word;
    for (char c : line + " ") {
      if (c == ' ' || c == '\t') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word += c;
      }
    }
    if (!words.empty() && words.front()[0] != '#') lines.push_back(words);
  }
  return lines;
}

inline void CheckTokenFileText(const std::string& text, Verdict& verdict) {
  const Tovri::Http::RoleMap roles = Tovri::Http::DefaultRoles();
  std::vector<Tovri::Http::Detail::TokenEntry> entries;
  std::string error;
  const auto lines = TokenFileLines(text);
  if (!Tovri::Http::Detail::ParseTokenFile(text, "tokens", roles, entries, error)) {
    verdict.Require(error.rfind("token file tokens line ", 0) == 0,
                    "a refused token file names file and line", error);
    // A first word that looks like a hash (16 hex digits or more, "sha256:"
    // or not) is never in the error, unless another word of the file (a
    // role the error names) holds it too.
    std::string others;
    for (const auto& words : lines) {
      for (std::size_t i = 1; i < words.size(); ++i) others += words[i] + " ";
    }
    for (const auto& words : lines) {
      std::string digits = words[0];
      if (digits.rfind("sha256:", 0) == 0) digits.erase(0, 7);
      const bool hashLike = digits.size() >= 16 &&
                            digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos &&
                            others.find(digits) == std::string::npos;
      verdict.Require(!hashLike || error.find(digits) == std::string::npos, "a refusal never quotes a hash",
                      error);
    }
    return;
  }
  if (!verdict.Require(entries.size() == lines.size(), "an accepted token file has one entry per line",
                       std::to_string(entries.size()) + " of " + std::to_string(lines.size())))
    return;
  std::set<std::array<unsigned char, 32>> hashes;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& entry = entries[i];
    verdict.Require(hashes.insert(entry.hash).second, "accepted hashes are distinct");
    verdict.Require(entry.principal.name == lines[i][1], "the principal is the line's second word",
                    entry.principal.name);
    verdict.Require(!entry.principal.roles.empty(), "an accepted principal has a role");
    for (const auto& role : entry.principal.roles)
      verdict.Require(roles.count(role) == 1, "an accepted role is a known one", role);
  }
}

inline void CheckTrustdInputCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string path = "/etc/trustd/trustd.json";
  const auto config = Trustd::ParseConfig(text, path);
  if (!config) {
    verdict.Require(config.Error().rfind(path + ": ", 0) == 0, "a refused configuration names its file",
                    config.Error());
  } else {
    const Trustd::Config& c = config.Value();
    verdict.Require(!c.listen.empty(), "an accepted configuration listens somewhere");
    verdict.Require(!c.stateDirectory.empty() && c.stateDirectory.front() == '/',
                    "the state directory is resolved to an absolute path", c.stateDirectory);
    std::set<std::string> ids;
    for (const auto& tpm : c.tpms) verdict.Require(ids.insert(tpm.id).second, "TPM ids are unique", tpm.id);
    verdict.Require(c.workerThreads >= 1 && c.ioThreads >= 1 && c.maxConnections >= 1, "limits are in range");
    verdict.Require(!c.tls || !c.tls->requireClientCertificate || !c.tls->clientCaFile.empty(),
                    "a required client certificate comes with its CA");
  }
  std::string why;
  if (Trustd::IsCompactJws(text, why)) {
    std::size_t dots = 0;
    for (char c : text) dots += c == '.';
    verdict.Require(dots == 2, "an accepted token has three parts");
  } else {
    verdict.Require(!why.empty(), "a refused token says why");
  }
  CheckTokenFileText(text, verdict);
}

}  // namespace DralFuzz
