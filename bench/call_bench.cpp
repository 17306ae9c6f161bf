// An in-process call, round trip: client stub, framework LocalProvider,
// method signal, input and result filters, implementation (completing at
// once), and back to the caller's result with a native value.
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include <tovri/core/local_provider.hpp>
#include <tovri/core/stub.hpp>

#include "data.hpp"
#include "registry.hpp"
#include "services.hpp"

namespace DralBench {
namespace {

using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;

template <class Svc>
struct Road {
  std::shared_ptr<::Tovri::Core::LocalProvider> provider = std::make_shared<::Tovri::Core::LocalProvider>();
  std::shared_ptr<typename Svc::AsyncServiceStub> stub = std::make_shared<typename Svc::AsyncServiceStub>(
      std::make_shared<::Tovri::Stub::AsyncApiStub>(provider));

  explicit Road(const std::shared_ptr<typename Svc::AsyncServiceInterface>& impl) {
    Require(provider->Register(Svc::AsyncServiceBinder::BindImplementation(impl)), "the service registers");
  }
};

using TpmSvc = TI::Hardware::TpmSvc;
using ProvidersSvc = TI::Kms::ProvidersSvc;

std::shared_ptr<const TpmInfo> TpmGet(TpmSvc::AsyncServiceStub& stub) {
  std::shared_ptr<const TpmInfo> got;
  stub.Get(
      "tpm0", nullptr,
      TpmSvc::GetMethod::ResultCbType([&got](const boost::optional<std::shared_ptr<const TpmInfo>>& value,
                                             const ErrorPtr& error, const ::Tovri::Progress&) {
        if (value && !error) got = *value;
      }));
  return got;
}

SummaryList ProvidersList(ProvidersSvc::AsyncServiceStub& stub) {
  SummaryList got;
  stub.List(::Tovri::OptionalPtr<const ProvidersSvc::FilterSpec>(), nullptr,
            ProvidersSvc::ListMethod::ResultCbType([&got](const boost::optional<SummaryList>& value,
                                                          const ErrorPtr& error, const ::Tovri::Progress&) {
              if (value && !error) got = *value;
            }));
  return got;
}

bool SameTree(const ::Tovri::Data::ValuePtr& a, const ::Tovri::Data::ValuePtr& b) {
  return a && b && ::Tovri::Data::Equal(*a, *b);
}

template <class T>
::Tovri::Data::ValuePtr TreeOf(const T& native) {
  const ::Tovri::L10n::RequestLocalizer localizer;
  std::list<::Tovri::BaseMessage> messages;
  ::Tovri::Data::ValuePtr value;
  ::Tovri::Data::NativeToValueAdapter::Adapt(native, value, messages, localizer);
  return value;
}

}  // namespace

void AddCallCases() {
  AddCase(
      "call/tpm_get/ours",
      [] {
        auto info = MakeTpmInfo();
        auto road = std::make_shared<Road<TpmSvc>>(std::make_shared<TpmService>(info));
        const auto got = TpmGet(*road->stub);
        Require(got && SameTree(TreeOf(*got), TreeOf(*info)), "ours answers TPM get with the Info");
        return [road] { benchmark::DoNotOptimize(TpmGet(*road->stub)); };
      },
      100);
  AddCase(
      "call/providers_list_1000/ours",
      [] {
        auto summaries = MakeSummaries(1000);
        auto road = std::make_shared<Road<ProvidersSvc>>(std::make_shared<ProvidersService>(summaries));
        Require(SameTree(TreeOf(ProvidersList(*road->stub)), TreeOf(summaries)),
                "ours answers providers list with the 1,000 summaries");
        return [road] { benchmark::DoNotOptimize(ProvidersList(*road->stub)); };
      },
      5);
}

}  // namespace DralBench
