// The companions generated beside the package classes: validators with their
// descents and union rules, data definitions and method descriptors.
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/native_to_definition.hpp>
#include <dral/runtime/validator.hpp>
#include <tovri/core/message_ids.hpp>

#include "package_support.hpp"

namespace {

namespace V = ::Tovri::Data::Validator;
using ::Tovri::BaseMessage;
using ::Tovri::Data::DataDefinition;
using ::Tovri::Data::StructDefinition;

const std::string kRoot = "::Com::Corvane::Morv::TrustedInfrastructure";
const std::string kExtra = ::Tovri::MessageIds::kFieldExtra;
const std::string kInvalidInput = ::Tovri::MessageIds::kInvalidInput;

template <class T>
std::vector<std::string> Ids(const T& value, V::Policy policy, bool expected) {
  std::list<BaseMessage> messages;
  EXPECT_EQ(V::isValid(value, policy, messages), expected);
  std::vector<std::string> ids;
  for (const auto& m : messages) ids.push_back(m.id);
  return ids;
}

const StructDefinition& AsStruct(const std::shared_ptr<const DataDefinition>& definition) {
  EXPECT_EQ(definition->GetType(), ::Tovri::Data::kStruct);
  return static_cast<const StructDefinition&>(*definition);
}

TEST(GeneratedValidation, UndeclaredFieldsDependOnPolicy) {
  const auto info = WithExtraField(std::make_shared<TI::ApiClientInfo>());
  EXPECT_EQ(Ids(*info, V::REJECT_EXTRA_FIELDS, false), (std::vector<std::string>{kExtra}));
  EXPECT_TRUE(Ids(*info, V::ALLOW_EXTRA_FIELDS, true).empty());
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

TEST(GeneratedValidation, CreateInputReportsTheOperation) {
  TI::Attestation::ServicesSvc::CreateMethod::Input input;
  std::list<BaseMessage> messages;
  EXPECT_FALSE(V::isValid(input, V::REJECT_EXTRA_FIELDS, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, kInvalidInput);
  EXPECT_EQ(messages.front().args.front(), kRoot + "::Attestation::ServicesSvc::Create");

  input.spec = WithExtraField(ServiceSpec<TI::Attestation::ServicesSvc>());
  messages.clear();
  EXPECT_FALSE(
      V::isValid(input, V::ALLOW_EXTRA_FIELDS, messages));  // the CreateSpec is checked strictly anyway
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.front().args.front(), kRoot + "::Attestation::ServicesSvc::CreateSpec");
  EXPECT_EQ(messages.back().id, kInvalidInput);
}

TEST(GeneratedValidation, ListInputWithOrWithoutFilter) {
  TI::Hardware::TpmSvc::ListMethod::Input input;
  EXPECT_TRUE(Ids(input, V::REJECT_EXTRA_FIELDS, true).empty());
  input.filter = std::make_shared<TI::Hardware::TpmSvc::FilterSpec>();
  EXPECT_TRUE(Ids(input, V::REJECT_EXTRA_FIELDS, true).empty());
  input.filter = WithExtraField(std::make_shared<TI::Hardware::TpmSvc::FilterSpec>());
  EXPECT_EQ(Ids(input, V::REJECT_EXTRA_FIELDS, false), (std::vector<std::string>{kExtra, kInvalidInput}));
}

using Validate = std::function<bool(const std::string& tag, bool set, std::list<BaseMessage>&)>;

template <class T, class SetCase>
Validate UnionValidator(SetCase setCase) {
  return [=](const std::string& tag, bool set, std::list<BaseMessage>& messages) {
    T object;
    object.type = std::decay_t<decltype(object.type)>(tag);
    if (set) setCase(object);
    return V::isValid(object, V::REJECT_EXTRA_FIELDS, messages);
  };
}

// Every row of the three union tables: the case field must be set exactly for
// the tags that select it; an unknown tag with no case set names the tag field.
TEST(GeneratedValidation, EveryRowOfTheUnionTables) {
  using Providers = TI::Kms::ProvidersSvc;
  using Reports = TI::Attestation::ReportsSvc;
  const std::string isSet = ::Tovri::MessageIds::kUnionCaseSetShort;
  const std::string notSet = ::Tovri::MessageIds::kUnionCaseNotSetShort;
  const std::string noTag = ::Tovri::MessageIds::kUnionMissingTag;
  const std::string ti = "com.corvane.morv.trusted_infrastructure.";
  struct Row {
    std::string tag;
    bool set;
    std::string id;  // empty: valid
  };
  struct Union {
    std::list<std::string> where;
    Validate validate;
    std::vector<Row> rows;
  };
  const std::vector<Union> unions = {
      {{ti + "kms.providers.info", "nativeInfo"},
       UnionValidator<Providers::Info>(
           [](auto& o) { o.nativeInfo = std::make_shared<Providers::NativeProviderInfo>(); }),
       {{"NATIVE", true, ""},
        {"NATIVE", false, notSet},
        {"TRUST_AUTHORITY", true, isSet},
        {"TRUST_AUTHORITY", false, ""},
        {"HSM", true, isSet},
        {"HSM", false, noTag}}},
      {{ti + "hardware.tpm.event_log.info", "tcgCryptoAgile"},
       UnionValidator<TI::Hardware::Tpm::EventLogSvc::Info>([](auto& o) { o.tcgCryptoAgile.emplace(); }),
       {{"TCG_CRYPTO_AGILE", true, ""},
        {"TCG_CRYPTO_AGILE", false, notSet},
        {"LEGACY", true, isSet},
        {"LEGACY", false, noTag}}},
      {{ti + "attestation.reports.summary", "reportingJwt"},
       UnionValidator<Reports::Summary>(
           [](auto& o) { o.reportingJwt = std::make_shared<Reports::ReportingJwt>(); }),
       {{"REPORTING_JWT", true, ""},
        {"REPORTING_JWT", false, notSet},
        {"QUOTE", true, isSet},
        {"QUOTE", false, noTag}}},
  };
  for (const auto& u : unions) {
    for (const auto& row : u.rows) {
      SCOPED_TRACE(u.where.front() + " " + row.tag + (row.set ? " set" : " unset"));
      std::list<BaseMessage> messages;
      EXPECT_EQ(u.validate(row.tag, row.set, messages), row.id.empty());
      std::vector<std::string> ids;
      for (const auto& m : messages) ids.push_back(m.id);
      EXPECT_EQ(ids, row.id.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.id});
      if (!messages.empty()) {
        EXPECT_EQ(messages.front().args, row.id == noTag ? std::list<std::string>{"type"} : u.where);
      }
    }
  }
}

std::map<std::string, int> Kinds(const StructDefinition& definition) {
  std::map<std::string, int> kinds;
  for (const auto& field : definition.GetFields()) kinds[field.first] = field.second->GetType();
  return kinds;
}

TEST(GeneratedDefinitions, FieldKindsUnionCaseAndMap) {
  namespace D = ::Tovri::Data;
  const auto spec = D::NativeToDefinitionAdapter::Derive<TI::ApiClientSpec>();
  EXPECT_EQ(AsStruct(spec).GetName(), "com.corvane.morv.trusted_infrastructure.api_client_spec");
  EXPECT_EQ(Kinds(AsStruct(spec)), (std::map<std::string, int>{{"client_group", D::kOptional},
                                                               {"client_id", D::kString},
                                                               {"client_name", D::kOptional},
                                                               {"client_secret", D::kSecret}}));

  const auto info = D::NativeToDefinitionAdapter::Derive<TI::Kms::ProvidersSvc::Info>();
  EXPECT_EQ(Kinds(AsStruct(info)),
            (std::map<std::string, int>{{"native_info", D::kUnionCase}, {"type", D::kString}}));
  const auto& unionCase =
      static_cast<const D::UnionCaseDefinition&>(*AsStruct(info).GetFields().at("native_info"));
  EXPECT_EQ(unionCase.GetTagField(), "type");
  EXPECT_TRUE(unionCase.Selects("NATIVE"));
  EXPECT_FALSE(unionCase.Selects("TRUST_AUTHORITY"));
  EXPECT_EQ(AsStruct(unionCase.GetCase()).GetName(),
            "com.corvane.morv.trusted_infrastructure.kms.providers.native_provider_info");

  const auto bank = D::NativeToDefinitionAdapter::Derive<TI::Hardware::Tpm::PcrBank>();
  const auto& pcrs = AsStruct(bank).GetFields().at("pcrs");
  ASSERT_EQ(pcrs->GetType(), D::kList);
  const auto& entry = AsStruct(static_cast<const D::ListDefinition&>(*pcrs).GetElement());
  EXPECT_EQ(entry.GetName(), "map-entry");
  EXPECT_EQ(Kinds(entry), (std::map<std::string, int>{{"key", D::kInteger}, {"value", D::kBlob}}));
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
