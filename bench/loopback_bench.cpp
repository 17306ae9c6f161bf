// Our transport over loopback TCP: the generated stubs on a
// Tovri::Http::Client, against a Tovri::Http::Server on 127.0.0.1 exposing
// the same implementations as the in-process call cases (completing at
// once with the prebuilt TPM Info or 1,000 summaries). The counterpart of
// grpc_loopback_bench.cpp: one client for latency, and 8 client threads,
// each with a Client of its own (one I/O thread, one kept-alive
// connection), for throughput.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <benchmark/benchmark.h>

#include <tovri/core/local_provider.hpp>
#include <tovri/core/stub.hpp>
#include <tovri/http/client.hpp>
#include <tovri/http/server.hpp>

#include "data.hpp"
#include "loopback.hpp"
#include "registry.hpp"
#include "services.hpp"

namespace DralBench {
namespace {

using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;
using TpmSvc = TI::Hardware::TpmSvc;
using ProvidersSvc = TI::Kms::ProvidersSvc;

// TLS with the same throw-away CA as gRPC's TLS cases.
bool ServerOptionsFor(Security security, ::Tovri::Http::ServerOptions& options) {
  options.listen = {{"127.0.0.1", 0}};
  if (security == Security::kTls) {
    const TestPki& pki = GetTestPki();
    options.tls = ::Tovri::Http::TlsServerOptions{pki.serverCertFile, pki.serverKeyFile, {}, false};
  }
  return true;
}

bool ClientOptionsFor(Security security, std::uint16_t port, ::Tovri::Http::ClientOptions& options) {
  options.host = "127.0.0.1";
  options.port = port;
  if (security == Security::kTls) {
    options.tls = ::Tovri::Http::TlsClientOptions{GetTestPki().caCertFile, {}, {}, {}};
  }
  return true;
}

// A server on a free loopback port answering TPM get and providers list.
struct LoopbackServer {
  std::shared_ptr<const TpmInfo> info = MakeTpmInfo();
  SummaryList summaries = MakeSummaries(1000);
  std::unique_ptr<::Tovri::Http::Server> server;
  std::uint16_t port = 0;
  Security security;

  explicit LoopbackServer(Security s) : security(s) {
    auto provider = std::make_shared<::Tovri::Core::LocalProvider>();
    Require(provider->Register(
                TpmSvc::AsyncServiceBinder::BindImplementation(std::make_shared<TpmService>(info))),
            "the TPM service registers");
    Require(provider->Register(ProvidersSvc::AsyncServiceBinder::BindImplementation(
                std::make_shared<ProvidersService>(summaries))),
            "the providers service registers");
    ::Tovri::Http::ServerOptions options;
    Require(ServerOptionsFor(security, options), "our server has options for this security");
    server = std::make_unique<::Tovri::Http::Server>(provider, options);
    std::string error;
    Require(server->Start(error), "our loopback server starts: " + error);
    port = server->BoundAddresses().front().port;
  }
  ~LoopbackServer() { server->Stop(); }

  static LoopbackServer& Get(Security security) {
    static std::map<Security, LoopbackServer*> servers;
    LoopbackServer*& server = servers[security];
    if (!server) {
      auto* made = new LoopbackServer(security);
      AtEnd([made] { delete made; });
      server = made;
    }
    return *server;
  }
};

// Blocks the caller until the answer, which comes on the client's I/O thread.
template <class T>
class Answer {
 public:
  void Set(const boost::optional<T>& value, const ErrorPtr& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (value && !error) value_ = *value;
    done_ = true;
    condition_.notify_one();
  }
  T Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait(lock, [this] { return done_; });
    return std::move(value_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool done_ = false;
  T value_{};
};

template <class Svc>
struct Caller {
  std::shared_ptr<::Tovri::Http::Client> client;
  std::shared_ptr<typename Svc::AsyncServiceStub> stub;

  explicit Caller(const LoopbackServer& s) {
    ::Tovri::Http::ClientOptions options;
    Require(ClientOptionsFor(s.security, s.port, options), "our client has options for this security");
    client = std::make_shared<::Tovri::Http::Client>(options);
    stub = std::make_shared<typename Svc::AsyncServiceStub>(
        std::make_shared<::Tovri::Stub::AsyncApiStub>(client));
  }
};

std::shared_ptr<const TpmInfo> TpmGet(TpmSvc::AsyncServiceStub& stub) {
  Answer<std::shared_ptr<const TpmInfo>> answer;
  stub.Get("tpm0", nullptr,
           TpmSvc::GetMethod::ResultCbType(
               [&answer](const boost::optional<std::shared_ptr<const TpmInfo>>& value, const ErrorPtr& error,
                         const ::Tovri::Progress&) { answer.Set(value, error); }));
  return answer.Wait();
}

SummaryList ProvidersList(ProvidersSvc::AsyncServiceStub& stub) {
  Answer<SummaryList> answer;
  stub.List(::Tovri::OptionalPtr<const ProvidersSvc::FilterSpec>(), nullptr,
            ProvidersSvc::ListMethod::ResultCbType(
                [&answer](const boost::optional<SummaryList>& value, const ErrorPtr& error,
                          const ::Tovri::Progress&) { answer.Set(value, error); }));
  return answer.Wait();
}

template <class T>
::Tovri::Data::ValuePtr TreeOf(const T& native) {
  const ::Tovri::L10n::RequestLocalizer localizer;
  std::list<::Tovri::BaseMessage> messages;
  ::Tovri::Data::ValuePtr value;
  ::Tovri::Data::NativeToValueAdapter::Adapt(native, value, messages, localizer);
  return value;
}

bool SameTree(const ::Tovri::Data::ValuePtr& a, const ::Tovri::Data::ValuePtr& b) {
  return a && b && ::Tovri::Data::Equal(*a, *b);
}

Operation GetCaller(LoopbackServer& s) {
  auto caller = std::make_shared<Caller<TpmSvc>>(s);
  const auto got = TpmGet(*caller->stub);
  Require(got && SameTree(TreeOf(*got), TreeOf(*s.info)), "ours over loopback answers TPM get with the Info");
  return [caller] { benchmark::DoNotOptimize(TpmGet(*caller->stub)); };
}

Operation ListCaller(LoopbackServer& s) {
  auto caller = std::make_shared<Caller<ProvidersSvc>>(s);
  Require(SameTree(TreeOf(ProvidersList(*caller->stub)), TreeOf(s.summaries)),
          "ours over loopback answers providers list with the 1,000 summaries");
  return [caller] { benchmark::DoNotOptimize(ProvidersList(*caller->stub)); };
}

void AddFor(Security security) {
  ::Tovri::Http::ServerOptions server;
  ::Tovri::Http::ClientOptions client;
  if (!ServerOptionsFor(security, server) || !ClientOptionsFor(security, 0, client)) return;
  using Maker = Operation (*)(LoopbackServer&);
  const std::pair<const char*, Maker> calls[] = {{"tpm_get", &GetCaller},
                                                 {"providers_list_1000", &ListCaller}};
  for (const auto& call : calls) {
    const Maker make = call.second;
    AddCase(
        LoopbackName(call.first, security, false, "ours"),
        [security, make] { return make(LoopbackServer::Get(security)); }, 5);
    AddThroughputCase(
        LoopbackName(call.first, security, true, "ours"),
        [security, make]() -> CallerFactory {
          LoopbackServer& s = LoopbackServer::Get(security);
          return [&s, make] { return make(s); };
        },
        kLoopbackClients);
  }
}

}  // namespace

void AddLoopbackCases() {
  AddFor(Security::kPlain);
  AddFor(Security::kTls);
}

}  // namespace DralBench
