#include <dral/provider/method_signal.hpp>

#include <dral/runtime/message.hpp>
#include <tovri/core/error.hpp>

namespace Tovri {
namespace Provider {

std::shared_ptr<AsyncApiMethodSignal> AsyncApiMethodSignal::GetInstance(
    const std::string& name, const Data::DefinitionPtr& inputDefinition,
    const Data::DefinitionPtr& outputDefinition, const DefinitionList& errorDefinitions,
    const std::shared_ptr<L10n::Localizer>& localizer) {
  return std::make_shared<AsyncApiMethodSignal>(Token(), name, inputDefinition, outputDefinition,
                                                errorDefinitions, localizer);
}

AsyncApiMethodSignal::AsyncApiMethodSignal(Token, std::string name, Data::DefinitionPtr inputDefinition,
                                           Data::DefinitionPtr outputDefinition,
                                           DefinitionList errorDefinitions,
                                           std::shared_ptr<L10n::Localizer> localizer)
    : name_(std::move(name)),
      inputDefinition_(std::move(inputDefinition)),
      outputDefinition_(std::move(outputDefinition)),
      errorDefinitions_(std::move(errorDefinitions)),
      localizer_(std::move(localizer)) {}

AsyncApiMethodSignal::~AsyncApiMethodSignal() = default;

const std::string& AsyncApiMethodSignal::methodName() const { return name_; }

std::shared_ptr<const Core::MethodDefinition> AsyncApiMethodSignal::definition(
    const std::shared_ptr<const Core::InterfaceIdentifier>& interfaceId) const {
  return Core::MethodDefinition::GetInstance(Core::MethodIdentifier::GetInstance(interfaceId, name_),
                                             inputDefinition_, outputDefinition_);
}

Data::DefinitionPtr AsyncApiMethodSignal::inputDefinition() const { return inputDefinition_; }

Data::DefinitionPtr AsyncApiMethodSignal::outputDefinition() const { return outputDefinition_; }

AsyncApiMethodSignal::DefinitionList AsyncApiMethodSignal::errorDefinitions() { return errorDefinitions_; }

const AsyncApiMethodSignal::DefinitionList& AsyncApiMethodSignal::errorDefinitions() const {
  return errorDefinitions_;
}

void AsyncApiMethodSignal::Invoke(const Data::ValuePtr& input,
                                  const std::shared_ptr<Core::AsyncActivation>& activation,
                                  const Core::AsyncApiResultCb& resultCb) const {
  if (!handler_) {
    const std::list<BaseMessage> messages{Message<CoreTag>(MessageIds::kSignalNotConnected)};
    resultCb(Core::MethodResult::GetInstance(
                 nullptr, Data::ErrorValue::Create(Errors::kInternalServerError, messages), true),
             FinalProgress(), Core::AsyncApiResultCb::Continuation());
    return;
  }
  std::shared_ptr<const Core::MethodResult> refused;
  if (!ApiMethodHelper::ValidateInput(name_, inputDefinition_, input, refused)) {
    resultCb(refused, FinalProgress(), Core::AsyncApiResultCb::Continuation());
    return;
  }
  activation->localizer = localizer_;
  const AsyncApiMethod::ResultCb methodCb(ValidateResultWrapper(shared_from_this(), resultCb));
  handler_(input, activation, methodCb);
}

Core::AsyncApiResultCb AsyncApiMethodSignal::ValidateResultWrapper::TakeResultCb() {
  Core::AsyncApiResultCb taken = std::move(resultCb_);
  resultCb_ = Core::AsyncApiResultCb();
  return taken;
}

void AsyncApiMethodSignal::ValidateResultWrapper::operator()(
    const boost::optional<Data::ValuePtr>& output, const std::shared_ptr<const Data::ErrorValue>& error,
    const Progress& progress, AsyncApiMethod::ResultContinuation&& continuation) {
  std::shared_ptr<const Core::MethodResult> result;
  if (error) {
    ApiMethodHelper::ValidateError(method_->methodName(), method_->errorDefinitions(), error, result);
    TakeResultCb()(result, progress, Core::AsyncApiResultCb::Continuation());
    return;
  }
  if (output) {
    ApiMethodHelper::ValidateOutput(method_->methodName(), method_->outputDefinition(), *output, result);
    Core::AsyncApiResultCb::Continuation wrapped;
    if (continuation) {
      // The framework asks for the next piece with a new callback; the
      // handler receives it checked by a new wrapper of the same method.
      wrapped = [method = method_,
                 next = std::move(continuation)](std::shared_ptr<Core::AsyncApiResultCb>&& nextResultCb) {
        std::shared_ptr<AsyncApiMethod::ResultCb> nextCb;
        if (nextResultCb) {
          nextCb = std::make_shared<AsyncApiMethod::ResultCb>(ValidateResultWrapper(method, *nextResultCb));
        }
        next(std::move(nextCb));
      };
    }
    TakeResultCb()(result, progress, std::move(wrapped));
    return;
  }
  if (progress.current != progress.max) {
    resultCb_(nullptr, progress, Core::AsyncApiResultCb::Continuation());
    return;
  }
  TakeResultCb()(Core::MethodResult::GetInstance(nullptr, nullptr, true), progress,
                 Core::AsyncApiResultCb::Continuation());
}

}  // namespace Provider
}  // namespace Tovri
