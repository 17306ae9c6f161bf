// Properties of what trustd reads from files others may write: its
// configuration file and the attestation tokens on disk, checked on
// arbitrary bytes.
//
// Input: the whole input is the text. The configuration reader never
// crashes; a configuration it accepts holds what the daemon relies on; one
// it refuses says where, under the file's name. The same text read as a
// token: accepted only as three base64url parts.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "config.hpp"
#include "reports.hpp"
#include "verdict.hpp"

namespace DralFuzz {

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
}

}  // namespace DralFuzz
