// The companions generated beside the package classes: validators with their
// descents and union rules, data definitions, method descriptors and struct
// metadata.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/metadata.hpp>
#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
namespace V = ::Tovri::Data::Validator;
using ::Tovri::BaseMessage;
using ::Tovri::Data::DataDefinition;
using ::Tovri::Data::StructDefinition;

const std::string kRoot = "::Com::Corvane::Morv::TrustedInfrastructure";

// An undeclared field, as received from a peer.
template <class T>
std::shared_ptr<T> WithExtraField(std::shared_ptr<T> object, const std::string& name = "x") {
  object->unknownFields = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  object->unknownFields->SetField(name, ::Tovri::Data::StringValue::GetInstance("extra"));
  return object;
}

template <class T>
std::vector<std::string> Ids(const T& value, V::Policy policy, bool expected) {
  std::list<BaseMessage> messages;
  EXPECT_EQ(V::isValid(value, policy, messages), expected);
  std::vector<std::string> ids;
  for (const auto& m : messages) ids.push_back(m.id);
  return ids;
}

std::shared_ptr<TI::Attestation::ServicesSvc::CreateSpec> AttestationSpec() {
  auto spec = std::make_shared<TI::Attestation::ServicesSvc::CreateSpec>();
  spec->address = std::make_shared<TI::NetworkAddress>();
  spec->trustedCA = std::make_shared<TI::X509CertChain>();
  return spec;
}

const StructDefinition& AsStruct(const std::shared_ptr<const DataDefinition>& definition) {
  EXPECT_EQ(definition->GetType(), ::Tovri::Data::kStruct);
  return static_cast<const StructDefinition&>(*definition);
}

TEST(GeneratedValidation, UndeclaredFieldsDependOnPolicy) {
  const auto info = WithExtraField(std::make_shared<TI::ApiClientInfo>());
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(*info, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.compound.field.extra");
  EXPECT_EQ(messages.front().args, (std::list<std::string>{kRoot + "::ApiClientInfo", "x", ""}));
  EXPECT_TRUE(Ids(*info, V::ALLOW_EXTRA_FIELDS, true).empty());
}

TEST(GeneratedValidation, RequiredStructuresAreDescended) {
  auto spec = AttestationSpec();
  EXPECT_TRUE(Ids(*spec, V::REJECT_EXTRA_FIELDS, true).empty());
  spec->trustedCA = WithExtraField(std::make_shared<TI::X509CertChain>());
  EXPECT_EQ(Ids(*spec, V::REJECT_EXTRA_FIELDS, false),
            (std::vector<std::string>{"tovri.data.compound.field.extra"}));
  spec->address = nullptr;  // a null required structure fails silently, before trusted_CA
  EXPECT_TRUE(Ids(*spec, V::REJECT_EXTRA_FIELDS, false).empty());
}

TEST(GeneratedValidation, OptionalStructuresAreNotDescended) {
  auto providerSpec = std::make_shared<TI::Kms::ProvidersSvc::CreateSpec>();
  providerSpec->nativeSpec =
      WithExtraField(std::make_shared<TI::Kms::ProvidersSvc::NativeProviderCreateSpec>());
  EXPECT_TRUE(Ids(*providerSpec, V::REJECT_EXTRA_FIELDS, true).empty());

  auto kmsSpec = std::make_shared<TI::Kms::ServicesSvc::CreateSpec>();
  kmsSpec->address = std::make_shared<TI::NetworkAddress>();
  kmsSpec->trustedCA = std::make_shared<TI::X509CertChain>();
  kmsSpec->apiClient = WithExtraField(std::make_shared<TI::ApiClientSpec>());
  EXPECT_TRUE(Ids(*kmsSpec, V::REJECT_EXTRA_FIELDS, true).empty());

  auto filter = std::make_shared<TI::Attestation::ServicesSvc::FilterSpec>();
  filter->address.emplace();
  filter->address->push_back(WithExtraField(std::make_shared<TI::NetworkAddress>()));
  EXPECT_TRUE(Ids(*filter, V::REJECT_EXTRA_FIELDS, true).empty());
}

TEST(GeneratedValidation, CreateInputReportsTheOperation) {
  TI::Attestation::ServicesSvc::CreateMethod::Input input;
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(input, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.invoke.invalid.input");
  EXPECT_EQ(messages.front().args.front(), kRoot + "::Attestation::ServicesSvc::Create");

  input.spec = WithExtraField(AttestationSpec());
  messages.clear();
  EXPECT_FALSE(
      V::isValid(input, V::ALLOW_EXTRA_FIELDS, messages));  // the CreateSpec is checked strictly anyway
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.front().args.front(), kRoot + "::Attestation::ServicesSvc::CreateSpec");
  EXPECT_EQ(messages.back().id, "tovri.invoke.invalid.input");
}

TEST(GeneratedValidation, InputUndeclaredFieldsNameTheInputClass) {
  const auto input = WithExtraField(std::make_shared<TI::Kms::ProvidersSvc::UpdateMethod::Input>());
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(*input, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.front().args.front(), kRoot + "::Kms::ProvidersSvc::UpdateMethod::Input");
  EXPECT_EQ(messages.back().args.front(), kRoot + "::Kms::ProvidersSvc::Update");
}

TEST(GeneratedValidation, ListInputWithOrWithoutFilter) {
  TI::Hardware::TpmSvc::ListMethod::Input input;
  EXPECT_TRUE(Ids(input, V::REJECT_EXTRA_FIELDS, true).empty());
  input.filter = std::make_shared<TI::Hardware::TpmSvc::FilterSpec>();
  EXPECT_TRUE(Ids(input, V::REJECT_EXTRA_FIELDS, true).empty());
  input.filter = WithExtraField(std::make_shared<TI::Hardware::TpmSvc::FilterSpec>());
  EXPECT_EQ(Ids(input, V::REJECT_EXTRA_FIELDS, false),
            (std::vector<std::string>{"tovri.data.compound.field.extra", "tovri.invoke.invalid.input"}));
}

TEST(GeneratedValidation, ProviderInfoUnion) {
  using Providers = TI::Kms::ProvidersSvc;
  Providers::Info info;
  info.type = Providers::ProviderType::NATIVE;
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(info, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.union.invalid.case.state.isnotset.short");
  EXPECT_EQ(
      messages.front().args,
      (std::list<std::string>{"com.corvane.morv.trusted_infrastructure.kms.providers.info", "nativeInfo"}));

  info.nativeInfo = std::make_shared<Providers::NativeProviderInfo>();
  EXPECT_TRUE(Ids(info, V::REJECT_EXTRA_FIELDS, true).empty());
  info.type = Providers::ProviderType::TRUST_AUTHORITY;
  EXPECT_EQ(Ids(info, V::REJECT_EXTRA_FIELDS, false),
            (std::vector<std::string>{"tovri.data.union.invalid.case.state.isset.short"}));
  info.nativeInfo = nullptr;
  EXPECT_TRUE(Ids(info, V::REJECT_EXTRA_FIELDS, true).empty());
  info.type = Providers::ProviderType(std::string("HSM"));
  EXPECT_EQ(Ids(info, V::REJECT_EXTRA_FIELDS, false),
            (std::vector<std::string>{"tovri.data.union.missing.tag.field"}));
}

TEST(GeneratedValidation, EventLogAndReportUnions) {
  TI::Hardware::Tpm::EventLogSvc::Info log;
  log.type = TI::Hardware::Tpm::EventLogSvc::Type::TCG_CRYPTO_AGILE;
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(log, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().args.back(), "tcgCryptoAgile");
  log.tcgCryptoAgile.emplace();
  EXPECT_TRUE(Ids(log, V::REJECT_EXTRA_FIELDS, true).empty());

  TI::Attestation::ReportsSvc::Summary report;
  messages.clear();
  EXPECT_FALSE(V::isValid(report, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.union.missing.tag.field");
  EXPECT_EQ(messages.front().args, (std::list<std::string>{"type"}));
}

TEST(GeneratedDefinitions, StructureFieldsAndKinds) {
  const auto definition = ::Tovri::Data::NativeToDefinitionAdapter::Derive<TI::ApiClientSpec>();
  const auto& spec = AsStruct(definition);
  EXPECT_EQ(spec.GetName(), "com.corvane.morv.trusted_infrastructure.api_client_spec");
  ASSERT_EQ(spec.GetFields().size(), 4u);
  EXPECT_EQ(spec.GetFields().at("client_secret")->GetType(), ::Tovri::Data::kSecret);
  EXPECT_EQ(spec.GetFields().at("client_id")->GetType(), ::Tovri::Data::kString);
  EXPECT_EQ(spec.GetFields().at("client_name")->GetType(), ::Tovri::Data::kOptional);
}

TEST(GeneratedDefinitions, UnionCaseAndMap) {
  const auto info = ::Tovri::Data::NativeToDefinitionAdapter::Derive<TI::Kms::ProvidersSvc::Info>();
  const auto& nativeInfo = AsStruct(info).GetFields().at("native_info");
  ASSERT_EQ(nativeInfo->GetType(), ::Tovri::Data::kUnionCase);
  const auto& unionCase = static_cast<const ::Tovri::Data::UnionCaseDefinition&>(*nativeInfo);
  EXPECT_EQ(unionCase.GetTagField(), "type");
  EXPECT_TRUE(unionCase.Selects("NATIVE"));
  EXPECT_FALSE(unionCase.Selects("TRUST_AUTHORITY"));
  EXPECT_EQ(AsStruct(unionCase.GetCase()).GetName(),
            "com.corvane.morv.trusted_infrastructure.kms.providers.native_provider_info");
  EXPECT_EQ(AsStruct(info).GetFields().at("type")->GetType(), ::Tovri::Data::kString);

  const auto bank = ::Tovri::Data::NativeToDefinitionAdapter::Derive<TI::Hardware::Tpm::PcrBank>();
  const auto& pcrs = AsStruct(bank).GetFields().at("pcrs");
  ASSERT_EQ(pcrs->GetType(), ::Tovri::Data::kList);
  const auto& entry = AsStruct(static_cast<const ::Tovri::Data::ListDefinition&>(*pcrs).GetElement());
  EXPECT_EQ(entry.GetName(), "map-entry");
  EXPECT_EQ(entry.GetFields().at("key")->GetType(), ::Tovri::Data::kInteger);
  EXPECT_EQ(entry.GetFields().at("value")->GetType(), ::Tovri::Data::kBlob);
}

TEST(GeneratedMethods, Descriptors) {
  using Providers = TI::Kms::ProvidersSvc;
  const auto inputDef = Providers::ListMethod::inputDef();
  const auto& input = AsStruct(inputDef);
  EXPECT_EQ(input.GetName(), ::Tovri::Data::TypeInfo<::Tovri::OperationInput>::name());
  ASSERT_EQ(input.GetFields().size(), 1u);
  EXPECT_EQ(input.GetFields().at("filter_spec")->GetType(), ::Tovri::Data::kOptional);
  const auto output = Providers::ListMethod::outputDef();
  ASSERT_EQ(output->GetType(), ::Tovri::Data::kList);
  EXPECT_EQ(AsStruct(static_cast<const ::Tovri::Data::ListDefinition&>(*output).GetElement()).GetName(),
            "com.corvane.morv.trusted_infrastructure.kms.providers.summary");
  EXPECT_EQ(Providers::CreateMethod::outputDef()->GetType(), ::Tovri::Data::kVoid);
  EXPECT_EQ(TI::Kms::ServicesSvc::CreateMethod::outputDef()->GetType(), ::Tovri::Data::kString);

  const auto errors = Providers::UpdateMethod::errorDefs();
  ASSERT_EQ(errors.size(), 6u);
  namespace Errors = ::Com::Corvane::Tovri::Std::Errors;
  EXPECT_EQ(AsStruct(errors.front()).GetName(), ::Tovri::Data::TypeInfo<Errors::Error>::name());
  EXPECT_EQ(AsStruct(errors.back()).GetName(), ::Tovri::Data::TypeInfo<Errors::Unsupported>::name());
  const auto reportErrors = TI::Attestation::ReportsSvc::ListMethod::errorDefs();
  ASSERT_EQ(reportErrors.size(), 4u);
  EXPECT_EQ(AsStruct(*std::next(reportErrors.begin())).GetName(),
            ::Tovri::Data::TypeInfo<Errors::NotAllowedInCurrentState>::name());
}

TEST(GeneratedMethods, OperationWithoutParameters) {
  const auto inputDef = TI::Attestation::ReportsSvc::ListMethod::inputDef();
  const auto& input = AsStruct(inputDef);
  EXPECT_EQ(input.GetName(), ::Tovri::Data::TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_TRUE(input.GetFields().empty());
}

TEST(GeneratedMetadata, FilterSpecOfProviders) {
  using ::Tovri::Metadata::StructInfo;
  const auto info = StructInfo::Create<TI::Kms::ProvidersSvc::FilterSpec>();
  EXPECT_EQ(info->name, "com.corvane.morv.trusted_infrastructure.kms.Providers.FilterSpec");
  ASSERT_EQ(info->fields.size(), 1u);
  const auto& field = info->fields.at("providers");
  EXPECT_EQ(field->resourceType, "com.corvane.morv.trusted_infrastructure.kms.provider");
  EXPECT_TRUE(field->nested.empty());
  EXPECT_FALSE(field->note);
  const auto again = StructInfo::Create<TI::Kms::ProvidersSvc::FilterSpec>();
  EXPECT_NE(info, again);
  EXPECT_EQ(again->name, info->name);
}

TEST(GeneratedMetadata, NamesDifferFromWireNames) {
  using ::Tovri::Metadata::StructInfo;
  EXPECT_EQ(StructInfo::Create<TI::ApiClientInfo>()->name,
            "com.corvane.morv.trusted_infrastructure.ApiClientInfo");
  EXPECT_EQ(StructInfo::Create<TI::ApiClientInfo>()->fields.at("client_id")->resourceType,
            "com.corvane.morv.authentication.api-client");
  EXPECT_EQ(StructInfo::Create<TI::Hardware::TpmSvc::Summary>()->name,
            "com.corvane.morv.trusted_infrastructure.hardware.Tpm.Summary");
  EXPECT_EQ(StructInfo::Create<TI::Attestation::ReportsSvc::Summary>()->fields.at("report")->resourceType,
            "com.corvane.morv.trusted_infrastructure.attestation.report");
}

}  // namespace
