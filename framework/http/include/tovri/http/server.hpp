// The HTTP server: exposes an invocation provider (the LocalProvider an
// application registered its binders with) on one or more listen addresses.
// The paths, envelopes and statuses are those of docs/wire.md.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tovri/core/invocation.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/http/lossless_json.hpp>
#include <tovri/http/natural_json.hpp>
#include <tovri/http/security.hpp>

namespace Tovri {
namespace Http {

// An IP address literal ("127.0.0.1", "::1") and a port; port 0 asks for a
// free one.
struct ListenAddress {
  std::string address;
  std::uint16_t port = 0;
};

struct ServerOptions {
  std::vector<ListenAddress> listen{{"127.0.0.1", 0}};
  // Plain HTTP on anything but a loopback address must be asked for; TLS
  // may listen anywhere.
  bool allowNonLoopback = false;
  // TLS on every listen address when set.
  std::optional<TlsServerOptions> tls;
  // Bearer tokens (docs/wire.md): the file of token hashes, principals and
  // roles. Empty: no authentication at all, for loopback tests and demos.
  std::string tokenFile;
  // What each role of the token file may call.
  RoleMap roles = DefaultRoles();
  // Called once per request, on an I/O thread, when its answer was written
  // (or the connection closed first). Must not block. Off when empty.
  AccessLog accessLog;
  int ioThreads = 2;
  std::size_t maxHeaderBytes = 16 * 1024;
  std::size_t maxBodyBytes = 16 * 1024 * 1024;
  // From the connection (or the end of the previous answer) to the end of
  // the request header: also how long an idle kept-alive connection stays.
  std::chrono::milliseconds headerTimeout{10000};
  // From the end of the header to the end of the body.
  std::chrono::milliseconds bodyTimeout{30000};
  // Connections beyond this many are closed as soon as they are accepted.
  std::size_t maxConnections = 256;
  JsonLimits limits;            // lossless bodies
  NaturalLimits naturalLimits;  // natural bodies
};

// Starts, serves on its own I/O threads and stops. The provider's answer
// callbacks may come from any thread, before or after Invoke returns; each
// call is answered once (a provider's second final answer is ignored).
class Server {
 public:
  // Serves the natural shape (application/json) and GET /v1/services from
  // the definitions of the interfaces registered with `provider`, and the
  // lossless shape.
  Server(std::shared_ptr<Core::LocalProvider> provider, ServerOptions options);
  // Any other provider has no definitions to offer: only the lossless shape
  // is served (a natural body is refused with 415, discovery with 404),
  // unless it is a LocalProvider after all.
  Server(std::shared_ptr<Core::ApiProvider> provider, ServerOptions options);
  // Stops with no grace period if still running.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds every listen address and starts serving. False, with `error` set
  // and nothing left open, when an address is not an IP literal, is not a
  // loopback address while that is not allowed, or cannot be bound, or a
  // TLS file, the token file or the roles are unusable.
  bool Start(std::string& error);

  // Reads the token file again, for a token added, rotated or revoked.
  // Requests admitted already go on as they were; later ones see the new
  // tokens. False, with `error` set and the tokens in force kept, when the
  // file is unusable (as for Start).
  bool ReloadTokens(std::string& error);

  // The addresses bound, in the order given, with the ports chosen.
  std::vector<ListenAddress> BoundAddresses() const;

  // Stops accepting, closes idle connections, lets the calls in flight
  // answer until `grace` has passed, then closes every connection and joins
  // the I/O threads. An answer arriving later is dropped. Idempotent.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Http
}  // namespace Tovri
