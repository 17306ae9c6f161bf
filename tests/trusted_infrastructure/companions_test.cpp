// The companions generated beside the package classes: validators with the
// package's descents, and method descriptors. The mechanisms themselves are
// tested on the tests' own catalogue (tests/runtime).
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/validator.hpp>
#include <tovri/core/message_ids.hpp>

#include "package_support.hpp"

namespace {

namespace V = ::Tovri::Data::Validator;
using ::Tovri::Data::DataDefinition;
using ::Tovri::Data::StructDefinition;

const std::string kExtra = ::Tovri::MessageIds::kFieldExtra;

template <class T>
std::vector<std::string> Ids(const T& value, V::Policy policy, bool expected) {
  std::list<::Tovri::BaseMessage> messages;
  EXPECT_EQ(V::isValid(value, policy, messages), expected);
  std::vector<std::string> ids;
  for (const auto& m : messages) ids.push_back(m.id);
  return ids;
}

const StructDefinition& AsStruct(const std::shared_ptr<const DataDefinition>& definition) {
  EXPECT_EQ(definition->GetType(), ::Tovri::Data::kStruct);
  return static_cast<const StructDefinition&>(*definition);
}

std::map<std::string, int> Kinds(const StructDefinition& definition) {
  std::map<std::string, int> kinds;
  for (const auto& field : definition.GetFields()) kinds[field.first] = field.second->GetType();
  return kinds;
}

TEST(GeneratedValidation, RequiredStructuresAreDescended) {
  auto spec = ServiceSpec<TI::Attestation::ServicesSvc>();
  EXPECT_TRUE(Ids(*spec, V::REJECT_EXTRA_FIELDS, true).empty());
  spec->trustedCA = WithExtraField(std::make_shared<TI::X509CertChain>());
  EXPECT_EQ(Ids(*spec, V::REJECT_EXTRA_FIELDS, false), (std::vector<std::string>{kExtra}));
  spec->address = nullptr;  // a null required structure fails silently, before trusted_CA
  EXPECT_TRUE(Ids(*spec, V::REJECT_EXTRA_FIELDS, false).empty());
}

TEST(GeneratedValidation, OptionalStructuresAreNotDescended) {
  auto providerSpec = std::make_shared<TI::Kms::ProvidersSvc::CreateSpec>();
  providerSpec->nativeSpec =
      WithExtraField(std::make_shared<TI::Kms::ProvidersSvc::NativeProviderCreateSpec>());
  EXPECT_TRUE(Ids(*providerSpec, V::REJECT_EXTRA_FIELDS, true).empty());

  auto kmsSpec = ServiceSpec<TI::Kms::ServicesSvc>();
  kmsSpec->apiClient = WithExtraField(std::make_shared<TI::ApiClientSpec>());
  EXPECT_TRUE(Ids(*kmsSpec, V::REJECT_EXTRA_FIELDS, true).empty());
}

TEST(GeneratedMethods, Descriptors) {
  namespace D = ::Tovri::Data;
  using Providers = TI::Kms::ProvidersSvc;
  const auto input = Providers::ListMethod::inputDef();
  EXPECT_EQ(AsStruct(input).GetName(), D::TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_EQ(Kinds(AsStruct(input)), (std::map<std::string, int>{{"filter_spec", D::kOptional}}));
  // Without parameters the input is the framework's empty one.
  const auto none = TI::Attestation::ReportsSvc::ListMethod::inputDef();
  EXPECT_EQ(AsStruct(none).GetName(), D::TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_TRUE(AsStruct(none).GetFields().empty());

  const auto output = Providers::ListMethod::outputDef();
  ASSERT_EQ(output->GetType(), D::kList);
  EXPECT_EQ(AsStruct(static_cast<const D::ListDefinition&>(*output).GetElement()).GetName(),
            "com.corvane.morv.trusted_infrastructure.kms.providers.summary");
  EXPECT_EQ(Providers::CreateMethod::outputDef()->GetType(), D::kVoid);
  EXPECT_EQ(TI::Kms::ServicesSvc::CreateMethod::outputDef()->GetType(), D::kString);
}

}  // namespace
