// What the transport's tests share: a scripted provider, a server on a free
// loopback port, and a plain synchronous HTTP exchange to speak to it
// without our client.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <tovri/core/invocation.hpp>
#include <tovri/http/server.hpp>

namespace Tovri {
namespace HttpTest {

// A provider whose answer is a function of the call: it records each call
// and hands the callback to `script`, which may answer at once, later from
// another thread, or never.
class ScriptedProvider final : public Core::ApiProvider {
 public:
  using Script =
      std::function<void(const std::shared_ptr<const Core::MethodIdentifier>&, const Data::ValuePtr&,
                         const std::shared_ptr<Core::AsyncActivation>&, const Core::AsyncApiResultCb&)>;
  explicit ScriptedProvider(Script script) : script_(std::move(script)) {}

  void Invoke(const std::shared_ptr<const Core::MethodIdentifier>& method, const Data::ValuePtr& input,
              const std::shared_ptr<Core::AsyncActivation>& activation,
              const Core::AsyncApiResultCb& resultCb) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_;
    }
    script_(method, input, activation, resultCb);
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  Script script_;
  std::mutex mutex_;
  int calls_ = 0;
};

// A server started on a free port of `address` for the life of the object.
struct RunningServer {
  explicit RunningServer(std::shared_ptr<Core::ApiProvider> provider, Http::ServerOptions options = {},
                         const std::string& address = "127.0.0.1") {
    options.listen = {{address, 0}};
    server = std::make_unique<Http::Server>(std::move(provider), options);
    std::string error;
    started = server->Start(error);
    EXPECT_TRUE(started) << error;
    if (started) port = server->BoundAddresses().front().port;
  }
  std::unique_ptr<Http::Server> server;
  bool started = false;
  std::uint16_t port = 0;
};

struct Reply {
  int status = 0;
  std::string contentType;
  std::string body;
  bool chunked = false;
};

// One request over a new connection; status 0 when the exchange failed.
inline Reply Exchange(std::uint16_t port, boost::beast::http::verb verb, const std::string& target,
                      const std::string& body, const std::string& contentType = "application/json",
                      const std::string& accept = "", const std::string& address = "127.0.0.1") {
  namespace beast = boost::beast;
  namespace http = beast::http;
  boost::asio::io_context ioc;
  beast::tcp_stream stream(ioc);
  stream.expires_after(std::chrono::seconds(10));
  Reply reply;
  beast::error_code ec;
  stream.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address(address), port), ec);
  if (ec) return reply;
  http::request<http::string_body> request(verb, target, 11);
  request.set(http::field::host, address);
  if (!contentType.empty()) request.set(http::field::content_type, contentType);
  if (!accept.empty()) request.set(http::field::accept, accept);
  request.body() = body;
  request.prepare_payload();
  http::write(stream, request, ec);
  if (ec) return reply;
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(stream, buffer, response, ec);
  if (ec) return reply;
  reply.status = static_cast<int>(response.result_int());
  reply.contentType = std::string(response[http::field::content_type]);
  reply.body = response.body();
  reply.chunked = response.chunked();
  return reply;
}

}  // namespace HttpTest
}  // namespace Tovri
