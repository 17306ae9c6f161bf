// gRPC over loopback TCP on the same two calls and messages as the
// in-process gRPC cases: synchronous unary calls against a synchronous
// server on 127.0.0.1, with insecure credentials or TLS (a test CA made by
// openssl). One client, for latency; and 8 client threads, each with its
// own channel on its own TCP connection (a local subchannel pool, so that
// gRPC does not share one connection between the channels), for
// throughput.
#include <map>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <grpcpp/grpcpp.h>

#include "grpc_data.hpp"
#include "loopback.hpp"
#include "registry.hpp"

namespace DralBench {
namespace {

// A server on a free loopback port answering both services.
struct LoopbackServer {
  pb::TpmInfo info = ProtoTpmInfo();
  pb::ProvidersListResponse summaries = ProtoSummaries(1000);
  TpmSync tpm{info};
  ProvidersSync providers{summaries};
  std::unique_ptr<grpc::Server> server;
  std::string target;
  Security security;

  explicit LoopbackServer(Security s) : security(s) {
    std::shared_ptr<grpc::ServerCredentials> credentials = grpc::InsecureServerCredentials();
    if (security == Security::kTls) {
      const TestPki& pki = GetTestPki();
      grpc::SslServerCredentialsOptions options;
      options.pem_key_cert_pairs.push_back({pki.serverKey, pki.serverCert});
      credentials = grpc::SslServerCredentials(options);
    }
    int port = 0;
    grpc::ServerBuilder builder;
    builder.AddListeningPort("127.0.0.1:0", credentials, &port);
    builder.RegisterService(&tpm);
    builder.RegisterService(&providers);
    server = builder.BuildAndStart();
    Require(server && port > 0, "the gRPC loopback server starts");
    target = "127.0.0.1:" + std::to_string(port);
  }
  ~LoopbackServer() { server->Shutdown(); }

  // A new channel with a TCP connection of its own.
  std::shared_ptr<grpc::Channel> Channel() const {
    grpc::ChannelArguments arguments;
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    std::shared_ptr<grpc::ChannelCredentials> credentials = grpc::InsecureChannelCredentials();
    if (security == Security::kTls) {
      grpc::SslCredentialsOptions options;
      options.pem_root_certs = GetTestPki().caCert;
      credentials = grpc::SslCredentials(options);
    }
    return grpc::CreateCustomChannel(target, credentials, arguments);
  }

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

Operation GetCaller(LoopbackServer& s) {
  auto stub = std::shared_ptr<pb::Tpm::Stub>(pb::Tpm::NewStub(s.Channel()));
  Require(Same(SyncGet(*stub), s.info), "gRPC over loopback answers TPM get with the Info");
  return [stub] { benchmark::DoNotOptimize(SyncGet(*stub)); };
}

Operation ListCaller(LoopbackServer& s) {
  auto stub = std::shared_ptr<pb::Providers::Stub>(pb::Providers::NewStub(s.Channel()));
  Require(Same(SyncList(*stub), s.summaries), "gRPC over loopback answers providers list");
  return [stub] { benchmark::DoNotOptimize(SyncList(*stub)); };
}

void AddFor(Security security) {
  using Maker = Operation (*)(LoopbackServer&);
  const std::pair<const char*, Maker> calls[] = {{"tpm_get", &GetCaller},
                                                 {"providers_list_1000", &ListCaller}};
  for (const auto& call : calls) {
    const Maker make = call.second;
    AddCase(
        LoopbackName(call.first, security, false, "grpc"),
        [security, make] { return make(LoopbackServer::Get(security)); }, 5);
    AddThroughputCase(
        LoopbackName(call.first, security, true, "grpc"),
        [security, make]() -> CallerFactory {
          LoopbackServer& s = LoopbackServer::Get(security);
          return [&s, make] { return make(s); };
        },
        kLoopbackClients);
  }
}

}  // namespace

void AddGrpcLoopbackCases() {
  AddFor(Security::kPlain);
  AddFor(Security::kTls);
}

}  // namespace DralBench
