// Properties of the transport's request handling end to end: the input's
// bytes go over a real loopback socket into a `Tovri::Http::Server` of this
// process, which serves a LocalProvider with one operation behind a token
// file.
//
// Input: the whole input is what the client sends; then it half-closes and
// reads until the server closes. The server answers with well-formed HTTP
// responses (a cut-off last one only when the connection was reset) or
// closes without a word; it does so within a bound (it never hangs); it
// never crashes; and afterwards it still answers a good request.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <dral/provider/method_signal.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/http/server.hpp>
#include <tovri/http/wire.hpp>

#include "verdict.hpp"

namespace DralFuzz {

// The token the seeds carry; its hash is in the server's token file.
constexpr const char* kHttpFuzzToken = "fuzz-token-0c9e";
// sha256 of kHttpFuzzToken.
constexpr const char* kHttpFuzzTokenHash =
    "sha256:608998a6d0c726a3ca424e8446001d8b118aadb07675f14c4005f5f6890aaeed";
constexpr const char* kHttpFuzzService = "com.example.fuzz";

// The server every case talks to, started once for the process.
class FuzzServer {
 public:
  static FuzzServer& Instance() {
    static FuzzServer* server = new FuzzServer();  // lives as long as the process
    return *server;
  }
  bool started() const { return started_; }
  std::uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

 private:
  FuzzServer() {
    char pattern[] = "/tmp/fuzz-http-XXXXXX";
    const char* directory = ::mkdtemp(pattern);
    if (!directory) {
      error_ = "mkdtemp failed";
      return;
    }
    const std::string tokens = std::string(directory) + "/tokens";
    {
      std::ofstream file(tokens);
      file << kHttpFuzzTokenHash << " fuzzer admin\n";
    }
    ::chmod(tokens.c_str(), 0600);

    namespace Data = Tovri::Data;
    const auto text = Data::DataDefinition::Create<std::string>();
    const auto input = Data::StructDefinition::GetInstance("echo_input", {{"text", text}});
    auto method = Tovri::Provider::AsyncApiMethodSignal::GetInstance("echo", input, text, {}, nullptr);
    method->Connect(
        [](const Data::ValuePtr& value, const auto&, const Tovri::Provider::AsyncApiMethod::ResultCb& cb) {
          const Data::ValuePtr* slot = static_cast<const Data::CompoundValue&>(*value).FindSlot("text");
          cb(slot ? *slot : nullptr, nullptr, Tovri::FinalProgress(), nullptr);
        });
    auto provider = std::make_shared<Tovri::Core::LocalProvider>();
    provider->Register(Tovri::Provider::AsyncApiInterface::GetInstance(
        Tovri::Core::InterfaceIdentifier::GetInstance(kHttpFuzzService),
        Tovri::Provider::AsyncApiInterface::Methods{method}));

    Tovri::Http::ServerOptions options;
    options.tokenFile = tokens;
    options.ioThreads = 1;
    options.maxBodyBytes = 64 * 1024;
    options.maxHeaderBytes = 4 * 1024;
    options.headerTimeout = std::chrono::milliseconds(500);
    options.bodyTimeout = std::chrono::milliseconds(500);
    server_ = std::make_unique<Tovri::Http::Server>(provider, options);
    started_ = server_->Start(error_);
    if (started_) port_ = server_->BoundAddresses().front().port;
  }

  std::unique_ptr<Tovri::Http::Server> server_;
  bool started_ = false;
  std::uint16_t port_ = 0;
  std::string error_;
};

// What one connection got back: the bytes, whether the server closed within
// the bound, and whether it ended with a reset.
struct HttpExchange {
  std::string received;
  bool connected = false;
  bool closed = false;
  bool reset = false;
  long long milliseconds = 0;

  std::string Describe() const {
    return std::string(connected ? "connected" : "not connected") + (closed ? ", closed" : ", not closed") +
           (reset ? " by a reset" : "") + " after " + std::to_string(milliseconds) + " ms, received " +
           Printable(received);
  }
};

inline HttpExchange ExchangeBytes(std::uint16_t port, const std::string& bytes,
                                  std::chrono::milliseconds bound) {
  HttpExchange result;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return result;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return result;
  }
  result.connected = true;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + bound;
  std::size_t sent = 0;
  bool writing = true;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (writing && sent == bytes.size()) {
      ::shutdown(fd, SHUT_WR);
      writing = false;
    }
    pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    if (writing && (p.revents & POLLOUT)) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        writing = false;  // the server stopped reading: take in what it said
      }
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[16384];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        result.received.append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        result.closed = true;
        result.reset = n < 0;
        break;
      }
    }
  }
  ::close(fd);
  result.milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// Reads `text` as consecutive responses; false, with `why`, on a malformed
// one (a cut-off last one is allowed when `cutAllowed`).
inline bool WellFormedResponses(const std::string& text, bool cutAllowed, int& count, std::string& why) {
  namespace http = boost::beast::http;
  std::size_t at = 0;
  count = 0;
  while (at < text.size()) {
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.body_limit(16 * 1024 * 1024);
    boost::beast::error_code ec;
    const std::size_t used = parser.put(boost::asio::buffer(text.data() + at, text.size() - at), ec);
    if ((!ec || ec == http::error::need_more) && !parser.is_done()) {
      // The rest of the text, up to the end of the stream: complete only
      // when the response's body ends with the connection.
      ec = {};
      parser.put_eof(ec);
      if (!ec && parser.is_done()) {
        ++count;
        return true;
      }
    }
    if (ec || !parser.is_done()) {
      // A reset may cut the last response short, never garble it.
      if (cutAllowed && (!ec || ec == http::error::partial_message || ec == http::error::need_more))
        return true;
      why = "response " + std::to_string(count + 1) + ": " + (ec ? ec.message() : std::string("cut off"));
      return false;
    }
    const unsigned status = parser.get().result_int();
    if (status < 100 || status > 599) {
      why = "status " + std::to_string(status);
      return false;
    }
    ++count;
    at += used;
  }
  return true;
}

inline void CheckHttpRequestCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  FuzzServer& server = FuzzServer::Instance();
  if (!verdict.Require(server.started(), "the server starts", server.error())) return;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // Far above the server's timeouts (0.5 s each, 1 s linger).
  const HttpExchange got = ExchangeBytes(server.port(), bytes, std::chrono::seconds(10));
  verdict.Require(got.closed, "the server answers and closes in time", got.Describe());
  int count = 0;
  std::string why;
  verdict.Require(WellFormedResponses(got.received, got.reset, count, why),
                  "the server sends well-formed HTTP responses", why + " in " + Printable(got.received, 400));
  // A second try only after a connection that failed as a whole: a loopback
  // connect now and then meets the server's TIME_WAIT of an earlier
  // connection on the same port pair. Both attempts are reported.
  const std::string health = "GET /v1/health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  const auto answered = [](const HttpExchange& e) { return e.received.rfind("HTTP/1.1 200 ", 0) == 0; };
  const HttpExchange first = ExchangeBytes(server.port(), health, std::chrono::seconds(10));
  if (!answered(first)) {
    const bool retry = !first.connected || (first.received.empty() && first.reset);
    const HttpExchange second =
        retry ? ExchangeBytes(server.port(), health, std::chrono::seconds(10)) : first;
    verdict.Require(answered(second), "a good request is still answered",
                    "first: " + first.Describe() + (retry ? "; again: " + second.Describe() : std::string()));
  }
  if (!verdict.Passed()) verdict.Note("input: " + Printable(bytes, 400));
}

}  // namespace DralFuzz
