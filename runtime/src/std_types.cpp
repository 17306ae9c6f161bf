// Hand-written structure methods of the framework's standard structures,
// which carry no AdapterHelper of their own.
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>

namespace Tovri {
namespace Data {
namespace {

using ::Com::Corvane::Tovri::Std::LocalizableMessage;
using ErrorBase = ::Com::Corvane::Tovri::Std::Errors::ErrorBase;

void AddErrorFields(NativeToValueAdapter::CompoundHelper<StructValue>& helper, const ErrorBase* error) {
  helper.AddField("messages", &error->messages);
}

void AddErrorFields(ValueToNativeAdapter::CompoundHelper<StructValue>& helper, ErrorBase* error) {
  helper.AddFieldInt("messages", &error->messages);
}

}  // namespace

template <>
void NativeToValueAdapter::StructMethod<LocalizableMessage>(const NativeConstPtr& source,
                                                            const Destination& destination, WorkList& work,
                                                            std::list<BaseMessage>&) {
  const LocalizableMessage* message = source.As<LocalizableMessage>();
  CompoundHelper<StructValue> helper(TypeInfo<LocalizableMessage>::name(), destination, work);
  helper.AddField("id", &message->id);
  helper.AddField("default_message", &message->defaultMessage);
  helper.AddField("args", &message->args);
  helper.AddField("localized", &message->localized);
}

template <>
void ValueToNativeAdapter::StructMethod<LocalizableMessage>(const Source& value, const NativePtr& destination,
                                                            WorkList& work,
                                                            std::list<BaseMessage>& messages) {
  CompoundHelper<StructValue> reader(value, work, messages);
  if (!reader.IsReadable()) return;
  LocalizableMessage* message = destination.As<LocalizableMessage>();
  reader.AddFieldInt("id", &message->id);
  reader.AddFieldInt("default_message", &message->defaultMessage);
  reader.AddFieldInt("args", &message->args);
  reader.AddField("localized", &message->localized);
}

#define DRAL_STD_ERROR_METHODS(Name)                                                                         \
  template <>                                                                                                \
  void NativeToValueAdapter::StructMethod<::Com::Corvane::Tovri::Std::Errors::Name>(                         \
      const NativeConstPtr& source, const Destination& destination, WorkList& work,                          \
      std::list<BaseMessage>&) {                                                                             \
    using Error = ::Com::Corvane::Tovri::Std::Errors::Name;                                                  \
    CompoundHelper<StructValue> helper(TypeInfo<Error>::name(), destination, work);                          \
    AddErrorFields(helper, source.As<Error>());                                                              \
  }                                                                                                          \
  template <>                                                                                                \
  void ValueToNativeAdapter::StructMethod<::Com::Corvane::Tovri::Std::Errors::Name>(                         \
      const Source& value, const NativePtr& destination, WorkList& work, std::list<BaseMessage>& messages) { \
    CompoundHelper<StructValue> reader(value, work, messages);                                               \
    if (reader.IsReadable())                                                                                 \
      AddErrorFields(reader, destination.As<::Com::Corvane::Tovri::Std::Errors::Name>());                    \
  }
DRAL_STD_ERROR_METHODS(Error)
DRAL_STD_ERROR_METHODS(AlreadyExists)
DRAL_STD_ERROR_METHODS(InvalidArgument)
DRAL_STD_ERROR_METHODS(NotAllowedInCurrentState)
DRAL_STD_ERROR_METHODS(NotFound)
DRAL_STD_ERROR_METHODS(UnableToAllocateResource)
DRAL_STD_ERROR_METHODS(Unauthenticated)
DRAL_STD_ERROR_METHODS(Unauthorized)
DRAL_STD_ERROR_METHODS(Unsupported)
#undef DRAL_STD_ERROR_METHODS

template <>
void NativeToValueAdapter::StructMethod<OperationInput>(const NativeConstPtr&, const Destination& destination,
                                                        WorkList& work, std::list<BaseMessage>&) {
  CompoundHelper<StructValue> helper(TypeInfo<OperationInput>::name(), destination, work);
}

template <>
void ValueToNativeAdapter::StructMethod<OperationInput>(const Source& value, const NativePtr&, WorkList& work,
                                                        std::list<BaseMessage>& messages) {
  CompoundHelper<StructValue> reader(value, work, messages);
}

}  // namespace Data
}  // namespace Tovri
