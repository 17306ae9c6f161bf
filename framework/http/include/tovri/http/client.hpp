// The HTTP client: an invocation provider that sends each call to a server
// of this library, so that api stubs work across processes unchanged.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <tovri/core/invocation.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/http/lossless_json.hpp>
#include <tovri/http/security.hpp>

namespace Tovri {
namespace Http {

// An activation property giving one call its own deadline, in milliseconds
// (decimal text). Read by the client, never sent.
constexpr const char* kTimeoutProperty = "tovri.http.timeout_ms";

struct ClientOptions {
  std::string host = "127.0.0.1";  // an IP literal or a name to resolve
  std::uint16_t port = 0;
  int ioThreads = 1;
  // From Invoke to the final answer, connecting included.
  std::chrono::milliseconds callTimeout{30000};
  // Kept-alive connections kept for reuse; more are closed after their call.
  std::size_t maxIdleConnections = 8;
  std::size_t maxAnswerBytes = 16 * 1024 * 1024;
  JsonLimits limits;
  // TLS to the server when set.
  std::optional<TlsClientOptions> tls;
  // Sent as "Authorization: Bearer <token>" when not empty; never logged.
  SecretString bearerToken;
};

// Sends calls over HTTP/1.1 on a pool of kept-alive connections, asking for
// progress reports as a stream. Every call is answered exactly once: with
// the server's answer, or with an error of the transport (docs/wire.md):
//  - "com.corvane.tovri.std.errors.service_unavailable": the connection was
//    refused or lost, the TLS setup or handshake failed, or the client was
//    closed;
//  - "com.corvane.tovri.std.errors.timed_out": no final answer before the
//    deadline;
//  - "com.corvane.tovri.std.errors.internal_server_error" with message
//    "tovri.http.malformed.answer": the answer could not be read.
// A kept-alive connection the server closed while idle is left before a
// call is sent on it; a call whose request could not be written whole on a
// reused connection is sent once more on a new one. A call whose request
// was written is never resent (the server may have run it).
//
// Answers (progress reports and the final one) run on the client's I/O
// threads, those of one call in order on one of them; only a call made
// after the client began closing is answered at once on the caller's
// thread. Invoke may be called from any thread.
class Client final : public Core::ApiProvider {
 public:
  explicit Client(ClientOptions options);
  // Answers the calls in flight with service_unavailable, then joins the
  // I/O threads. Must not run on one of them (from inside an answer).
  ~Client() override;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Invoke(const std::shared_ptr<const Core::MethodIdentifier>& method, const Data::ValuePtr& input,
              const std::shared_ptr<Core::AsyncActivation>& activation,
              const Core::AsyncApiResultCb& resultCb) override;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace Http
}  // namespace Tovri
