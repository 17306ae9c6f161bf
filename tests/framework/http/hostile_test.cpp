// The server against clients that do not play by the rules, over raw
// loopback sockets: broken or oversized framing, bodies nested a million
// deep, senders that trickle, and more connections than it takes. Each must
// be answered with its status or closed within the configured time, and a
// well-behaved client must be served afterwards.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dral/provider/method_signal.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/http/wire.hpp>

#include "http_test_support.hpp"

namespace {

using namespace Tovri;
using Clock = std::chrono::steady_clock;
using HttpTest::Exchange;
using HttpTest::RunningServer;
namespace http = boost::beast::http;

constexpr const char* kService = "com.example.hostile";

// A provider with definitions, so that natural bodies are read too: "echo"
// takes {"text": string} and answers it.
std::shared_ptr<Core::LocalProvider> EchoProvider() {
  const auto text = Data::DataDefinition::Create<std::string>();
  const auto input = Data::StructDefinition::GetInstance("echo_input", {{"text", text}});
  auto method = Provider::AsyncApiMethodSignal::GetInstance("echo", input, text, {}, nullptr);
  method->Connect([](const Data::ValuePtr& value, const auto&, const Provider::AsyncApiMethod::ResultCb& cb) {
    const Data::ValuePtr* slot = static_cast<const Data::CompoundValue&>(*value).FindSlot("text");
    cb(slot ? *slot : nullptr, nullptr, FinalProgress(), nullptr);
  });
  auto provider = std::make_shared<Core::LocalProvider>();
  provider->Register(Provider::AsyncApiInterface::GetInstance(
      Core::InterfaceIdentifier::GetInstance(kService), Provider::AsyncApiInterface::Methods{method}));
  return provider;
}

const std::string kEchoPath = std::string("/v1/") + kService + "/echo";

// A raw client connection; every wait is bounded.
class Raw {
 public:
  explicit Raw(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Raw() {
    if (fd_ >= 0) ::close(fd_);
  }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;

  bool connected() const { return connected_; }
  // False once the server has closed (or reset) the connection.
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads what arrives within `wait`; true when the server closed.
  bool Read(std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[65536];
      const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) return true;
      received_.append(chunk, static_cast<std::size_t>(got));
    }
  }
  // The status of the first answer, 0 without one.
  int Status() const {
    if (received_.compare(0, 9, "HTTP/1.1 ") != 0 || received_.size() < 12) return 0;
    return std::atoi(received_.substr(9, 3).c_str());
  }
  const std::string& received() const { return received_; }

 private:
  int fd_;
  bool connected_ = false;
  std::string received_;
};

std::string Header(const std::string& fields, const std::string& contentType = Http::kLosslessMediaType) {
  return "POST " + kEchoPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType + "\r\n" +
         fields + "\r\n";
}

int Health(std::uint16_t port) { return Exchange(port, http::verb::get, Http::kHealthPath, "", "").status; }

TEST(HttpHostile, BrokenOrOversizedFramingIsAnsweredBeforeAnyBodyIsRead) {
  Http::ServerOptions options;
  options.maxBodyBytes = 1024 * 1024;  // as trustd
  RunningServer running(EchoProvider(), options);
  ASSERT_TRUE(running.started);
  struct Row {
    const char* what;
    std::string request;  // the header only: no body byte is ever sent
    int status;
  };
  const std::vector<Row> table = {
      {"length of 4 GiB", Header("Content-Length: 4294967296\r\n"), 413},
      {"largest 64-bit length", Header("Content-Length: 18446744073709551615\r\n"), 413},
      {"length past 64 bits", Header("Content-Length: 18446744073709551616\r\n"), 400},
      {"length of 30 digits", Header("Content-Length: 999999999999999999999999999999\r\n"), 400},
      {"negative length", Header("Content-Length: -1\r\n"), 400},
      {"length not a number", Header("Content-Length: ten\r\n"), 400},
      {"two different lengths", Header("Content-Length: 2\r\nContent-Length: 3\r\n"), 400},
      {"chunk of 2^64 - 1 bytes", Header("Transfer-Encoding: chunked\r\n") + "ffffffffffffffff\r\n", 413},
      {"chunk size past 64 bits", Header("Transfer-Encoding: chunked\r\n") + "1ffffffffffffffff\r\n", 400},
      {"chunk size not hex", Header("Transfer-Encoding: chunked\r\n") + "zz\r\n", 400},
      {"not HTTP", "HELLO\r\n\r\n", 400},
      {"bad version", "GET /v1/health HTTP/9\r\n\r\n", 400},
      {"control byte in a field", Header("X-A: a\x01z\r\n"), 400},
      {"header of 20,000 bytes", Header("X-Pad: " + std::string(20000, 'p') + "\r\n"), 431},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    Raw raw(running.port);
    ASSERT_TRUE(raw.connected());
    raw.Send(row.request);
    // The refusal comes without the body, then the connection closes.
    EXPECT_TRUE(raw.Read(std::chrono::seconds(5)));
    EXPECT_EQ(raw.Status(), row.status) << raw.received();
    EXPECT_NE(raw.received().find(Http::kInvalidArgumentId), std::string::npos) << raw.received();
  }
  EXPECT_EQ(Health(running.port), 200);
}

TEST(HttpHostile, BodiesNestedAMillionDeepAreRefusedInBothShapes) {
  RunningServer running(EchoProvider());  // the transport's default limits
  ASSERT_TRUE(running.started);
  const std::string open(1000000, '[');
  const std::string close(1000000, ']');
  struct Row {
    const char* what;
    std::string contentType;
    std::string body;
    const char* reason;  // in the refusal
  };
  const std::vector<Row> table = {
      {"lossless, closed", Http::kLosslessMediaType, "{\"input\":" + open + close + "}", "malformed JSON"},
      {"lossless, never closed", Http::kLosslessMediaType, "{\"input\":" + open, "malformed JSON"},
      {"natural, closed (2 MB)", Http::kJsonMediaType, "{\"input\":{\"text\":" + open + close + "}}",
       "too.large"},
      {"natural, never closed", Http::kJsonMediaType, "{\"input\":{\"text\":" + open, "too.deep"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    const auto start = Clock::now();
    const HttpTest::Reply reply =
        Exchange(running.port, http::verb::post, kEchoPath, row.body, row.contentType);
    EXPECT_EQ(reply.status, 400) << reply.body.substr(0, 400);
    EXPECT_NE(reply.body.find(Http::kInvalidArgumentId), std::string::npos) << reply.body.substr(0, 400);
    EXPECT_NE(reply.body.find(row.reason), std::string::npos) << reply.body.substr(0, 400);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  }
  EXPECT_EQ(Exchange(running.port, http::verb::post, kEchoPath, "{\"input\":{\"text\":\"ok\"}}").status, 200);
}

// A byte at a time, every 50 ms, for up to `limit`, until a send fails: the
// end of the stream may be only the server's sending side, while it still
// reads; what counts is when it stops taking bytes. How long that took.
std::chrono::milliseconds TrickleUntilClosed(Raw& raw, const std::string& bytes,
                                             std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  for (std::size_t i = 0; Clock::now() - start < limit; ++i) {
    if (!raw.Send(std::string(1, bytes[i % bytes.size()]))) break;
    if (raw.Read(std::chrono::milliseconds(50))) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

TEST(HttpHostile, SlowSendersAreCutOffAtTheirDeadline) {
  Http::ServerOptions options;
  options.headerTimeout = std::chrono::milliseconds(400);
  options.bodyTimeout = std::chrono::milliseconds(400);
  options.maxBodyBytes = 64;
  RunningServer running(EchoProvider(), options);
  ASSERT_TRUE(running.started);
  const std::string body = "{\"input\":{\"text\":\"a slow one\"}}";
  struct Row {
    const char* what;
    std::string first;    // sent at once
    std::string trickle;  // then a byte at a time, repeated
    int status;           // of what the server sends before closing, 0: nothing
  };
  const std::vector<Row> table = {
      {"header a byte at a time", "", Header("X-Slow: " + std::string(200, 's') + "\r\n"), 0},
      {"body a byte at a time", Header("Content-Length: 40\r\n", Http::kJsonMediaType), body, 0},
      // Refused before its body: the linger after the refusal has one
      // deadline, however long the client goes on sending.
      {"body past the limit, sent on", Header("Content-Length: 100000\r\n", Http::kJsonMediaType), body, 413},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    Raw raw(running.port);
    ASSERT_TRUE(raw.connected());
    if (!row.first.empty()) raw.Send(row.first);
    const auto took = TrickleUntilClosed(raw, row.trickle, std::chrono::seconds(6));
    EXPECT_LT(took.count(), 2500) << "ms until the server stopped taking bytes";
    EXPECT_EQ(raw.Status(), row.status) << raw.received();
  }
  EXPECT_EQ(Health(running.port), 200);
}

TEST(HttpHostile, ConnectionsBeyondTheLimitAreClosedAndIdleOnesFreeTheirPlace) {
  Http::ServerOptions options;
  options.maxConnections = 4;
  options.headerTimeout = std::chrono::milliseconds(500);
  RunningServer running(EchoProvider(), options);
  ASSERT_TRUE(running.started);
  std::vector<std::unique_ptr<Raw>> idle;
  for (int i = 0; i < 4; ++i) {
    idle.push_back(std::make_unique<Raw>(running.port));
    ASSERT_TRUE(idle.back()->connected());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Every place is taken: more connections are closed at once, unanswered.
  for (int i = 0; i < 8; ++i) {
    Raw extra(running.port);
    EXPECT_TRUE(extra.Read(std::chrono::milliseconds(300))) << i;
    EXPECT_EQ(extra.received(), "") << i;
  }
  // The idle ones are closed after the header timeout...
  const auto start = Clock::now();
  for (auto& raw : idle) EXPECT_TRUE(raw->Read(std::chrono::seconds(3)));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // ...and a legitimate client is served again, four at once.
  std::vector<std::thread> clients;
  std::vector<int> statuses(4, 0);
  for (int i = 0; i < 4; ++i) clients.emplace_back([&, i] { statuses[i] = Health(running.port); });
  for (auto& client : clients) client.join();
  for (int status : statuses) EXPECT_EQ(status, 200);
}

}  // namespace
