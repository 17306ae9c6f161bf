// Every operation of the package through the generated stubs over loopback
// HTTP, against the workload's implementations: each call answered once
// with what its plan asks for (values, declared and undeclared errors,
// refused inputs, progress reports in order), and each final answer equal
// to the one the same call gets in process. Over plain HTTP, and over TLS
// with a bearer token.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/http/client.hpp>
#include <tovri/http/server.hpp>

#include "stress/thread_pool.hpp"
#include "test_pki.hpp"
#include "workload.hpp"

namespace {

using namespace Dral::Stress;
using ResultPtr = std::shared_ptr<const ::Tovri::Core::MethodResult>;

// Passes calls on to the client and keeps, per call, what went in and the
// final answer that came back.
class Recorder final : public ::Tovri::Core::ApiProvider {
 public:
  struct Entry {
    std::shared_ptr<const ::Tovri::Core::MethodIdentifier> method;
    ::Tovri::Data::ValuePtr input;
    std::map<std::string, std::string> properties;
    ResultPtr result;
  };

  explicit Recorder(std::shared_ptr<::Tovri::Core::ApiProvider> next) : next_(std::move(next)) {}

  void Invoke(const std::shared_ptr<const ::Tovri::Core::MethodIdentifier>& method,
              const ::Tovri::Data::ValuePtr& input, const Activation& activation,
              const ::Tovri::Core::AsyncApiResultCb& resultCb) override {
    auto entry = std::make_shared<Entry>(Entry{method, input, activation->properties, nullptr});
    next_->Invoke(method, input, activation,
                  [this, entry, resultCb](const ResultPtr& result, const ::Tovri::Progress& progress,
                                          ::Tovri::Core::AsyncApiResultCb::Continuation&&) {
                    if (result) {
                      entry->result = result;
                      std::lock_guard<std::mutex> lock(mutex_);
                      entries_.push_back(entry);
                    }
                    resultCb(result, progress);
                  });
  }

  std::vector<std::shared_ptr<Entry>> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  std::shared_ptr<::Tovri::Core::ApiProvider> next_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

bool SameAnswer(const ResultPtr& a, const ResultPtr& b) {
  if (!a || !b) return false;
  if (a->GetError() || b->GetError()) {
    return a->GetError() && b->GetError() && ::Tovri::Data::Equal(*a->GetError(), *b->GetError());
  }
  if (!a->GetOutput() || !b->GetOutput()) return a->GetOutput() == b->GetOutput();
  return ::Tovri::Data::Equal(*a->GetOutput(), *b->GetOutput());
}

enum class Transport { kPlain, kTlsWithToken };

class HttpRoad : public ::testing::TestWithParam<Transport> {};

TEST_P(HttpRoad, EveryOperationAndOutcomeCrossesLikeInProcess) {
  // Every operation with every outcome and progress count.
  constexpr std::uint64_t kCalls = kOperationCount * 10 * 3;

  ThreadPool pool(2);
  Ledger ledger(kCalls);
  Provision provision(ledger, [&pool](std::function<void()> job) { pool.Post(std::move(job)); });
  auto remote = std::make_shared<::Tovri::Core::LocalProvider>();
  ASSERT_TRUE(BindAll(*remote, provision));
  ::Tovri::Http::ServerOptions serverOptions;
  // Every call is issued at once, each on its own connection while the
  // others are in flight; TLS handshakes keep them open longer.
  serverOptions.maxConnections = kCalls;
  ::Tovri::Http::ClientOptions options;
  ::Tovri::HttpTest::TempDirectory temp;
  if (GetParam() == Transport::kTlsWithToken) {
    const std::string& directory = temp.path();
    ::Tovri::HttpTest::TestPki pki;
    std::string pkiError;
    ASSERT_TRUE(::Tovri::HttpTest::MakeTestPki(directory, pki, pkiError)) << pkiError;
    const std::string tokenFile = directory + "/tokens";
    const std::string token = "road-test-admin-token";
    ASSERT_TRUE(::Tovri::HttpTest::WriteFileWithMode(
        tokenFile, ::Tovri::HttpTest::TokenHash(token) + " road admin\n", 0600));
    serverOptions.tls = ::Tovri::Http::TlsServerOptions{pki.serverCertificate, pki.serverKey, "", false};
    serverOptions.tokenFile = tokenFile;
    options.tls = ::Tovri::Http::TlsClientOptions{pki.caCertificate, "", "", ""};
    options.bearerToken = ::Tovri::SecretString(token);
  }
  ::Tovri::Http::Server server(remote, serverOptions);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;

  options.port = server.BoundAddresses().front().port;
  options.ioThreads = 2;
  auto recorder = std::make_shared<Recorder>(std::make_shared<::Tovri::Http::Client>(options));
  Clients clients(std::make_shared<::Tovri::Stub::AsyncApiStub>(recorder, DefaultActivation()));

  for (std::uint64_t id = 0; id < kCalls; ++id) Issue(clients, ledger, id);
  const bool answered =
      ledger.WaitForAnswers(kCalls, std::chrono::steady_clock::now() + std::chrono::seconds(60));
  EXPECT_TRUE(answered) << ledger.Answered() << " of " << kCalls << " answered";
  for (const auto& failure : ledger.Failures()) ADD_FAILURE() << failure;
  server.Stop();
  pool.Stop();

  // The same calls in process, answered at once.
  Ledger localLedger(kCalls);
  Provision localProvision(localLedger, [](std::function<void()> job) { job(); });
  ::Tovri::Core::LocalProvider local;
  ASSERT_TRUE(BindAll(local, localProvision));
  const auto entries = recorder->Entries();
  EXPECT_EQ(entries.size(), kCalls);
  for (const auto& entry : entries) {
    auto activation = std::make_shared<::Tovri::Core::AsyncActivation>();
    activation->properties = entry->properties;
    ResultPtr inProcess;
    local.Invoke(entry->method, entry->input, activation,
                 [&inProcess](const ResultPtr& result, const ::Tovri::Progress&,
                              ::Tovri::Core::AsyncApiResultCb::Continuation&&) {
                   if (result) inProcess = result;
                 });
    const std::string name = entry->method->GetInterface()->GetName() + "/" + entry->method->GetName();
    EXPECT_TRUE(SameAnswer(entry->result, inProcess)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, HttpRoad, ::testing::Values(Transport::kPlain, Transport::kTlsWithToken),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                           return info.param == Transport::kPlain ? std::string("Plain")
                                                                  : std::string("TlsWithToken");
                         });

}  // namespace
