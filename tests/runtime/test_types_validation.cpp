// The validation bodies of the test types, as generated.
#include "runtime/test_types_validation.hpp"

namespace Tovri {
namespace Data {
namespace Validator {

namespace T = ::Dral::TestTypes;

bool Rules<T::Endpoint>::Check(const T::Endpoint& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::TestTypes::Endpoint");
}

bool Rules<T::NativeDetails>::Check(const T::NativeDetails& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::TestTypes::NativeDetails");
}

bool Rules<T::ProviderInfo>::Check(const T::ProviderInfo& v, Checker& c) {
  using Annotations = T::ProviderInfoAnnotations;
  return c.CheckUndeclaredFields(v, "::Dral::TestTypes::ProviderInfo") &&
         c.CheckUnionCase<Annotations::UnionTags, 0, Annotations::NativeInfoUnionCases>(
             v, v.type, v.nativeInfo, "nativeInfo") &&
         c.CheckUnionCase<Annotations::UnionTags, 0, Annotations::TrustAuthorityUrlUnionCases>(
             v, v.type, v.trustAuthorityUrl, "trustAuthorityUrl");
}

bool Rules<T::Route>::Check(const T::Route& v, Checker& c) {
  return c.CheckUndeclaredFields(v, "::Dral::TestTypes::Route") && c.DescendRequired(v.from) &&
         c.DescendRequired(v.to);
}

bool Rules<T::WidgetsSvc::CreateMethod::Input>::Check(const T::WidgetsSvc::CreateMethod::Input& v,
                                                      Checker& c) {
  static constexpr const char* kOperation = "::Dral::TestTypes::WidgetsSvc::Create";
  return c.CheckInputUndeclaredFields(v, "::Dral::TestTypes::WidgetsSvc::CreateMethod::Input", kOperation) &&
         c.DescendParameter(v.spec, kOperation);
}

bool Rules<T::WidgetsSvc::ListMethod::Input>::Check(const T::WidgetsSvc::ListMethod::Input& v, Checker& c) {
  static constexpr const char* kOperation = "::Dral::TestTypes::WidgetsSvc::List";
  return c.CheckInputUndeclaredFields(v, "::Dral::TestTypes::WidgetsSvc::ListMethod::Input", kOperation) &&
         c.DescendParameter(v.filter, kOperation);
}

bool Rules<T::WidgetsSvc::GetAllMethod::Input>::Check(const T::WidgetsSvc::GetAllMethod::Input& v,
                                                      Checker& c) {
  return c.CheckInputUndeclaredFields(v, "::Dral::TestTypes::WidgetsSvc::GetAllMethod::Input",
                                      "::Dral::TestTypes::WidgetsSvc::GetAll");
}

bool Rules<T::RoutesSvc::CreateMethod::Input>::Check(const T::RoutesSvc::CreateMethod::Input& v, Checker& c) {
  static constexpr const char* kOperation = "::Dral::TestTypes::RoutesSvc::Create";
  return c.CheckInputUndeclaredFields(v, "::Dral::TestTypes::RoutesSvc::CreateMethod::Input", kOperation) &&
         c.DescendParameter(v.spec, kOperation);
}

bool Rules<T::RoutesSvc::ListMethod::Input>::Check(const T::RoutesSvc::ListMethod::Input& v, Checker& c) {
  static constexpr const char* kOperation = "::Dral::TestTypes::RoutesSvc::List";
  return c.CheckInputUndeclaredFields(v, "::Dral::TestTypes::RoutesSvc::ListMethod::Input", kOperation) &&
         c.DescendParameter(v.filter, kOperation);
}

#define DRAL_TEST_IS_VALID(Type)                                                    \
  template <>                                                                       \
  bool isValid<Type>(const Type& v, Policy p, std::list<::Tovri::BaseMessage>& m) { \
    return Validate(v, p, m);                                                       \
  }
DRAL_TEST_IS_VALID(T::Endpoint)
DRAL_TEST_IS_VALID(T::NativeDetails)
DRAL_TEST_IS_VALID(T::ProviderInfo)
DRAL_TEST_IS_VALID(T::Route)
DRAL_TEST_IS_VALID(T::WidgetsSvc::CreateMethod::Input)
DRAL_TEST_IS_VALID(T::WidgetsSvc::ListMethod::Input)
DRAL_TEST_IS_VALID(T::WidgetsSvc::GetAllMethod::Input)
DRAL_TEST_IS_VALID(T::RoutesSvc::CreateMethod::Input)
DRAL_TEST_IS_VALID(T::RoutesSvc::ListMethod::Input)
#undef DRAL_TEST_IS_VALID

}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
