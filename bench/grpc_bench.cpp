// gRPC's in-process channel on the same two calls, with equivalent protobuf
// messages: a synchronous unary call against a synchronous service, and the
// callback API against a callback service. The services answer with a copy
// of a prebuilt response, the nearest protobuf has to handing over a
// prebuilt object (the response is owned by the call). Requests and
// responses go through protobuf serialisation, as the in-process transport
// carries byte buffers.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <benchmark/benchmark.h>
#include <google/protobuf/util/message_differencer.h>
#include <grpcpp/grpcpp.h>

#include "data.hpp"
#include "grpc_data.hpp"
#include "registry.hpp"

namespace DralBench {

pb::TpmInfo ProtoTpmInfo() {
  const TpmRecipe recipe;
  pb::TpmInfo info;
  info.set_major_version(recipe.majorVersion);
  info.set_minor_version(recipe.minorVersion);
  info.set_active(recipe.active);
  info.set_manufacturer(recipe.manufacturer);
  info.set_model(recipe.model);
  info.set_firmware_version(recipe.firmwareVersion);
  const std::size_t sizes[] = {kSha256Bytes, kSha384Bytes};
  const pb::HashAlgorithm algorithms[] = {pb::SHA256, pb::SHA384};
  for (std::size_t b = 0; b < 2; ++b) {
    pb::PcrBank* bank = info.add_banks();
    bank->set_algorithm(algorithms[b]);
    for (std::size_t r = 0; r < kRegistersPerBank; ++r) {
      const auto bytes = RegisterBytes(b, r, sizes[b]);
      (*bank->mutable_pcrs())[static_cast<long long>(r)] = std::string(bytes.begin(), bytes.end());
    }
  }
  return info;
}

pb::ProvidersListResponse ProtoSummaries(std::size_t count) {
  pb::ProvidersListResponse response;
  for (std::size_t i = 0; i < count; ++i) {
    pb::ProviderSummary* summary = response.add_summaries();
    summary->set_provider(SummaryProvider(i));
    summary->set_available(SummaryAvailable(i));
    summary->set_health(static_cast<pb::Health>(pb::NONE + SummaryHealth(i)));
    pb::LocalizableMessage* message = summary->add_details();
    message->set_id(kDetailsId);
    message->set_default_message(kDetailsText);
    message->add_args(summary->provider());
    summary->set_type(static_cast<pb::ProviderType>(pb::NATIVE + SummaryType(i)));
  }
  return response;
}

pb::TpmInfo SyncGet(pb::Tpm::Stub& stub) {
  grpc::ClientContext context;
  pb::TpmGetRequest request;
  request.set_tpm("tpm0");
  pb::TpmInfo response;
  const grpc::Status status = stub.Get(&context, request, &response);
  if (!status.ok()) response.Clear();
  return response;
}

pb::ProvidersListResponse SyncList(pb::Providers::Stub& stub) {
  grpc::ClientContext context;
  pb::ProvidersListRequest request;
  pb::ProvidersListResponse response;
  const grpc::Status status = stub.List(&context, request, &response);
  if (!status.ok()) response.Clear();
  return response;
}

bool Same(const google::protobuf::Message& a, const google::protobuf::Message& b) {
  return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

namespace {

class TpmCallback final : public pb::Tpm::CallbackService {
 public:
  explicit TpmCallback(const pb::TpmInfo& info) : info_(info) {}
  grpc::ServerUnaryReactor* Get(grpc::CallbackServerContext* context, const pb::TpmGetRequest*,
                                pb::TpmInfo* response) override {
    response->CopyFrom(info_);
    grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
    reactor->Finish(grpc::Status::OK);
    return reactor;
  }

 private:
  const pb::TpmInfo& info_;
};

class ProvidersCallback final : public pb::Providers::CallbackService {
 public:
  explicit ProvidersCallback(const pb::ProvidersListResponse& list) : list_(list) {}
  grpc::ServerUnaryReactor* List(grpc::CallbackServerContext* context, const pb::ProvidersListRequest*,
                                 pb::ProvidersListResponse* response) override {
    response->CopyFrom(list_);
    grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
    reactor->Finish(grpc::Status::OK);
    return reactor;
  }

 private:
  const pb::ProvidersListResponse& list_;
};

// Two in-process servers (one per service style), made on first use and
// shut down after the last benchmark.
struct Servers {
  pb::TpmInfo info = ProtoTpmInfo();
  pb::ProvidersListResponse summaries = ProtoSummaries(1000);
  TpmSync tpmSync{info};
  ProvidersSync providersSync{summaries};
  TpmCallback tpmCallback{info};
  ProvidersCallback providersCallback{summaries};
  std::unique_ptr<grpc::Server> syncServer;
  std::unique_ptr<grpc::Server> callbackServer;
  std::unique_ptr<pb::Tpm::Stub> tpmSyncStub;
  std::unique_ptr<pb::Providers::Stub> providersSyncStub;
  std::unique_ptr<pb::Tpm::Stub> tpmCallbackStub;
  std::unique_ptr<pb::Providers::Stub> providersCallbackStub;

  Servers() {
    grpc::ServerBuilder syncBuilder;
    syncBuilder.RegisterService(&tpmSync);
    syncBuilder.RegisterService(&providersSync);
    syncServer = syncBuilder.BuildAndStart();
    grpc::ServerBuilder callbackBuilder;
    callbackBuilder.RegisterService(&tpmCallback);
    callbackBuilder.RegisterService(&providersCallback);
    callbackServer = callbackBuilder.BuildAndStart();
    Require(syncServer && callbackServer, "the gRPC servers start");
    const auto syncChannel = syncServer->InProcessChannel(grpc::ChannelArguments());
    const auto callbackChannel = callbackServer->InProcessChannel(grpc::ChannelArguments());
    tpmSyncStub = pb::Tpm::NewStub(syncChannel);
    providersSyncStub = pb::Providers::NewStub(syncChannel);
    tpmCallbackStub = pb::Tpm::NewStub(callbackChannel);
    providersCallbackStub = pb::Providers::NewStub(callbackChannel);
  }

  ~Servers() {
    syncServer->Shutdown();
    callbackServer->Shutdown();
  }

  static Servers& Get() {
    static Servers* servers = [] {
      auto* made = new Servers();
      AtEnd([made] { delete made; });
      return made;
    }();
    return *servers;
  }
};

// Blocks the caller until the callback has run.
class Completion {
 public:
  void Done(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    ok_ = ok;
    condition_.notify_one();
  }
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait(lock, [this] { return done_; });
    return ok_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool done_ = false;
  bool ok_ = false;
};

pb::TpmInfo CallbackGet(pb::Tpm::Stub& stub) {
  grpc::ClientContext context;
  pb::TpmGetRequest request;
  request.set_tpm("tpm0");
  pb::TpmInfo response;
  Completion completion;
  stub.async()->Get(&context, &request, &response,
                    [&completion](grpc::Status status) { completion.Done(status.ok()); });
  if (!completion.Wait()) response.Clear();
  return response;
}

pb::ProvidersListResponse CallbackList(pb::Providers::Stub& stub) {
  grpc::ClientContext context;
  pb::ProvidersListRequest request;
  pb::ProvidersListResponse response;
  Completion completion;
  stub.async()->List(&context, &request, &response,
                     [&completion](grpc::Status status) { completion.Done(status.ok()); });
  if (!completion.Wait()) response.Clear();
  return response;
}

}  // namespace

void AddGrpcCases() {
  AddCase(
      "call/tpm_get/grpc_sync",
      [] {
        Servers& s = Servers::Get();
        Require(Same(SyncGet(*s.tpmSyncStub), s.info), "gRPC sync answers TPM get with the Info");
        return [&s] { benchmark::DoNotOptimize(SyncGet(*s.tpmSyncStub)); };
      },
      100);
  AddCase(
      "call/tpm_get/grpc_callback",
      [] {
        Servers& s = Servers::Get();
        Require(Same(CallbackGet(*s.tpmCallbackStub), s.info), "gRPC callback answers TPM get with the Info");
        return [&s] { benchmark::DoNotOptimize(CallbackGet(*s.tpmCallbackStub)); };
      },
      100);
  AddCase(
      "call/providers_list_1000/grpc_sync",
      [] {
        Servers& s = Servers::Get();
        Require(Same(SyncList(*s.providersSyncStub), s.summaries), "gRPC sync answers providers list");
        return [&s] { benchmark::DoNotOptimize(SyncList(*s.providersSyncStub)); };
      },
      5);
  AddCase(
      "call/providers_list_1000/grpc_callback",
      [] {
        Servers& s = Servers::Get();
        Require(Same(CallbackList(*s.providersCallbackStub), s.summaries),
                "gRPC callback answers providers list");
        return [&s] { benchmark::DoNotOptimize(CallbackList(*s.providersCallbackStub)); };
      },
      5);
}

}  // namespace DralBench
