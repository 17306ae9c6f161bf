#include <tovri/core/provider.hpp>

#include <tovri/core/error.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Provider {

AsyncApiMethod::~AsyncApiMethod() = default;

std::shared_ptr<const AsyncApiInterface> AsyncApiInterface::GetInstance(
    const std::shared_ptr<const Core::InterfaceIdentifier>& identifier, const Methods& methods) {
  return std::make_shared<const AsyncApiInterface>(identifier, methods);
}

std::shared_ptr<const AsyncApiMethod> AsyncApiInterface::FindMethod(const std::string& name) const {
  for (const auto& method : methods_) {
    if (method && method->methodName() == name) return method;
  }
  return nullptr;
}

namespace {

std::shared_ptr<const Core::MethodResult> ErrorResult(const char* errorId,
                                                      const std::list<BaseMessage>& messages) {
  return Core::MethodResult::GetInstance(nullptr, Data::ErrorValue::Create(errorId, messages), true);
}

// The name of the error a definition describes, or null for a definition of
// another kind.
const std::string* ErrorName(const Data::DataDefinition* definition) {
  if (auto* structure = dynamic_cast<const Data::StructDefinition*>(definition)) return &structure->GetName();
  if (auto* ref = dynamic_cast<const Data::StructRefDefinition*>(definition)) return &ref->GetName();
  return nullptr;
}

}  // namespace

bool ApiMethodHelper::ValidateInput(const std::string& methodName, const Data::DefinitionPtr& inputDefinition,
                                    const Data::ValuePtr& input,
                                    std::shared_ptr<const Core::MethodResult>& result) {
  std::list<BaseMessage> messages;
  if (!inputDefinition || Data::CheckValue(*inputDefinition, input, messages)) {
    result = Core::MethodResult::GetInstance(input, nullptr, true);
    return true;
  }
  messages.push_back(Core::MakeCoreMessage(Core::Ids::kInvalidInput, {methodName}));
  result = ErrorResult(Errors::kInvalidArgument, messages);
  return false;
}

bool ApiMethodHelper::ValidateOutput(const std::string& methodName,
                                     const Data::DefinitionPtr& outputDefinition,
                                     const Data::ValuePtr& output,
                                     std::shared_ptr<const Core::MethodResult>& result) {
  std::list<BaseMessage> messages;
  if (!outputDefinition || Data::CheckValue(*outputDefinition, output, messages)) {
    result = Core::MethodResult::GetInstance(output, nullptr, true);
    return true;
  }
  messages.push_back(Core::MakeCoreMessage(Core::Ids::kInvalidOutput, {methodName}));
  result = ErrorResult(Errors::kInternalServerError, messages);
  return false;
}

bool ApiMethodHelper::ValidateError(const std::string& methodName,
                                    const std::list<Data::DefinitionPtr>& errorDefinitions,
                                    const std::shared_ptr<const Data::ErrorValue>& error,
                                    std::shared_ptr<const Core::MethodResult>& result) {
  std::list<BaseMessage> messages;
  if (!error) {
    messages.push_back(Core::MakeCoreMessage(Core::Ids::kErrorMissing, {methodName}));
    result = ErrorResult(Errors::kInternalServerError, messages);
    return false;
  }
  const std::string& id = error->GetId();
  // Raised by the framework and the bindings on any method; never declared.
  if (id == Errors::kInvalidArgument || id == Errors::kInternalServerError) {
    result = Core::MethodResult::GetInstance(nullptr, error, true);
    return true;
  }
  for (const Data::DefinitionPtr& definition : errorDefinitions) {
    const std::string* name = ErrorName(definition.get());
    if (!name || *name != id) continue;
    if (Data::CheckValue(*definition, error, messages)) {
      result = Core::MethodResult::GetInstance(nullptr, error, true);
      return true;
    }
    messages.push_back(Core::MakeCoreMessage(Core::Ids::kErrorInvalid, {methodName, id}));
    result = ErrorResult(Errors::kInternalServerError, messages);
    return false;
  }
  messages.push_back(Core::MakeCoreMessage(Core::Ids::kErrorUndeclared, {methodName, id}));
  result = ErrorResult(Errors::kInternalServerError, messages);
  return false;
}

}  // namespace Provider
}  // namespace Tovri
