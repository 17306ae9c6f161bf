// The server against a plain HTTP exchange: paths, statuses, refusals,
// streaming, limits and shutdown.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/http/lossless_json.hpp>
#include <tovri/http/wire.hpp>

#include "http_test_support.hpp"

namespace {

using namespace Tovri;
using HttpTest::Exchange;
using HttpTest::RunningServer;
using HttpTest::ScriptedProvider;
namespace http = boost::beast::http;

// These tests speak the lossless shape to a provider without definitions.
const std::string kLossless = Http::kLosslessMediaType;

// Answers with its input, after as many progress reports as the input's
// integer says; an input string is taken as an error id to answer with.
std::shared_ptr<ScriptedProvider> EchoProvider() {
  return std::make_shared<ScriptedProvider>(
      [](const auto&, const Data::ValuePtr& input, const auto&, const Core::AsyncApiResultCb& cb) {
        if (input->GetType() == Data::kString) {
          cb(Core::MethodResult::GetInstance(
                 nullptr,
                 Data::ErrorValue::GetInstance(static_cast<const Data::StringValue&>(*input).GetValue())),
             FinalProgress());
          return;
        }
        if (input->GetType() == Data::kInteger) {
          const long long n = static_cast<const Data::IntegerValue&>(*input).GetValue();
          for (long long i = 1; i <= n; ++i) cb(nullptr, Progress{0, i, n + 1});
        }
        cb(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
      });
}

std::string Request(const Data::DataValue& input) {
  return "{\"input\":" + Http::ToLosslessJson(input) + "}";
}

TEST(HttpServer, AnswersCallsAndMapsErrorIdsToStatuses) {
  RunningServer running(EchoProvider());
  const auto value = Data::IntegerValue::GetInstance(0);
  HttpTest::Reply ok = Exchange(running.port, http::verb::post, "/v1/svc/op", Request(*value), kLossless);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(ok.contentType, kLossless);
  EXPECT_EQ(ok.body, "{\"output\":" + Http::ToLosslessJson(*value) + "}");

  const std::vector<std::pair<std::string, int>> table = {
      {"com.corvane.tovri.std.errors.invalid_argument", 400},
      {"com.corvane.tovri.std.errors.unauthenticated", 401},
      {"com.corvane.tovri.std.errors.unauthorized", 403},
      {"com.corvane.tovri.std.errors.not_found", 404},
      {"com.corvane.tovri.std.errors.already_exists", 409},
      {"com.corvane.tovri.std.errors.internal_server_error", 500},
      {"com.example.declared_elsewhere", 500},
  };
  for (const auto& row : table) {
    HttpTest::Reply reply = Exchange(running.port, http::verb::post, "/v1/svc/op",
                                     Request(*Data::StringValue::GetInstance(row.first)), kLossless);
    EXPECT_EQ(reply.status, row.second) << row.first;
    EXPECT_NE(reply.body.find(row.first), std::string::npos) << reply.body;
  }
}

TEST(HttpServer, StreamsProgressOnlyToThoseWhoAskForIt) {
  RunningServer running(EchoProvider());
  const auto two = Data::IntegerValue::GetInstance(2);
  HttpTest::Reply streamed = Exchange(running.port, http::verb::post, "/v1/svc/op", Request(*two), kLossless,
                                      "application/x-ndjson");
  EXPECT_EQ(streamed.status, 200);
  EXPECT_TRUE(streamed.chunked);
  EXPECT_EQ(streamed.contentType, "application/x-ndjson");
  EXPECT_EQ(streamed.body, "{\"progress\":[0,1,3]}\n{\"progress\":[0,2,3]}\n{\"output\":" +
                               Http::ToLosslessJson(*two) + "}\n");
  HttpTest::Reply plain = Exchange(running.port, http::verb::post, "/v1/svc/op", Request(*two), kLossless);
  EXPECT_EQ(plain.body, "{\"output\":" + Http::ToLosslessJson(*two) + "}");
}

// Each refusal: its status, an error body naming the error id, and the
// provider never called.
TEST(HttpServer, RefusesBadRequestsWithAnErrorBody) {
  auto provider = EchoProvider();
  Http::ServerOptions options;
  options.maxBodyBytes = 1024;
  options.maxHeaderBytes = 1024;
  RunningServer running(provider, options);
  const std::string good = Request(*Data::VoidValue::GetInstance());
  struct Row {
    const char* what;
    http::verb verb;
    std::string target;
    std::string body;
    std::string contentType;
    int status;
    const char* errorId;
  };
  const std::vector<Row> table = {
      {"malformed JSON", http::verb::post, "/v1/svc/op", "{\"input\":", kLossless, 400,
       Http::kInvalidArgumentId},
      {"not an envelope", http::verb::post, "/v1/svc/op", "[\"void\"]", kLossless, 400,
       Http::kInvalidArgumentId},
      {"bad value", http::verb::post, "/v1/svc/op", "{\"input\":[\"int\",\"x\"]}", kLossless, 400,
       Http::kInvalidArgumentId},
      {"wrong content type", http::verb::post, "/v1/svc/op", good, "text/plain", 415,
       Http::kInvalidArgumentId},
      {"no content type", http::verb::post, "/v1/svc/op", good, "", 415, Http::kInvalidArgumentId},
      {"body too large", http::verb::post, "/v1/svc/op", std::string(2048, ' '), kLossless, 413,
       Http::kInvalidArgumentId},
      {"unknown path", http::verb::post, "/v2/svc/op", good, kLossless, 404, Http::kNotFoundId},
      {"no operation", http::verb::post, "/v1/svc", good, kLossless, 404, Http::kNotFoundId},
      {"extra segment", http::verb::post, "/v1/svc/op/x", good, kLossless, 404, Http::kNotFoundId},
      {"GET on a call", http::verb::get, "/v1/svc/op", "", "", 405, Http::kUnsupportedId},
      {"POST on health", http::verb::post, "/v1/health", good, kLossless, 405, Http::kUnsupportedId},
  };
  for (const auto& row : table) {
    HttpTest::Reply reply = Exchange(running.port, row.verb, row.target, row.body, row.contentType);
    EXPECT_EQ(reply.status, row.status) << row.what;
    // Refusals answer in the shape of the request, the natural one when unknown.
    const bool lossless = row.contentType == kLossless && row.target != Http::kHealthPath;
    EXPECT_EQ(reply.contentType, lossless ? kLossless : "application/json") << row.what;
    EXPECT_NE(reply.body.find(row.errorId), std::string::npos) << row.what << ": " << reply.body;
  }
  EXPECT_EQ(provider->Calls(), 0);
  // Content type parameters and case do not matter.
  EXPECT_EQ(Exchange(running.port, http::verb::post, "/v1/svc/op", good,
                     "Application/VND.tovri.Lossless+JSON; charset=utf-8")
                .status,
            200);
}

TEST(HttpServer, HealthAnswersAndRevealsNothing) {
  RunningServer running(EchoProvider());
  HttpTest::Reply reply = Exchange(running.port, http::verb::get, "/v1/health", "", "");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "{\"status\":\"ok\"}");
}

TEST(HttpServer, ListensOnIpv6LoopbackAndRefusesOtherAddressesUnlessAllowed) {
  RunningServer v6(EchoProvider(), {}, "::1");
  EXPECT_EQ(Exchange(v6.port, http::verb::get, "/v1/health", "", "", "", "::1").status, 200);

  const std::vector<std::string> refused = {"0.0.0.0", "::", "localhost", "300.1.1.1"};
  for (const auto& address : refused) {
    Http::ServerOptions options;
    options.listen = {{"127.0.0.1", 0}, {address, 0}};
    Http::Server server(EchoProvider(), options);
    std::string error;
    EXPECT_FALSE(server.Start(error)) << address;
    EXPECT_NE(error.find(address), std::string::npos) << error;
  }
}

TEST(HttpServer, StopLetsCallsInFlightFinishWithinTheGrace) {
  std::vector<std::thread> late;
  std::mutex mutex;
  auto provider = std::make_shared<ScriptedProvider>(
      [&](const auto&, const Data::ValuePtr& input, const auto&, const Core::AsyncApiResultCb& cb) {
        std::lock_guard<std::mutex> lock(mutex);
        late.emplace_back([cb, input] {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          cb(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
        });
      });
  auto running = std::make_unique<RunningServer>(provider);
  const std::uint16_t port = running->port;
  std::atomic<int> status{-1};
  std::thread caller([&] {
    status =
        Exchange(port, http::verb::post, "/v1/svc/op", Request(*Data::VoidValue::GetInstance()), kLossless)
            .status;
  });
  while (provider->Calls() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = std::chrono::steady_clock::now();
  running->server->Stop(std::chrono::seconds(5));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  caller.join();
  EXPECT_EQ(status.load(), 200);
  // No longer accepting.
  EXPECT_EQ(Exchange(port, http::verb::get, "/v1/health", "", "").status, 0);
  for (auto& thread : late) thread.join();
}

// A provider that answers after the grace, and one that answers after the
// client left: neither crashes nor answers twice (the sanitizer build
// watches for leaks and use after free).
TEST(HttpServer, LateAnswersAndDepartedClientsAreHarmless) {
  std::vector<std::thread> late;
  std::mutex mutex;
  auto provider = std::make_shared<ScriptedProvider>(
      [&](const auto&, const Data::ValuePtr& input, const auto&, const Core::AsyncApiResultCb& cb) {
        std::lock_guard<std::mutex> lock(mutex);
        late.emplace_back([cb, input] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          // A copy taken before the final answer can still be called after it.
          const Core::AsyncApiResultCb again = cb;
          cb(nullptr, Progress{0, 1, 2});
          cb(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
          again(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
        });
      });
  {
    RunningServer running(provider);
    // A client that sends a call and leaves at once.
    {
      boost::asio::io_context ioc;
      boost::beast::tcp_stream stream(ioc);
      stream.connect(
          boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), running.port));
      http::request<http::string_body> request(http::verb::post, "/v1/svc/op", 11);
      request.set(http::field::content_type, kLossless);
      request.set(http::field::accept, "application/x-ndjson");
      request.body() = Request(*Data::VoidValue::GetInstance());
      request.prepare_payload();
      http::write(stream, request);
    }
    std::thread caller([&] {
      Exchange(running.port, http::verb::post, "/v1/svc/op", Request(*Data::VoidValue::GetInstance()),
               kLossless);
    });
    while (provider->Calls() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    running.server->Stop(std::chrono::milliseconds(20));
    caller.join();
  }
  for (auto& thread : late) thread.join();
}

TEST(HttpServer, ClosesConnectionsBeyondTheLimitAndSlowSenders) {
  Http::ServerOptions options;
  options.maxConnections = 1;
  options.headerTimeout = std::chrono::milliseconds(200);
  RunningServer running(EchoProvider(), options);
  boost::asio::io_context ioc;
  boost::beast::tcp_stream idle(ioc);
  idle.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), running.port));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The idle connection holds the only place.
  EXPECT_EQ(Exchange(running.port, http::verb::get, "/v1/health", "", "").status, 0);
  // It sends nothing: closed after the header timeout, which frees the place.
  char byte;
  boost::beast::error_code ec;
  idle.expires_after(std::chrono::seconds(5));
  idle.socket().read_some(boost::asio::buffer(&byte, 1), ec);
  EXPECT_TRUE(ec);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Exchange(running.port, http::verb::get, "/v1/health", "", "").status, 200);
}

}  // namespace
