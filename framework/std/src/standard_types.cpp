#include <tovri/std/standard_types.hpp>

namespace Com {
namespace Corvane {
namespace Tovri {
namespace Std {

bool operator==(const LocalizableMessage& a, const LocalizableMessage& b) {
  return a.id == b.id && a.defaultMessage == b.defaultMessage && a.args == b.args &&
         a.localized == b.localized;
}

}  // namespace Std
}  // namespace Tovri
}  // namespace Corvane
}  // namespace Com

namespace Tovri {
namespace Data {

std::string TypeInfo<::Com::Corvane::Tovri::Std::LocalizableMessage>::name() {
  return "com.corvane.tovri.std.localizable_message";
}

std::shared_ptr<::Com::Corvane::Tovri::Std::LocalizableMessage>
TypeInfo<::Com::Corvane::Tovri::Std::LocalizableMessage>::defaultInstance(
    const std::shared_ptr<const DataValue>&) {
  return std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>();
}

std::string TypeInfo<::Tovri::OperationInput>::name() { return "operation-input"; }

std::shared_ptr<::Tovri::OperationInput> TypeInfo<::Tovri::OperationInput>::defaultInstance(
    const std::shared_ptr<const DataValue>&) {
  return std::make_shared<::Tovri::OperationInput>();
}

// The wire name of a standard error is its id.
#define TOVRI_STD_ERROR_TYPE_INFO(Name, wire)                              \
  std::string TypeInfo<::Com::Corvane::Tovri::Std::Errors::Name>::name() { \
    return "com.corvane.tovri.std.errors." wire;                           \
  }                                                                        \
  std::shared_ptr<::Com::Corvane::Tovri::Std::Errors::Name>                \
  TypeInfo<::Com::Corvane::Tovri::Std::Errors::Name>::defaultInstance(     \
      const std::shared_ptr<const DataValue>&) {                           \
    return std::make_shared<::Com::Corvane::Tovri::Std::Errors::Name>();   \
  }
TOVRI_STD_ERROR_TYPE_INFO(Error, "error")
TOVRI_STD_ERROR_TYPE_INFO(AlreadyExists, "already_exists")
TOVRI_STD_ERROR_TYPE_INFO(InvalidArgument, "invalid_argument")
TOVRI_STD_ERROR_TYPE_INFO(NotAllowedInCurrentState, "not_allowed_in_current_state")
TOVRI_STD_ERROR_TYPE_INFO(NotFound, "not_found")
TOVRI_STD_ERROR_TYPE_INFO(UnableToAllocateResource, "unable_to_allocate_resource")
TOVRI_STD_ERROR_TYPE_INFO(Unauthenticated, "unauthenticated")
TOVRI_STD_ERROR_TYPE_INFO(Unauthorized, "unauthorized")
TOVRI_STD_ERROR_TYPE_INFO(Unsupported, "unsupported")
#undef TOVRI_STD_ERROR_TYPE_INFO

}  // namespace Data
}  // namespace Tovri
