#include <tovri/core/stub.hpp>

#include <tovri/core/error.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Stub {

AsyncApiStub::AsyncApiStub(std::shared_ptr<Core::ApiProvider> provider,
                           std::shared_ptr<Core::AsyncActivation> defaultActivation)
    : provider_(std::move(provider)),
      defaultActivation_(defaultActivation ? std::move(defaultActivation)
                                           : std::make_shared<Core::AsyncActivation>()) {}

void AsyncApiStub::Invoke(const std::shared_ptr<const Core::MethodIdentifier>& method,
                          const Data::ValuePtr& input,
                          const std::shared_ptr<Core::AsyncActivation>& activation,
                          const Core::AsyncApiResultCb& resultCb) const {
  if (!provider_) {
    if (!resultCb) return;
    const std::string service = method && method->GetInterface() ? method->GetInterface()->GetName() : "";
    const std::string name = method ? method->GetName() : "";
    auto error = Data::ErrorValue::Create(
        Errors::kInternalServerError,
        std::list<BaseMessage>{Core::MakeCoreMessage(Core::Ids::kProviderMissing, {service, name})});
    resultCb(Core::MethodResult::GetInstance(nullptr, std::move(error), true), FinalProgress());
    return;
  }
  if (activation) {
    provider_->Invoke(method, input, activation, resultCb);
  } else {
    provider_->Invoke(method, input, std::make_shared<Core::AsyncActivation>(*defaultActivation_), resultCb);
  }
}

}  // namespace Stub
}  // namespace Tovri
