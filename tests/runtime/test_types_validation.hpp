// The validation declarations of the test types, as generated beside each
// class; the bodies are in test_types_validation.cpp.
#pragma once

#include <list>

#include <dral/runtime/validator.hpp>

#include "runtime/test_types.hpp"

namespace Tovri {
namespace Data {
namespace Validator {

#define DRAL_TEST_VALIDATION(Type)                \
  template <>                                     \
  struct Rules<Type> {                            \
    static bool Check(const Type& v, Checker& c); \
  };                                              \
  template <>                                     \
  bool isValid<Type>(const Type& v, Policy p, std::list<::Tovri::BaseMessage>& m);
DRAL_TEST_VALIDATION(::Dral::TestTypes::Endpoint)
DRAL_TEST_VALIDATION(::Dral::TestTypes::NativeDetails)
DRAL_TEST_VALIDATION(::Dral::TestTypes::ProviderInfo)
DRAL_TEST_VALIDATION(::Dral::TestTypes::Route)
DRAL_TEST_VALIDATION(::Dral::TestTypes::WidgetsSvc::CreateMethod::Input)
DRAL_TEST_VALIDATION(::Dral::TestTypes::WidgetsSvc::ListMethod::Input)
DRAL_TEST_VALIDATION(::Dral::TestTypes::WidgetsSvc::GetAllMethod::Input)
DRAL_TEST_VALIDATION(::Dral::TestTypes::RoutesSvc::CreateMethod::Input)
DRAL_TEST_VALIDATION(::Dral::TestTypes::RoutesSvc::ListMethod::Input)
#undef DRAL_TEST_VALIDATION

}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
