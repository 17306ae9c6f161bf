// The attestation reports the host holds: the tokens an attestation client
// on the host writes, one file per token, as
//   <reports directory>/<attestation service id>/<name>.jwt
// holding one compact JWS. trustd only reads them; a file that is not a
// well-formed compact JWS is skipped (with the reason, for the log), never
// served.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <trustd/result.hpp>

namespace Trustd {

struct Report {
  std::string id;       // "<service>.<name>"
  std::string service;  // the attestation service that issued it
  std::string jwt;      // the compact JWS, surrounding blanks removed
};

struct ReportScan {
  std::vector<Report> reports;       // ordered by id
  std::vector<std::string> skipped;  // one reason per file skipped; never a token
};

struct ReportsError {
  bool absent = false;  // the directory does not exist: no attestation client has written yet
  std::string message;
};

Result<ReportScan, ReportsError> ScanReports(const std::string& directory, std::size_t maxBytes);

// Three base64url parts joined by dots; the first a JSON object naming its
// "alg" (not "none"), the second a JSON object, the third a non-empty
// signature. The signature is not verified: that is the relying party's job.
bool IsCompactJws(const std::string& text, std::string& why);

}  // namespace Trustd
