// What secures the transport: TLS settings of the server and the client,
// the role allow-list that bearer tokens are checked against, and the
// access log. docs/wire.md describes the token file and the keys below.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Tovri {
namespace Http {

// TLS 1.2 or 1.3 on the server. The files are PEM.
struct TlsServerOptions {
  std::string certificateChainFile;  // the server's certificate, then its intermediates
  std::string privateKeyFile;
  // When set, clients are asked for a certificate issued by one of these
  // CAs; a certificate presented is always verified.
  std::string clientCaFile;
  // With clientCaFile: refuse the handshake of a client without one.
  bool requireClientCertificate = false;
};

// TLS on the client. The server's certificate is verified against caFile
// and must name serverName (a DNS name or an IP literal; the client's host
// when empty).
struct TlsClientOptions {
  std::string caFile;
  std::string certificateChainFile;  // optional client certificate...
  std::string privateKeyFile;        // ...and its key
  std::string serverName;
};

// Role -> the calls it allows, each "<service id>/<operation>" where "*"
// stands for any service id or any operation ("*/list", "kms.services/*").
using RoleMap = std::map<std::string, std::vector<std::string>>;

// "admin": every call; "reader": the package's read-only operations (list
// and get).
RoleMap DefaultRoles();

// The security context entries the server adds to a call's activation
// (activation->executionContext->security).
// Scheme "bearer"; properties "principal" and "roles" (comma-separated).
constexpr const char* kBearerSecurityKey = "tovri.http.bearer";
// Scheme "x509"; property "subject" (RFC 2253), for a verified client
// certificate.
constexpr const char* kClientCertificateSecurityKey = "tovri.http.client_certificate";

// One request as the access log sees it. Never a body, a header value or a
// token.
struct AccessLogEntry {
  std::chrono::system_clock::time_point time;  // when the request header was read
  std::string peer;                            // address and port of the client
  std::string principal;                       // empty without authentication
  std::string method;
  std::string path;                       // without the query
  int status = 0;                         // 0: the connection closed before an answer was written
  std::chrono::milliseconds duration{0};  // header read to answer written
};

using AccessLog = std::function<void(const AccessLogEntry&)>;

// "2026-12-07T04:59:01.123Z 127.0.0.1:5000 alice POST /v1/kms.services/list
// 200 3ms" ("-" for no principal), no line end.
std::string FormatAccessLogLine(const AccessLogEntry& entry);

}  // namespace Http
}  // namespace Tovri
