#include <tovri/core/invocation.hpp>

namespace Tovri {
namespace Core {

std::shared_ptr<const InterfaceIdentifier> InterfaceIdentifier::GetInstance(const std::string& name) {
  return std::make_shared<const InterfaceIdentifier>(name);
}

std::shared_ptr<const MethodIdentifier> MethodIdentifier::GetInstance(
    const std::shared_ptr<const InterfaceIdentifier>& interfaceId, const std::string& name) {
  return std::make_shared<const MethodIdentifier>(interfaceId, name);
}

bool operator==(const MethodIdentifier& a, const MethodIdentifier& b) noexcept {
  if (a.GetName() != b.GetName()) return false;
  const auto& ia = a.GetInterface();
  const auto& ib = b.GetInterface();
  if (!ia || !ib) return !ia && !ib;
  return ia->GetName() == ib->GetName();
}

std::shared_ptr<const MethodDefinition> MethodDefinition::GetInstance(
    std::shared_ptr<const MethodIdentifier> identifier, Data::DefinitionPtr input,
    Data::DefinitionPtr output) {
  return std::make_shared<const MethodDefinition>(std::move(identifier), std::move(input), std::move(output));
}

std::shared_ptr<const MethodResult> MethodResult::GetInstance(Data::ValuePtr output,
                                                              std::shared_ptr<const Data::ErrorValue> error,
                                                              bool checked) {
  return std::make_shared<const MethodResult>(std::move(output), std::move(error), checked);
}

MethodResult::~MethodResult() = default;
ExecutionContext::~ExecutionContext() = default;
ApiProvider::~ApiProvider() = default;

namespace {

// Copies only the three maps: the copy is an ExecutionContext, whatever the
// source's dynamic type.
std::shared_ptr<ExecutionContext> CopyContext(const std::shared_ptr<ExecutionContext>& source) {
  auto copy = std::make_shared<ExecutionContext>();
  if (source) {
    copy->applicationData = source->applicationData;
    copy->propagated = source->propagated;
    copy->security = source->security;
  }
  return copy;
}

}  // namespace

AsyncActivation::AsyncActivation() : executionContext(std::make_shared<ExecutionContext>()) {}

AsyncActivation::AsyncActivation(const AsyncActivation& other)
    : executionContext(CopyContext(other.executionContext)),
      value(other.value),
      properties(other.properties),
      localizer(other.localizer),
      localeSpec(other.localeSpec),
      onCancel(other.onCancel),
      onComplete(other.onComplete),
      sequence(0) {}

AsyncActivation& AsyncActivation::operator=(const AsyncActivation& other) {
  if (this != &other) {
    AsyncActivation copy(other);
    executionContext = std::move(copy.executionContext);
    value = std::move(copy.value);
    properties = std::move(copy.properties);
    localizer = std::move(copy.localizer);
    localeSpec = std::move(copy.localeSpec);
    onCancel = std::move(copy.onCancel);
    onComplete = std::move(copy.onComplete);
    sequence = 0;
  }
  return *this;
}

AsyncActivation::~AsyncActivation() = default;

L10n::RequestLocalizer AsyncActivation::GetErrorRequestLocalizer() const {
  if (localizer && !localizer->empty() && localeSpec) return L10n::RequestLocalizer{localizer, localeSpec};
  return L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
}

void AsyncApiResultCb::operator()(const std::shared_ptr<const MethodResult>& result, const Progress& progress,
                                  Continuation&& continuation) const {
  if (!function_) throw std::bad_function_call();
  // Emptied only once the final answer is delivered: a second answer given
  // from inside the first then reaches the function, whose result reports
  // the double completion, instead of an empty callback. A nested call never
  // empties it: the outer call is still running inside the function.
  struct Depth {
    int& calls;
    ~Depth() { --calls; }
  } depth{++state_.calls};
  function_(result, progress, std::move(continuation));
  if (result) state_.final = true;
  if (state_.calls == 1 && state_.final) function_ = nullptr;
}

}  // namespace Core
}  // namespace Tovri
