// TLS, bearer tokens, roles and the access log, end to end over loopback:
// which handshakes succeed, which requests are refused before the provider
// runs, what the provider sees of the caller, and what the log keeps.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/local_provider.hpp>
#include <tovri/http/client.hpp>
#include <tovri/http/security.hpp>
#include <tovri/http/server.hpp>
#include <tovri/http/wire.hpp>

#include "http_test_support.hpp"
#include "test_pki.hpp"

namespace {

using namespace Tovri;
using HttpTest::RunningServer;
using HttpTest::ScriptedProvider;
using ResultPtr = std::shared_ptr<const Core::MethodResult>;
namespace beast = boost::beast;
namespace http = beast::http;

constexpr const char* kAdminToken = "admin-token-3f9a1c";
constexpr const char* kReaderToken = "reader-token-77b2e0";
constexpr const char* kRequestText = "body-text-never-logged";

// The PKI and a token file, made once for the whole suite.
class HttpSecurity : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new HttpTest::TempDirectory();
    pki_ = new HttpTest::TestPki();
    std::string error;
    ASSERT_TRUE(HttpTest::MakeTestPki(temp_->path(), *pki_, error)) << error;
    tokenFile_ = new std::string(temp_->path() + "/tokens");
    const std::string text = "# principals of the tests\n\n" + HttpTest::TokenHash(kAdminToken) +
                             " alice admin\n" + HttpTest::TokenHash(kReaderToken) + "   bob\treader\n";
    ASSERT_TRUE(HttpTest::WriteFileWithMode(*tokenFile_, text, 0600));
  }
  static void TearDownTestSuite() {
    delete tokenFile_;
    delete pki_;
    delete temp_;
  }

  static HttpTest::TempDirectory* temp_;
  static HttpTest::TestPki* pki_;
  static std::string* tokenFile_;
};
HttpTest::TempDirectory* HttpSecurity::temp_ = nullptr;
HttpTest::TestPki* HttpSecurity::pki_ = nullptr;
std::string* HttpSecurity::tokenFile_ = nullptr;

// Answers with its input and keeps the security context of each call.
struct RecordingProvider {
  std::mutex mutex;
  std::vector<Core::ExecutionContext::SecurityMap> seen;
  std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>(
      [this](const auto&, const Data::ValuePtr& input,
             const std::shared_ptr<Core::AsyncActivation>& activation, const Core::AsyncApiResultCb& cb) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          seen.push_back(activation->executionContext->security);
        }
        cb(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
      });
};

ResultPtr Call(Http::Client& client, const std::string& service, const std::string& operation) {
  auto promise = std::make_shared<std::promise<ResultPtr>>();
  auto future = promise->get_future();
  const auto method =
      Core::MethodIdentifier::GetInstance(Core::InterfaceIdentifier::GetInstance(service), operation);
  client.Invoke(method, Data::StringValue::GetInstance(kRequestText),
                std::make_shared<Core::AsyncActivation>(),
                [promise](const ResultPtr& result, const Progress&, Core::AsyncApiResultCb::Continuation&&) {
                  if (result) promise->set_value(result);
                });
  if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return nullptr;
  return future.get();
}

std::string ErrorId(const ResultPtr& result) {
  return result && result->GetError() ? result->GetError()->GetId() : std::string();
}

// The first message id of an error answer.
std::string MessageId(const ResultPtr& result) {
  if (!result || !result->GetError()) return std::string();
  const std::string text = Http::ToLosslessJson(*result->GetError());
  const std::size_t at = text.find("tovri.http.");
  return at == std::string::npos ? std::string() : text.substr(at, text.find('"', at) - at);
}

TEST_F(HttpSecurity, ClientVerifiesTheServerAndTheServerTheClient) {
  struct Row {
    const char* name;
    std::string serverCertificate, serverKey;
    std::string clientCa;
    std::string serverName;
    bool requireClientCertificate;
    bool presentClientCertificate;
    const char* address;
    bool ok;
  };
  const HttpTest::TestPki& p = *pki_;
  const std::vector<Row> table = {
      {"right CA, IPv4 literal", p.serverCertificate, p.serverKey, p.caCertificate, "", false, false,
       "127.0.0.1", true},
      {"right CA, IPv6 literal", p.serverCertificate, p.serverKey, p.caCertificate, "", false, false, "::1",
       true},
      {"right CA, DNS name", p.serverCertificate, p.serverKey, p.caCertificate, "localhost", false, false,
       "127.0.0.1", true},
      {"unrelated CA", p.serverCertificate, p.serverKey, p.otherCaCertificate, "", false, false, "127.0.0.1",
       false},
      {"expired certificate", p.expiredServerCertificate, p.expiredServerKey, p.caCertificate, "", false,
       false, "127.0.0.1", false},
      {"wrong host name", p.serverCertificate, p.serverKey, p.caCertificate, "kms.example", false, false,
       "127.0.0.1", false},
      {"client certificate required, missing", p.serverCertificate, p.serverKey, p.caCertificate, "", true,
       false, "127.0.0.1", false},
      {"client certificate required, presented", p.serverCertificate, p.serverKey, p.caCertificate, "", true,
       true, "127.0.0.1", true},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    RecordingProvider recording;
    Http::ServerOptions serverOptions;
    serverOptions.tls = Http::TlsServerOptions{row.serverCertificate, row.serverKey,
                                               row.requireClientCertificate ? p.caCertificate : "",
                                               row.requireClientCertificate};
    RunningServer running(recording.provider, serverOptions, row.address);
    ASSERT_TRUE(running.started);
    Http::ClientOptions options;
    options.host = row.address;
    options.port = running.port;
    options.callTimeout = std::chrono::seconds(10);
    options.tls =
        Http::TlsClientOptions{row.clientCa, row.presentClientCertificate ? p.clientCertificate : "",
                               row.presentClientCertificate ? p.clientKey : "", row.serverName};
    Http::Client client(options);
    const ResultPtr result = Call(client, "svc", "get");
    ASSERT_TRUE(result);
    if (row.ok) {
      EXPECT_FALSE(result->GetError()) << MessageId(result);
      EXPECT_EQ(recording.provider->Calls(), 1);
    } else {
      EXPECT_EQ(ErrorId(result), Http::kServiceUnavailableId);
      EXPECT_EQ(MessageId(result), Http::kTlsFailedMessage);
      EXPECT_EQ(recording.provider->Calls(), 0);
    }
    if (row.presentClientCertificate && row.ok) {
      std::lock_guard<std::mutex> lock(recording.mutex);
      ASSERT_EQ(recording.seen.size(), 1u);
      const auto entry = recording.seen[0].find(Http::kClientCertificateSecurityKey);
      ASSERT_NE(entry, recording.seen[0].end());
      EXPECT_EQ(entry->second.scheme, "x509");
      EXPECT_NE(entry->second.properties.at("subject").find("CN=tovri-test-client"), std::string::npos);
    }
  }
}

TEST_F(HttpSecurity, UnusableTlsFilesAreRefusedUpFront) {
  const HttpTest::TestPki& p = *pki_;
  Http::ServerOptions serverOptions;
  serverOptions.tls = Http::TlsServerOptions{p.serverCertificate, p.clientKey, "", false};
  Http::Server mismatched(std::make_shared<Core::LocalProvider>(), serverOptions);
  std::string error;
  EXPECT_FALSE(mismatched.Start(error));
  EXPECT_NE(error.find("client.key"), std::string::npos) << error;

  serverOptions.tls = Http::TlsServerOptions{temp_->path() + "/missing.pem", p.serverKey, "", false};
  Http::Server missing(std::make_shared<Core::LocalProvider>(), serverOptions);
  EXPECT_FALSE(missing.Start(error));
  EXPECT_NE(error.find("missing.pem"), std::string::npos) << error;

  Http::ClientOptions options;
  options.port = 1;
  options.tls = Http::TlsClientOptions{temp_->path() + "/missing-ca.pem", "", "", ""};
  Http::Client client(options);
  const ResultPtr result = Call(client, "svc", "get");
  EXPECT_EQ(ErrorId(result), Http::kServiceUnavailableId);
  EXPECT_EQ(MessageId(result), Http::kTlsFailedMessage);
}

struct RawReply {
  int status = 0;
  std::string wwwAuthenticate;
  std::string body;
};

RawReply Send(std::uint16_t port, http::verb verb, const std::string& target,
              const std::string& authorization) {
  boost::asio::io_context ioc;
  beast::tcp_stream stream(ioc);
  stream.expires_after(std::chrono::seconds(10));
  RawReply reply;
  beast::error_code ec;
  stream.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
  if (ec) return reply;
  http::request<http::string_body> request(verb, target, 11);
  request.set(http::field::host, "127.0.0.1");
  request.set(http::field::content_type, Http::kLosslessMediaType);
  if (!authorization.empty()) request.set(http::field::authorization, authorization);
  if (verb == http::verb::post) {
    request.body() =
        "{\"input\":" + Http::ToLosslessJson(*Data::StringValue::GetInstance(kRequestText)) + "}";
  }
  request.prepare_payload();
  http::write(stream, request, ec);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  if (!ec) http::read(stream, buffer, response, ec);
  if (ec) return reply;
  reply.status = static_cast<int>(response.result_int());
  reply.wwwAuthenticate = std::string(response[http::field::www_authenticate]);
  reply.body = response.body();
  return reply;
}

TEST_F(HttpSecurity, TokensAndRolesAreCheckedBeforeTheProvider) {
  RecordingProvider recording;
  Http::ServerOptions options;
  options.tokenFile = *tokenFile_;
  RunningServer running(recording.provider, options);
  ASSERT_TRUE(running.started);
  const std::string admin = std::string("Bearer ") + kAdminToken;
  const std::string reader = std::string("Bearer ") + kReaderToken;
  struct Row {
    http::verb verb;
    std::string target;
    std::string authorization;
    int status;
    const char* errorId;  // null: no error expected
    bool reachesProvider;
  };
  const std::vector<Row> table = {
      {http::verb::post, "/v1/kms.services/list", "", 401, Http::kUnauthenticatedId, false},
      {http::verb::post, "/v1/kms.services/list", "Bearer not-a-token", 401, Http::kUnauthenticatedId, false},
      {http::verb::post, "/v1/kms.services/list", std::string("Bearer ") + kAdminToken + "x", 401,
       Http::kUnauthenticatedId, false},
      {http::verb::post, "/v1/kms.services/list", std::string("Basic ") + kAdminToken, 401,
       Http::kUnauthenticatedId, false},
      {http::verb::post, "/v1/kms.services/list", "Bearer ", 401, Http::kUnauthenticatedId, false},
      {http::verb::post, "/v1/kms.services/create", reader, 403, Http::kUnauthorizedId, false},
      {http::verb::post, "/v1/kms.services/delete", reader, 403, Http::kUnauthorizedId, false},
      {http::verb::post, "/v1/kms.services/list", reader, 200, nullptr, true},
      {http::verb::post, "/v1/hardware.tpm/get", reader, 200, nullptr, true},
      {http::verb::post, "/v1/kms.services/create", admin, 200, nullptr, true},
      {http::verb::post, "/v1/kms.services/create", std::string("bearer  ") + kAdminToken, 200, nullptr,
       true},
      {http::verb::get, "/v1/health", "", 200, nullptr, false},
      // A path added later is covered without being listed anywhere.
      {http::verb::get, "/v1/services", "", 401, Http::kUnauthenticatedId, false},
      {http::verb::get, "/v1/services", admin, 404, Http::kNotFoundId, false},
      {http::verb::get, "/elsewhere", "", 401, Http::kUnauthenticatedId, false},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.target + " with \"" + row.authorization + "\"");
    const int before = recording.provider->Calls();
    const RawReply reply = Send(running.port, row.verb, row.target, row.authorization);
    EXPECT_EQ(reply.status, row.status);
    if (row.errorId) {
      EXPECT_NE(reply.body.find(row.errorId), std::string::npos) << reply.body;
    }
    EXPECT_EQ(reply.wwwAuthenticate, row.status == 401 ? "Bearer" : "");
    EXPECT_EQ(recording.provider->Calls() - before, row.reachesProvider ? 1 : 0);
  }
}

TEST_F(HttpSecurity, ThePrincipalReachesTheProviderThroughTheClient) {
  RecordingProvider recording;
  Http::ServerOptions serverOptions;
  serverOptions.tokenFile = *tokenFile_;
  serverOptions.tls = Http::TlsServerOptions{pki_->serverCertificate, pki_->serverKey, "", false};
  RunningServer running(recording.provider, serverOptions);
  ASSERT_TRUE(running.started);
  Http::ClientOptions options;
  options.port = running.port;
  options.tls = Http::TlsClientOptions{pki_->caCertificate, "", "", ""};
  options.bearerToken = SecretString(kReaderToken);
  Http::Client client(options);
  EXPECT_FALSE(Call(client, "kms.providers", "list")->GetError());
  // Refused by role: the stub sees the server's error.
  EXPECT_EQ(ErrorId(Call(client, "kms.providers", "update")), Http::kUnauthorizedId);
  std::lock_guard<std::mutex> lock(recording.mutex);
  ASSERT_EQ(recording.seen.size(), 1u);
  const auto entry = recording.seen[0].find(Http::kBearerSecurityKey);
  ASSERT_NE(entry, recording.seen[0].end());
  EXPECT_EQ(entry->second.scheme, "bearer");
  EXPECT_EQ(entry->second.properties.at("principal"), "bob");
  EXPECT_EQ(entry->second.properties.at("roles"), "reader");
  EXPECT_EQ(recording.seen[0].count(Http::kClientCertificateSecurityKey), 0u);
}

TEST_F(HttpSecurity, BadTokenFilesStopTheServerFromStarting) {
  const std::string hash = HttpTest::TokenHash("some-token");
  struct Row {
    const char* name;
    std::string text;
    mode_t mode;
    std::string expected;
  };
  const std::vector<Row> table = {
      {"readable by others", hash + " carol admin\n", 0644, "group or others"},
      {"writable by group", hash + " carol admin\n", 0620, "group or others"},
      {"missing role", "# header\n\n" + hash + " carol\n", 0600, "line 3:"},
      {"short hash", "sha256:abcd carol admin\n", 0600, "line 1:"},
      {"not hex", "sha256:" + std::string(64, 'g') + " carol admin\n", 0600, "line 1:"},
      {"no prefix", hash.substr(7) + " carol admin\n", 0600, "line 1:"},
      {"unknown role", hash + " carol admin,auditor\n", 0600, "line 1:"},
      {"empty role", hash + " carol admin,\n", 0600, "line 1:"},
      {"repeated token", hash + " carol admin\n" + hash + " dave reader\n", 0600, "line 2:"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.name);
    const std::string path = temp_->path() + "/bad-tokens";
    ASSERT_TRUE(HttpTest::WriteFileWithMode(path, row.text, row.mode));
    Http::ServerOptions options;
    options.tokenFile = path;
    Http::Server server(std::make_shared<Core::LocalProvider>(), options);
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_NE(error.find(row.expected), std::string::npos) << error;
    EXPECT_EQ(error.find(hash.substr(7, 16)), std::string::npos) << error;
  }
  Http::ServerOptions options;
  options.tokenFile = temp_->path() + "/no-such-file";
  Http::Server server(std::make_shared<Core::LocalProvider>(), options);
  std::string error;
  EXPECT_FALSE(server.Start(error));

  options.tokenFile = *tokenFile_;
  options.roles = {{"reader", {"*/list", "list"}}};
  Http::Server badRoles(std::make_shared<Core::LocalProvider>(), options);
  EXPECT_FALSE(badRoles.Start(error));
}

TEST_F(HttpSecurity, TokensAreReloadedWithoutARestartAndABadFileKeepsTheOldOnes) {
  const std::string path = temp_->path() + "/rotating-tokens";
  ASSERT_TRUE(HttpTest::WriteFileWithMode(path, HttpTest::TokenHash(kAdminToken) + " alice admin\n", 0600));
  RecordingProvider recording;
  Http::ServerOptions options;
  options.tokenFile = path;
  RunningServer running(recording.provider, options);
  ASSERT_TRUE(running.started);
  const auto status = [&](const std::string& token) {
    return Send(running.port, http::verb::post, "/v1/kms.services/list", "Bearer " + token).status;
  };
  EXPECT_EQ(status(kAdminToken), 200);
  EXPECT_EQ(status("rotated-token-5d1e"), 401);

  ASSERT_TRUE(
      HttpTest::WriteFileWithMode(path, HttpTest::TokenHash("rotated-token-5d1e") + " carol reader\n", 0600));
  std::string error;
  ASSERT_TRUE(running.server->ReloadTokens(error)) << error;
  EXPECT_EQ(status(kAdminToken), 401);
  EXPECT_EQ(status("rotated-token-5d1e"), 200);

  ASSERT_TRUE(HttpTest::WriteFileWithMode(path, HttpTest::TokenHash(kAdminToken) + " alice admin\n", 0644));
  EXPECT_FALSE(running.server->ReloadTokens(error));
  EXPECT_NE(error.find("group or others"), std::string::npos) << error;
  EXPECT_EQ(status("rotated-token-5d1e"), 200);
  EXPECT_EQ(status(kAdminToken), 401);
}

TEST_F(HttpSecurity, TheAccessLogKeepsWhoWhatAndHowButNoSecrets) {
  std::mutex mutex;
  std::vector<Http::AccessLogEntry> entries;
  RecordingProvider recording;
  Http::ServerOptions options;
  options.tokenFile = *tokenFile_;
  options.accessLog = [&](const Http::AccessLogEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex);
    entries.push_back(entry);
  };
  {
    RunningServer running(recording.provider, options);
    ASSERT_TRUE(running.started);
    EXPECT_EQ(Send(running.port, http::verb::post, "/v1/kms.services/create?x=1",
                   std::string("Bearer ") + kAdminToken)
                  .status,
              200);
    EXPECT_EQ(Send(running.port, http::verb::post, "/v1/kms.services/create", "Bearer wrong-token").status,
              401);
    EXPECT_EQ(
        Send(running.port, http::verb::post, "/v1/kms.services/create", std::string("Bearer ") + kReaderToken)
            .status,
        403);
    // Refused before its header was whole: logged all the same.
    EXPECT_EQ(
        Send(running.port, http::verb::post, "/v1/kms.services/create", "Bearer " + std::string(20000, 'k'))
            .status,
        431);
    running.server->Stop();
  }
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(entries.size(), 4u);
  // A line is written after its answer: the next request may come first.
  std::sort(entries.begin(), entries.end(),
            [](const Http::AccessLogEntry& a, const Http::AccessLogEntry& b) { return a.status < b.status; });
  const std::vector<std::pair<std::string, int>> expected = {
      {"alice", 200}, {"", 401}, {"bob", 403}, {"", 431}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Http::AccessLogEntry& entry = entries[i];
    EXPECT_EQ(entry.principal, expected[i].first);
    EXPECT_EQ(entry.status, expected[i].second);
    if (entry.status == 431) {
      EXPECT_EQ(Http::FormatAccessLogLine(entry).find("kkkk"), std::string::npos);
      continue;
    }
    EXPECT_EQ(entry.method, "POST");
    EXPECT_EQ(entry.path, "/v1/kms.services/create");
    EXPECT_EQ(entry.peer.rfind("127.0.0.1:", 0), 0u) << entry.peer;
    const std::string line = Http::FormatAccessLogLine(entry);
    EXPECT_NE(line.find(" POST /v1/kms.services/create " + std::to_string(expected[i].second) + " "),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(expected[i].first.empty() ? std::string(" - POST") : " " + expected[i].first + " "),
              std::string::npos)
        << line;
    for (const char* secret : {kAdminToken, kReaderToken, "wrong-token", kRequestText, "Bearer"}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
  }
}

}  // namespace
