// The standard structures every binding may use: the localizable message, the
// standard errors and the generic operation input. Plain classes; the
// bindings runtime converts them and derives their definitions through the
// hooks it keeps for them.
#pragma once

#include <list>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <tovri/core/message.hpp>
#include <tovri/core/type_info.hpp>
#include <tovri/core/value.hpp>

namespace Com {
namespace Corvane {
namespace Tovri {
namespace Std {

// Wire name "com.corvane.tovri.std.localizable_message"; fields "id",
// "default_message", "args" (list of string), "localized" (optional string).
struct LocalizableMessage {
  std::string id;
  std::string defaultMessage;
  std::list<std::string> args;
  boost::optional<std::string> localized;

  LocalizableMessage() = default;
  explicit LocalizableMessage(const ::Tovri::BaseMessage& message)
      : id(message.id), defaultMessage(message.defaultMessage), args(message.args) {}
};

bool operator==(const LocalizableMessage& a, const LocalizableMessage& b);

namespace Errors {

// Every standard error has the same shape: a list of messages under
// "messages". Its wire name is its id, "com.corvane.tovri.std.errors."
// followed by the snake-case name.
struct ErrorBase {
  std::list<std::shared_ptr<const LocalizableMessage>> messages;
};

struct Error : ErrorBase {};
struct AlreadyExists : ErrorBase {};
struct InvalidArgument : ErrorBase {};
struct NotAllowedInCurrentState : ErrorBase {};
struct NotFound : ErrorBase {};
struct UnableToAllocateResource : ErrorBase {};
struct Unauthenticated : ErrorBase {};
struct Unauthorized : ErrorBase {};
struct Unsupported : ErrorBase {};

}  // namespace Errors
}  // namespace Std
}  // namespace Tovri
}  // namespace Corvane
}  // namespace Com

namespace Tovri {

// The input of an operation without parameters, and the wire name of every
// operation input structure ("operation-input").
struct OperationInput {};

namespace Data {

template <>
struct TypeInfo<::Com::Corvane::Tovri::Std::LocalizableMessage> {
  static std::string name();
  static std::shared_ptr<::Com::Corvane::Tovri::Std::LocalizableMessage> defaultInstance(
      const std::shared_ptr<const DataValue>&);
};

template <>
struct TypeInfo<::Tovri::OperationInput> {
  static std::string name();
  static std::shared_ptr<::Tovri::OperationInput> defaultInstance(const std::shared_ptr<const DataValue>&);
};

#define TOVRI_STD_ERROR_TYPE_INFO(Name)                                               \
  template <>                                                                         \
  struct TypeInfo<::Com::Corvane::Tovri::Std::Errors::Name> {                         \
    static std::string name();                                                        \
    static std::shared_ptr<::Com::Corvane::Tovri::Std::Errors::Name> defaultInstance( \
        const std::shared_ptr<const DataValue>&);                                     \
  };
TOVRI_STD_ERROR_TYPE_INFO(Error)
TOVRI_STD_ERROR_TYPE_INFO(AlreadyExists)
TOVRI_STD_ERROR_TYPE_INFO(InvalidArgument)
TOVRI_STD_ERROR_TYPE_INFO(NotAllowedInCurrentState)
TOVRI_STD_ERROR_TYPE_INFO(NotFound)
TOVRI_STD_ERROR_TYPE_INFO(UnableToAllocateResource)
TOVRI_STD_ERROR_TYPE_INFO(Unauthenticated)
TOVRI_STD_ERROR_TYPE_INFO(Unauthorized)
TOVRI_STD_ERROR_TYPE_INFO(Unsupported)
#undef TOVRI_STD_ERROR_TYPE_INFO

}  // namespace Data
}  // namespace Tovri
