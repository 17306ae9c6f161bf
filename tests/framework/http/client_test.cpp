// The client against our server and against answers nobody should send:
// values and progress cross intact, and every transport failure ends the
// call once with its documented error.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/http/client.hpp>
#include <tovri/http/wire.hpp>

#include "http_test_support.hpp"

namespace {

using namespace Tovri;
using HttpTest::RunningServer;
using HttpTest::ScriptedProvider;
using ResultPtr = std::shared_ptr<const Core::MethodResult>;

// What one call received, waited for with a bound.
class Outcome {
 public:
  Core::AsyncApiResultCb Callback() {
    return [this](const ResultPtr& result, const Progress& progress, Core::AsyncApiResultCb::Continuation&&) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (result) {
        ++finals_;
        result_ = result;
        changed_.notify_all();
      } else {
        progress_.push_back(progress);
      }
    };
  }
  ResultPtr Wait(std::chrono::milliseconds patience = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, patience, [this] { return finals_ > 0; });
    return result_;
  }
  int Finals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finals_;
  }
  std::vector<Progress> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int finals_ = 0;
  ResultPtr result_;
  std::vector<Progress> progress_;
};

std::shared_ptr<const Core::MethodIdentifier> Method(const std::string& service = "com.example.svc",
                                                     const std::string& operation = "op") {
  return Core::MethodIdentifier::GetInstance(Core::InterfaceIdentifier::GetInstance(service), operation);
}

Http::ClientOptions To(std::uint16_t port) {
  Http::ClientOptions options;
  options.port = port;
  return options;
}

std::string ErrorId(const ResultPtr& result) {
  return result && result->GetError() ? result->GetError()->GetId() : "";
}

bool CarriesMessage(const ResultPtr& result, const char* messageId) {
  if (!result || !result->GetError()) return false;
  for (const auto& message : result->GetError()->GetMessages()) {
    if (message.message.id == messageId) return true;
  }
  return false;
}

// Answers with its input after two progress reports, and with the activation
// property "answer" as an error id when there is one.
std::shared_ptr<ScriptedProvider> Echo() {
  return std::make_shared<ScriptedProvider>([](const auto&, const Data::ValuePtr& input,
                                               const std::shared_ptr<Core::AsyncActivation>& activation,
                                               const Core::AsyncApiResultCb& cb) {
    cb(nullptr, Progress{0, 1, 3});
    cb(nullptr, Progress{0, 2, 3});
    const auto error = activation->properties.find("answer");
    if (error != activation->properties.end()) {
      cb(Core::MethodResult::GetInstance(
             nullptr,
             Data::ErrorValue::Create(error->second, std::list<BaseMessage>{BaseMessage("m", "t", {"a"})})),
         FinalProgress());
    } else {
      cb(Core::MethodResult::GetInstance(input, nullptr, false), FinalProgress());
    }
  });
}

TEST(HttpClient, CarriesValuesProgressErrorsAndProperties) {
  RunningServer running(Echo());
  Http::Client client(To(running.port));
  auto structure = Data::StructValue::GetInstance("s");
  structure->SetField("blob", Data::BlobValue::GetInstance({0, 255}));
  structure->SetField("nested", Data::OptionalValue::GetInstance(Data::DoubleValue::GetInstance(-0.5)));

  Outcome value;
  client.Invoke(Method(), structure, std::make_shared<Core::AsyncActivation>(), value.Callback());
  const ResultPtr result = value.Wait();
  ASSERT_TRUE(result && result->GetOutput());
  EXPECT_TRUE(Data::Equal(*result->GetOutput(), *structure));
  EXPECT_FALSE(result->IsChecked());
  EXPECT_EQ(value.Reports(), (std::vector<Progress>{{0, 1, 3}, {0, 2, 3}}));

  auto activation = std::make_shared<Core::AsyncActivation>();
  activation->properties["answer"] = "com.corvane.tovri.std.errors.already_exists";
  Outcome error;
  client.Invoke(Method(), structure, activation, error.Callback());
  const ResultPtr failed = error.Wait();
  EXPECT_EQ(ErrorId(failed), "com.corvane.tovri.std.errors.already_exists");
  EXPECT_TRUE(CarriesMessage(failed, "m"));
  EXPECT_EQ(error.Reports().size(), 2u);
}

TEST(HttpClient, ReachesAServerOnIpv6Loopback) {
  RunningServer running(Echo(), {}, "::1");
  Http::ClientOptions options = To(running.port);
  options.host = "::1";
  Http::Client client(options);
  Outcome outcome;
  client.Invoke(Method(), Data::StringValue::GetInstance("v6"), nullptr, outcome.Callback());
  const ResultPtr result = outcome.Wait();
  ASSERT_TRUE(result && result->GetOutput()) << ErrorId(result);
  EXPECT_TRUE(Data::Equal(*result->GetOutput(), *Data::StringValue::GetInstance("v6")));
}

TEST(HttpClient, ManyThreadsShareOneClient) {
  RunningServer running(Echo());
  Http::ClientOptions options = To(running.port);
  options.ioThreads = 2;
  options.maxIdleConnections = 3;
  Http::Client client(options);
  constexpr int kThreads = 6;
  constexpr int kCalls = 40;
  std::vector<std::unique_ptr<Outcome>> outcomes(kThreads * kCalls);
  for (auto& outcome : outcomes) outcome = std::make_unique<Outcome>();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int n = t * kCalls + i;
        client.Invoke(Method(), Data::IntegerValue::GetInstance(n), nullptr, outcomes[n]->Callback());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int n = 0; n < kThreads * kCalls; ++n) {
    const ResultPtr result = outcomes[n]->Wait();
    ASSERT_TRUE(result && result->GetOutput()) << n << " " << ErrorId(result);
    EXPECT_TRUE(Data::Equal(*result->GetOutput(), *Data::IntegerValue::GetInstance(n)));
  }
  for (auto& outcome : outcomes) EXPECT_EQ(outcome->Finals(), 1);
}

TEST(HttpClient, RefusedConnectionIsServiceUnavailable) {
  std::uint16_t port;
  {
    RunningServer gone(Echo());
    port = gone.port;
  }
  Http::Client client(To(port));
  Outcome outcome;
  client.Invoke(Method(), Data::VoidValue::GetInstance(), nullptr, outcome.Callback());
  const ResultPtr result = outcome.Wait();
  EXPECT_EQ(ErrorId(result), Http::kServiceUnavailableId);
  EXPECT_TRUE(CarriesMessage(result, Http::kConnectFailedMessage));
}

// A provider that keeps its callbacks; answered at the end, after the
// client has given up on them.
struct Hoarder {
  std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>(
      [this](const auto&, const Data::ValuePtr&, const auto&, const Core::AsyncApiResultCb& cb) {
        std::lock_guard<std::mutex> lock(mutex);
        kept.push_back(cb);
      });
  void AnswerAll() {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& cb : kept)
      cb(Core::MethodResult::GetInstance(Data::VoidValue::GetInstance(), nullptr), FinalProgress());
    kept.clear();
  }
  std::mutex mutex;
  std::vector<Core::AsyncApiResultCb> kept;
};

TEST(HttpClient, DeadlinesEndCallsOnceWithTimedOut) {
  Hoarder hoarder;
  RunningServer running(hoarder.provider);
  Http::ClientOptions options = To(running.port);
  options.callTimeout = std::chrono::milliseconds(150);
  Http::Client client(options);

  Outcome byOption;
  Outcome byProperty;
  auto activation = std::make_shared<Core::AsyncActivation>();
  activation->properties[Http::kTimeoutProperty] = "50";
  const auto start = std::chrono::steady_clock::now();
  client.Invoke(Method(), Data::VoidValue::GetInstance(), activation, byProperty.Callback());
  EXPECT_EQ(ErrorId(byProperty.Wait()), Http::kTimedOutId);
  const auto propertyTook = std::chrono::steady_clock::now() - start;
  client.Invoke(Method(), Data::VoidValue::GetInstance(), nullptr, byOption.Callback());
  EXPECT_EQ(ErrorId(byOption.Wait()), Http::kTimedOutId);
  EXPECT_TRUE(CarriesMessage(byOption.Wait(), Http::kTimedOutMessage));
  EXPECT_LT(propertyTook, std::chrono::milliseconds(140));

  hoarder.AnswerAll();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(byOption.Finals(), 1);
  EXPECT_EQ(byProperty.Finals(), 1);
}

TEST(HttpClient, ReconnectsAfterTheServerDroppedAnIdleConnection) {
  Http::ServerOptions serverOptions;
  serverOptions.headerTimeout = std::chrono::milliseconds(100);
  RunningServer running(Echo(), serverOptions);
  Http::Client client(To(running.port));
  for (int round = 0; round < 3; ++round) {
    Outcome outcome;
    client.Invoke(Method(), Data::IntegerValue::GetInstance(round), nullptr, outcome.Callback());
    const ResultPtr result = outcome.Wait();
    ASSERT_TRUE(result && result->GetOutput()) << round << ": " << ErrorId(result);
    // Long enough for the server to close the kept-alive connection.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
}

TEST(HttpClient, ServerGoingAwayMidCallIsServiceUnavailable) {
  Hoarder hoarder;
  auto running = std::make_unique<RunningServer>(hoarder.provider);
  Http::Client client(To(running->port));
  Outcome outcome;
  client.Invoke(Method(), Data::VoidValue::GetInstance(), nullptr, outcome.Callback());
  while (hoarder.provider->Calls() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  running->server->Stop(std::chrono::milliseconds(0));
  const ResultPtr result = outcome.Wait();
  EXPECT_EQ(ErrorId(result), Http::kServiceUnavailableId);
  EXPECT_TRUE(CarriesMessage(result, Http::kConnectionLostMessage));
  hoarder.AnswerAll();
  EXPECT_EQ(outcome.Finals(), 1);
}

TEST(HttpClient, ClosingAnswersCallsInFlight) {
  Hoarder hoarder;
  RunningServer running(hoarder.provider);
  Outcome outcome;
  {
    Http::Client client(To(running.port));
    client.Invoke(Method(), Data::VoidValue::GetInstance(), nullptr, outcome.Callback());
    while (hoarder.provider->Calls() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(outcome.Finals(), 1);
  EXPECT_TRUE(CarriesMessage(outcome.Wait(), Http::kClientClosedMessage));
  hoarder.AnswerAll();
}

// A server that answers every request with `raw` and closes.
class RawServer {
 public:
  explicit RawServer(std::string raw)
      : acceptor_(ioc_, {boost::asio::ip::make_address("127.0.0.1"), 0}), raw_(std::move(raw)) {
    thread_ = std::thread([this] {
      boost::beast::error_code ec;
      boost::asio::ip::tcp::socket socket(ioc_);
      acceptor_.accept(socket, ec);
      if (ec) return;
      boost::beast::flat_buffer buffer;
      boost::beast::http::request<boost::beast::http::string_body> request;
      boost::beast::http::read(socket, buffer, request, ec);
      boost::asio::write(socket, boost::asio::buffer(raw_), ec);
      socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
    });
  }
  ~RawServer() { thread_.join(); }
  std::uint16_t Port() const { return acceptor_.local_endpoint().port(); }

 private:
  boost::asio::io_context ioc_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::string raw_;
  std::thread thread_;
};

TEST(HttpClient, MalformedAnswersAreReportedAsSuch) {
  const std::vector<std::pair<const char*, std::string>> table = {
      {"not HTTP", "garbage\r\n\r\n"},
      {"not JSON", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 5\r\n\r\nhello"},
      {"no answer member", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}"},
      {"status without body", "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"},
      {"stream without final",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n15\r\n{\"progress\":[0,1,2]}\n\r\n0\r\n\r\n"},
      {"bad stream line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n{\"a\"}\n\r\n0\r\n\r\n"},
  };
  for (const auto& row : table) {
    RawServer raw(row.second);
    Http::Client client(To(raw.Port()));
    Outcome outcome;
    client.Invoke(Method(), Data::VoidValue::GetInstance(), nullptr, outcome.Callback());
    const ResultPtr result = outcome.Wait();
    EXPECT_EQ(ErrorId(result), Http::kInternalServerErrorId) << row.first;
    EXPECT_TRUE(CarriesMessage(result, Http::kMalformedAnswerMessage)) << row.first;
  }
}

}  // namespace
