// Internal: bearer-token admission and the TLS contexts, shared by the
// server and the client.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl.hpp>

#include <tovri/core/invocation.hpp>
#include <tovri/http/security.hpp>

namespace Tovri {
namespace Http {
namespace Detail {

struct Principal {
  std::string name;
  std::vector<std::string> roles;
};

// One line of a token file: the hash of a token and whom it stands for.
struct TokenEntry {
  std::array<unsigned char, 32> hash;
  Principal principal;
};

// The lines of a token file's text (read from `tokenFile`, which errors
// name) against the roles in force. False, with `error` naming the line and
// the fault (never a token or hash), on a malformed line, an unknown role
// or a hash listed twice.
bool ParseTokenFile(std::string_view text, const std::string& tokenFile, const RoleMap& roles,
                    std::vector<TokenEntry>& entries, std::string& error);

// Decides, before routing, whether a request may go on. Without a token
// file every request may; with one, every path but health needs a known
// token, and a call needs a role allowing it.
//
// The tokens can be loaded again while requests are admitted: a request
// sees either the old table or the new one, and a principal handed out
// stays valid for as long as it is held.
class Gate {
 public:
  enum class Verdict { kOpen, kAllowed, kUnauthenticated, kForbidden };

  // False, with `error` naming the fault (never a token or hash), when the
  // token file cannot be read, is open to group or others, has a malformed
  // line, or the roles are malformed. The tokens in force are then kept.
  bool Load(const std::string& tokenFile, const RoleMap& roles, std::string& error);

  // `path` is the request target without its query; `who` is set when the
  // token is known.
  Verdict Admit(std::string_view authorization, std::string_view path,
                std::shared_ptr<const Principal>& who) const;

 private:
  using Entry = TokenEntry;
  struct Table {
    bool enabled = false;
    std::vector<Entry> entries;
    RoleMap roles;
  };
  // Read and replaced with std::atomic_load / std::atomic_store.
  std::shared_ptr<const Table> table_ = std::make_shared<Table>();
};

// The security side of one server connection: who is on the other end,
// what the current request was admitted as, and its access log entry.
class ConnectionSecurity {
 public:
  ConnectionSecurity(const Gate& gate, const AccessLog& log) : gate_(gate), log_(log) {}

  void SetPeer(const boost::asio::ip::address& address, unsigned short port);
  // The verified client certificate's subject.
  void SetSubject(std::string subject) { subject_ = std::move(subject); }

  // A request header was read: starts its access log entry.
  void Begin(std::string_view method, std::string_view target);
  Gate::Verdict Admit(std::string_view authorization, std::string_view path);
  // The principal (when admitted by token) and the client certificate.
  void AddTo(Core::ExecutionContext& context) const;
  void Answered(int status) { entry_.status = status; }
  // The answer was written or the connection closed: logs the request once.
  void End();

 private:
  const Gate& gate_;
  const AccessLog& log_;
  std::string peer_;
  std::string subject_;
  std::shared_ptr<const Principal> principal_;
  bool pending_ = false;
  std::chrono::steady_clock::time_point start_;
  AccessLogEntry entry_;
};

// Contexts for TLS 1.2 and 1.3 only; null, with `error` set, when a file
// is unusable.
std::shared_ptr<boost::asio::ssl::context> MakeServerTlsContext(const TlsServerOptions& options,
                                                                std::string& error);
std::shared_ptr<boost::asio::ssl::context> MakeClientTlsContext(const TlsClientOptions& options,
                                                                std::string& error);

// Before a client handshake: the name the server's certificate must carry
// (an IP literal is checked as an address), and SNI for a DNS name.
bool PrepareClientHandshake(SSL* ssl, const std::string& serverName, std::string& error);

// The RFC 2253 subject of the verified peer certificate, empty without one.
std::string PeerSubject(SSL* ssl);

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
