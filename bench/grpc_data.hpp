// What the gRPC cases share, in process and over loopback: the protobuf
// forms of the benchmark data, the synchronous services answering with a
// copy of them, and the synchronous calls.
#pragma once

#include <cstddef>

#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>

#include "trusted_bench.grpc.pb.h"

namespace DralBench {

namespace pb = ::dral_bench;

pb::TpmInfo ProtoTpmInfo();
pb::ProvidersListResponse ProtoSummaries(std::size_t count);

class TpmSync final : public pb::Tpm::Service {
 public:
  explicit TpmSync(const pb::TpmInfo& info) : info_(info) {}
  grpc::Status Get(grpc::ServerContext*, const pb::TpmGetRequest*, pb::TpmInfo* response) override {
    response->CopyFrom(info_);
    return grpc::Status::OK;
  }

 private:
  const pb::TpmInfo& info_;
};

class ProvidersSync final : public pb::Providers::Service {
 public:
  explicit ProvidersSync(const pb::ProvidersListResponse& list) : list_(list) {}
  grpc::Status List(grpc::ServerContext*, const pb::ProvidersListRequest*,
                    pb::ProvidersListResponse* response) override {
    response->CopyFrom(list_);
    return grpc::Status::OK;
  }

 private:
  const pb::ProvidersListResponse& list_;
};

// One synchronous unary call; an empty message when it failed.
pb::TpmInfo SyncGet(pb::Tpm::Stub& stub);
pb::ProvidersListResponse SyncList(pb::Providers::Stub& stub);

bool Same(const google::protobuf::Message& a, const google::protobuf::Message& b);

}  // namespace DralBench
