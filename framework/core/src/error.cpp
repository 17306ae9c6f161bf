#include <tovri/core/error.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Errors {
const char* const kError = "com.corvane.tovri.std.errors.error";
const char* const kAlreadyExists = "com.corvane.tovri.std.errors.already_exists";
const char* const kInvalidArgument = "com.corvane.tovri.std.errors.invalid_argument";
const char* const kNotAllowedInCurrentState = "com.corvane.tovri.std.errors.not_allowed_in_current_state";
const char* const kNotFound = "com.corvane.tovri.std.errors.not_found";
const char* const kUnableToAllocateResource = "com.corvane.tovri.std.errors.unable_to_allocate_resource";
const char* const kUnauthenticated = "com.corvane.tovri.std.errors.unauthenticated";
const char* const kUnauthorized = "com.corvane.tovri.std.errors.unauthorized";
const char* const kUnsupported = "com.corvane.tovri.std.errors.unsupported";
const char* const kInternalServerError = "com.corvane.tovri.std.errors.internal_server_error";
}  // namespace Errors

namespace Data {
namespace {

constexpr const char* kMessageStruct = "com.corvane.tovri.std.localizable_message";
constexpr const char* kMessagesField = "messages";

// The "com.corvane.tovri.std.localizable_message" structure of one message.
ValuePtr MessageValue(const BaseMessage& message, const boost::optional<std::string>& localized) {
  auto structure = StructValue::GetInstance(kMessageStruct);
  structure->SetField("id", StringValue::GetInstance(message.id));
  structure->SetField("default_message", StringValue::GetInstance(message.defaultMessage));
  auto args = ListValue::GetInstance(ListValue::kListKind);
  for (const std::string& arg : message.args) args->Append(StringValue::GetInstance(arg));
  structure->SetField("args", std::move(args));
  structure->SetField("localized", localized
                                       ? OptionalValue::GetInstance(StringValue::GetInstance(*localized))
                                       : OptionalValue::GetInstance());
  return structure;
}

const std::string* StringField(const CompoundValue& structure, const char* name) {
  auto* text = dynamic_cast<const StringValue*>(structure.FindField(name).get());
  return text ? &text->GetValue() : nullptr;
}

// Reads one message structure back; false for anything of another shape.
bool ReadMessage(const DataValue* value, ErrorMessage& out) {
  auto* structure = dynamic_cast<const CompoundValue*>(value);
  if (!structure) return false;
  const std::string* id = StringField(*structure, "id");
  const std::string* text = StringField(*structure, "default_message");
  if (!id || !text) return false;
  std::list<std::string> args;
  if (ValuePtr argsField = structure->FindField("args")) {
    auto* list = dynamic_cast<const ListValue*>(argsField.get());
    if (!list) return false;
    for (const ValuePtr& element : list->GetElements()) {
      auto* arg = dynamic_cast<const StringValue*>(element.get());
      if (!arg) return false;
      args.push_back(arg->GetValue());
    }
  }
  boost::optional<std::string> localized;
  const DataValue* localizedField = structure->FindField("localized").get();
  if (auto* optional = dynamic_cast<const OptionalValue*>(localizedField))
    localizedField = optional->GetValue().get();
  if (auto* localizedText = dynamic_cast<const StringValue*>(localizedField))
    localized = localizedText->GetValue();
  out = ErrorMessage{BaseMessage(*id, *text, args), std::move(localized)};
  return true;
}

}  // namespace

std::shared_ptr<ErrorValue> ErrorValue::GetInstance(const std::string& id) {
  auto error = Detail::MakeValue<ErrorValue>(id);
  error->SetField(kMessagesField, ListValue::GetInstance(ListValue::kListKind));
  return error;
}

std::shared_ptr<ErrorValue> ErrorValue::Create(const std::string& id,
                                               const std::list<BaseMessage>& messages) {
  auto error = Detail::MakeValue<ErrorValue>(id);
  auto list = ListValue::GetInstance(ListValue::kListKind);
  for (const BaseMessage& message : messages) list->Append(MessageValue(message, boost::none));
  error->SetField(kMessagesField, std::move(list));
  return error;
}

std::shared_ptr<ErrorValue> ErrorValue::Create(const std::string& id,
                                               const std::vector<ErrorMessage>& messages) {
  auto error = Detail::MakeValue<ErrorValue>(id);
  auto list = ListValue::GetInstance(ListValue::kListKind);
  for (const ErrorMessage& message : messages) list->Append(MessageValue(message.message, message.localized));
  error->SetField(kMessagesField, std::move(list));
  return error;
}

std::vector<ErrorMessage> ErrorValue::GetMessages() const {
  std::vector<ErrorMessage> out;
  auto* list = dynamic_cast<const ListValue*>(FindField(kMessagesField).get());
  if (!list) return out;
  for (const ValuePtr& element : list->GetElements()) {
    ErrorMessage message{BaseMessage(std::string(), std::string(), {}), boost::none};
    if (ReadMessage(element.get(), message)) out.push_back(std::move(message));
  }
  return out;
}

std::shared_ptr<const ErrorValue> NativeErrorHelper::GetError(const std::shared_ptr<const ErrorValue>& error,
                                                              const boost::optional<NativeError>& nativeError,
                                                              const L10n::RequestLocalizer& localizer) {
  std::shared_ptr<const ErrorValue> source = error;
  if (!source && nativeError) source = ErrorValue::Create(nativeError->id, nativeError->messages);
  if (!source) return nullptr;

  // An incomplete pair cannot render anything: use the framework's default.
  L10n::RequestLocalizer effective = localizer;
  if (!effective.localizer || !effective.localeSpec)
    effective = L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();

  auto* list = dynamic_cast<const ListValue*>(source->FindField(kMessagesField).get());
  if (!list) return source;
  // Only message entries without a localised text change; every other entry
  // and every other field of the error is carried over as it is.
  auto localizedList = ListValue::GetInstance(list->GetKind());
  bool changed = false;
  for (const ValuePtr& element : list->GetElements()) {
    ErrorMessage message{BaseMessage(std::string(), std::string(), {}), boost::none};
    if (ReadMessage(element.get(), message) && !message.localized) {
      if (auto text = effective.localizer->Localize(message.message, *effective.localeSpec)) {
        auto replacement = StructValue::GetInstance(static_cast<const CompoundValue&>(*element).GetName());
        for (const auto& [name, field] : static_cast<const CompoundValue&>(*element).GetFields()) {
          replacement->SetField(name, field);
        }
        replacement->SetField("localized", OptionalValue::GetInstance(StringValue::GetInstance(*text)));
        localizedList->Append(std::move(replacement));
        changed = true;
        continue;
      }
    }
    localizedList->Append(element);
  }
  if (!changed) return source;
  auto result = Detail::MakeValue<ErrorValue>(source->GetId());
  for (const auto& [name, field] : source->GetFields()) result->SetField(name, field);
  result->SetField(kMessagesField, std::move(localizedList));
  return result;
}

}  // namespace Data
}  // namespace Tovri
