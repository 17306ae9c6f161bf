// Generated field lists drive both conversions: values carry every declared
// field under its wire name, and convert back to equal native objects.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
using ::Tovri::Data::CompoundValue;
using ::Tovri::Data::ListValue;
using ::Tovri::Data::OptionalValue;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;

template <class T>
ValuePtr ToValue(const T& native) {
  ValuePtr out;
  std::list<::Tovri::BaseMessage> messages;
  const auto localizer = ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
  EXPECT_TRUE(::Tovri::Data::NativeToValueAdapter::Adapt(native, out, messages, localizer));
  EXPECT_TRUE(messages.empty());
  return out;
}

template <class T>
T FromValue(const ValuePtr& value) {
  T out;
  std::list<::Tovri::BaseMessage> messages;
  EXPECT_TRUE(::Tovri::Data::ValueToNativeAdapter::Adapt(value, out, messages));
  EXPECT_TRUE(messages.empty());
  return out;
}

const CompoundValue& AsStruct(const ValuePtr& value) {
  EXPECT_EQ(value->GetType(), ::Tovri::Data::kStruct);
  return static_cast<const CompoundValue&>(*value);
}

std::vector<std::string> FieldNames(const ValuePtr& value) {
  std::vector<std::string> names;
  for (const auto& field : AsStruct(value).GetFields()) names.push_back(field.first);
  return names;
}

const OptionalValue& AsOptional(const ValuePtr& value) {
  EXPECT_EQ(value->GetType(), ::Tovri::Data::kOptional);
  return static_cast<const OptionalValue&>(*value);
}

std::string Text(const ValuePtr& value) {
  std::string out;
  std::list<::Tovri::BaseMessage> messages;
  EXPECT_TRUE(::Tovri::Data::DataValue::Value(*value, out, messages));
  return out;
}

TEST(GeneratedConversion, ApiClientInfoWithOnlyItsIdentifier) {
  TI::ApiClientInfo info;
  info.clientId = "client-7";
  const ValuePtr value = ToValue(info);
  EXPECT_EQ(AsStruct(value).GetName(), "com.corvane.morv.trusted_infrastructure.api_client_info");
  EXPECT_EQ(FieldNames(value), (std::vector<std::string>{"client_group", "client_id", "client_name"}));
  EXPECT_FALSE(AsOptional(AsStruct(value).FindField("client_name")).IsSet());
  EXPECT_EQ(Text(AsStruct(value).FindField("client_id")), "client-7");

  const auto back = FromValue<TI::ApiClientInfo>(value);
  EXPECT_EQ(back.clientId, "client-7");
  EXPECT_FALSE(back.clientName);
  EXPECT_FALSE(back.clientGroup);
  EXPECT_EQ(back.unknownFields, nullptr);
}

TEST(GeneratedConversion, SecretTravelsAsSecret) {
  TI::ApiClientSpec spec;
  spec.clientId = "c";
  spec.clientSecret = ::Tovri::SecretString("s3cret");
  const ValuePtr value = ToValue(spec);
  EXPECT_EQ(AsStruct(value).FindField("client_secret")->GetType(), ::Tovri::Data::kSecret);
  EXPECT_EQ(FromValue<TI::ApiClientSpec>(value).clientSecret.Reveal(), "s3cret");
}

TEST(GeneratedConversion, PortZeroStaysSet) {
  TI::NetworkAddress address;
  address.hostname = "kms.example";
  address.port = 0;
  const auto back = FromValue<TI::NetworkAddress>(ToValue(address));
  ASSERT_TRUE(back.port);
  EXPECT_EQ(*back.port, 0);
  TI::NetworkAddress noPort;
  noPort.hostname = "kms.example";
  EXPECT_FALSE(FromValue<TI::NetworkAddress>(ToValue(noPort)).port);
}

TEST(GeneratedConversion, EmptyCertChainIsAnEmptyList) {
  const ValuePtr value = ToValue(TI::X509CertChain());
  const ValuePtr chain = AsStruct(value).FindField("cert_chain");
  ASSERT_EQ(chain->GetType(), ::Tovri::Data::kList);
  EXPECT_TRUE(static_cast<const ListValue&>(*chain).GetElements().empty());
}

TEST(GeneratedConversion, UndeclaredFieldIsKeptAndWrittenBack) {
  auto value = StructValue::GetInstance("com.corvane.morv.trusted_infrastructure.api_client_info");
  value->SetField("client_id", ::Tovri::Data::StringValue::GetInstance("c"));
  value->SetField("x", ::Tovri::Data::StringValue::GetInstance("extra"));
  const auto info = FromValue<TI::ApiClientInfo>(value);
  ASSERT_NE(info.unknownFields, nullptr);
  EXPECT_EQ(info.unknownFields->GetFields().count("x"), 1u);
  const ValuePtr again = ToValue(info);
  EXPECT_EQ(Text(AsStruct(again).FindField("x")), "extra");
  EXPECT_EQ(FieldNames(again), (std::vector<std::string>{"client_group", "client_id", "client_name", "x"}));
}

TEST(GeneratedConversion, PcrBankMap) {
  TI::Hardware::Tpm::PcrBank bank;
  bank.algorithm = TI::Hardware::Tpm::HashAlgorithm::SM3_256;
  bank.pcrs[7] = std::vector<unsigned char>(32, 0xab);
  bank.pcrs[0] = std::vector<unsigned char>(32, 0x01);
  const ValuePtr value = ToValue(bank);
  EXPECT_EQ(Text(AsStruct(value).FindField("algorithm")), "SM3_256");
  const auto& pcrs = static_cast<const ListValue&>(*AsStruct(value).FindField("pcrs"));
  EXPECT_EQ(pcrs.GetKind(), ListValue::kMapKind);
  ASSERT_EQ(pcrs.GetElements().size(), 2u);
  EXPECT_EQ(AsStruct(pcrs.GetElements().front()).GetName(), "map-entry");

  const auto back = FromValue<TI::Hardware::Tpm::PcrBank>(value);
  EXPECT_EQ(back.algorithm.value(), TI::Hardware::Tpm::HashAlgorithm::SM3_256);
  EXPECT_EQ(back.pcrs, bank.pcrs);
}

TEST(GeneratedConversion, UnknownAlgorithmTextSurvives) {
  auto value = StructValue::GetInstance("com.corvane.morv.trusted_infrastructure.hardware.tpm.pcr_bank");
  value->SetField("algorithm", ::Tovri::Data::StringValue::GetInstance("SHA3_256"));
  value->SetField("pcrs", ListValue::GetInstance(ListValue::kMapKind));
  const auto bank = FromValue<TI::Hardware::Tpm::PcrBank>(value);
  EXPECT_EQ(bank.algorithm.value(), TI::Hardware::Tpm::HashAlgorithm::_UNKNOWN);
  EXPECT_EQ(Text(AsStruct(ToValue(bank)).FindField("algorithm")), "SHA3_256");
}

TEST(GeneratedConversion, ProviderInfoUnion) {
  using Providers = TI::Kms::ProvidersSvc;
  Providers::Info info;
  info.type = Providers::ProviderType::NATIVE;
  auto native = std::make_shared<Providers::NativeProviderInfo>();
  native->keyId = "key-1";
  info.nativeInfo = native;
  const ValuePtr value = ToValue(info);
  EXPECT_EQ(AsStruct(value).GetName(), "com.corvane.morv.trusted_infrastructure.kms.providers.info");
  EXPECT_EQ(Text(AsStruct(value).FindField("type")), "NATIVE");
  const auto& nativeInfo = AsOptional(AsStruct(value).FindField("native_info"));
  ASSERT_TRUE(nativeInfo.IsSet());
  EXPECT_EQ(Text(AsStruct(nativeInfo.GetValue()).FindField("key_id")), "key-1");

  const auto back = FromValue<Providers::Info>(value);
  EXPECT_EQ(back.type.value(), Providers::ProviderType::NATIVE);
  ASSERT_TRUE(back.nativeInfo);
  EXPECT_EQ(back.nativeInfo->keyId, "key-1");
}

TEST(GeneratedConversion, ProviderTypesSetInConstantOrder) {
  using Providers = TI::Kms::ProvidersSvc;
  Providers::FilterSpec filter;
  filter.types.emplace();
  filter.types->insert(Providers::ProviderType::TRUST_AUTHORITY);
  filter.types->insert(Providers::ProviderType::NATIVE);
  const ValuePtr value = ToValue(filter);
  const auto& types = AsOptional(AsStruct(value).FindField("types"));
  ASSERT_TRUE(types.IsSet());
  const auto& set = static_cast<const ListValue&>(*types.GetValue());
  EXPECT_EQ(set.GetKind(), ListValue::kSetKind);
  ASSERT_EQ(set.GetElements().size(), 2u);
  EXPECT_EQ(Text(set.GetElements()[0]), "NATIVE");
  EXPECT_EQ(Text(set.GetElements()[1]), "TRUST_AUTHORITY");
}

TEST(GeneratedConversion, SummaryWithoutOptionals) {
  TI::Kms::ProvidersSvc::Summary summary;
  summary.provider = "p";
  summary.available = true;
  const ValuePtr value = ToValue(summary);
  EXPECT_EQ(FieldNames(value),
            (std::vector<std::string>{"available", "details", "health", "provider", "type"}));
  EXPECT_FALSE(AsOptional(AsStruct(value).FindField("health")).IsSet());
  const auto back = FromValue<TI::Kms::ProvidersSvc::Summary>(value);
  EXPECT_TRUE(back.available);
  EXPECT_FALSE(back.type);
}

TEST(GeneratedConversion, EventLogWithEmptyLogIsSet) {
  using EventLog = TI::Hardware::Tpm::EventLogSvc;
  EventLog::Info info;
  info.type = EventLog::Type::TCG_CRYPTO_AGILE;
  info.tcgCryptoAgile.emplace();
  info.truncated = true;
  const ValuePtr value = ToValue(info);
  EXPECT_TRUE(AsOptional(AsStruct(value).FindField("tcg_crypto_agile")).IsSet());
  const auto back = FromValue<EventLog::Info>(value);
  ASSERT_TRUE(back.tcgCryptoAgile);
  EXPECT_TRUE(back.tcgCryptoAgile->empty());
  EXPECT_TRUE(back.truncated);
  EXPECT_TRUE(back.banks.empty());
}

TEST(GeneratedConversion, InputsUseTheOperationInputName) {
  using Services = TI::Kms::ServicesSvc;
  Services::CreateMethod::Input input;
  auto spec = std::make_shared<Services::CreateSpec>();
  spec->address = std::make_shared<TI::NetworkAddress>();
  spec->trustedCA = std::make_shared<TI::X509CertChain>();
  spec->group = "g";
  input.spec = spec;
  const ValuePtr value = ToValue(input);
  EXPECT_EQ(AsStruct(value).GetName(), ::Tovri::Data::TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_EQ(FieldNames(value), (std::vector<std::string>{"spec"}));
  const ValuePtr specValue = AsStruct(value).FindField("spec");
  EXPECT_EQ(FieldNames(specValue),
            (std::vector<std::string>{"address", "api_client", "group", "trusted_CA"}));
  const auto back = FromValue<Services::CreateMethod::Input>(value);
  ASSERT_TRUE(back.spec);
  EXPECT_EQ(back.spec->group, "g");
  EXPECT_FALSE(back.spec->apiClient);
}

TEST(GeneratedConversion, NullRequiredStructureFails) {
  TI::Kms::ServicesSvc::Summary summary;
  summary.service = "s";
  std::list<::Tovri::BaseMessage> messages;
  ValuePtr out;
  const auto localizer = ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
  EXPECT_FALSE(::Tovri::Data::NativeToValueAdapter::Adapt(summary, out, messages, localizer));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.unset.non.optional.field");
  EXPECT_EQ(messages.front().args.front(), "com.corvane.morv.trusted_infrastructure.network_address");
}

TEST(GeneratedConversion, ReportSummaryWithToken) {
  using Reports = TI::Attestation::ReportsSvc;
  Reports::Summary summary;
  summary.report = "r";
  summary.type = Reports::ReportType::REPORTING_JWT;
  auto jwt = std::make_shared<Reports::ReportingJwt>();
  jwt->service = "svc";
  jwt->group = "grp";
  jwt->jwt = "a.b.c";
  summary.reportingJwt = jwt;
  const auto back = FromValue<Reports::Summary>(ToValue(summary));
  ASSERT_TRUE(back.reportingJwt);
  EXPECT_EQ(back.reportingJwt->jwt, "a.b.c");
  EXPECT_EQ(back.type.value(), Reports::ReportType::REPORTING_JWT);
}

}  // namespace
