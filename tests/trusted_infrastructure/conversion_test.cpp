// Generated field lists drive both conversions: values carry every declared
// field under its wire name, and convert back to equal native objects.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <tovri/core/message_ids.hpp>

#include "package_support.hpp"

namespace {

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

template <class T>
T RoundTrip(const T& native) {
  return FromValue<T>(ToValue(native));
}

const CompoundValue& AsStruct(const ValuePtr& value) {
  EXPECT_EQ(value->GetType(), ::Tovri::Data::kStruct);
  return static_cast<const CompoundValue&>(*value);
}

ValuePtr Field(const ValuePtr& value, const std::string& name) { return AsStruct(value).FindField(name); }

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

TEST(GeneratedConversion, UnsetOptionalsAndUndeclaredFields) {
  TI::ApiClientInfo info;
  info.clientId = "client-7";
  const ValuePtr value = ToValue(info);
  EXPECT_EQ(AsStruct(value).GetName(), "com.corvane.morv.trusted_infrastructure.api_client_info");
  EXPECT_EQ(FieldNames(value), (std::vector<std::string>{"client_group", "client_id", "client_name"}));
  EXPECT_FALSE(AsOptional(Field(value, "client_name")).IsSet());
  EXPECT_EQ(Text(Field(value, "client_id")), "client-7");
  const auto back = FromValue<TI::ApiClientInfo>(value);
  EXPECT_EQ(back.clientId, "client-7");
  EXPECT_TRUE(!back.clientName && !back.clientGroup && !back.unknownFields);

  // A field the peer sent but the class does not declare is kept and sent on.
  auto received = StructValue::GetInstance("com.corvane.morv.trusted_infrastructure.api_client_info");
  received->SetField("client_id", ::Tovri::Data::StringValue::GetInstance("c"));
  received->SetField("x", ::Tovri::Data::StringValue::GetInstance("extra"));
  const auto withExtra = FromValue<TI::ApiClientInfo>(received);
  ASSERT_NE(withExtra.unknownFields, nullptr);
  const ValuePtr again = ToValue(withExtra);
  EXPECT_EQ(Text(Field(again, "x")), "extra");
  EXPECT_EQ(FieldNames(again), (std::vector<std::string>{"client_group", "client_id", "client_name", "x"}));
}

TEST(GeneratedConversion, EdgeValuesSurvive) {
  TI::ApiClientSpec spec;
  spec.clientSecret = ::Tovri::SecretString("s3cret");
  EXPECT_EQ(Field(ToValue(spec), "client_secret")->GetType(), ::Tovri::Data::kSecret);
  EXPECT_EQ(RoundTrip(spec).clientSecret.Reveal(), "s3cret");

  TI::NetworkAddress address;
  address.port = 0;  // zero is a port, not an unset one
  EXPECT_EQ(RoundTrip(address).port, boost::optional<long long>(0));
  address.port = boost::none;
  EXPECT_FALSE(RoundTrip(address).port);

  const ValuePtr chain = Field(ToValue(TI::X509CertChain()), "cert_chain");
  ASSERT_EQ(chain->GetType(), ::Tovri::Data::kList);
  EXPECT_TRUE(static_cast<const ListValue&>(*chain).GetElements().empty());

  // An empty event log is still a set log.
  using EventLog = TI::Hardware::Tpm::EventLogSvc;
  EventLog::Info log;
  log.type = EventLog::Type::TCG_CRYPTO_AGILE;
  log.tcgCryptoAgile.emplace();
  log.truncated = true;
  EXPECT_TRUE(AsOptional(Field(ToValue(log), "tcg_crypto_agile")).IsSet());
  const auto back = RoundTrip(log);
  ASSERT_TRUE(back.tcgCryptoAgile);
  EXPECT_TRUE(back.tcgCryptoAgile->empty() && back.truncated && back.banks.empty());
}

TEST(GeneratedConversion, PcrBankMapAndUnknownAlgorithmText) {
  using Tpm = TI::Hardware::Tpm::PcrBank;
  Tpm bank;
  bank.algorithm = TI::Hardware::Tpm::HashAlgorithm::SM3_256;
  bank.pcrs[7] = std::vector<unsigned char>(32, 0xab);
  bank.pcrs[0] = std::vector<unsigned char>(32, 0x01);
  const ValuePtr value = ToValue(bank);
  EXPECT_EQ(Text(Field(value, "algorithm")), "SM3_256");
  const auto& pcrs = static_cast<const ListValue&>(*Field(value, "pcrs"));
  EXPECT_EQ(pcrs.GetKind(), ListValue::kMapKind);
  ASSERT_EQ(pcrs.GetElements().size(), 2u);
  EXPECT_EQ(AsStruct(pcrs.GetElements().front()).GetName(), "map-entry");
  const auto back = FromValue<Tpm>(value);
  EXPECT_EQ(back.algorithm.value(), TI::Hardware::Tpm::HashAlgorithm::SM3_256);
  EXPECT_EQ(back.pcrs, bank.pcrs);

  auto received = StructValue::GetInstance("com.corvane.morv.trusted_infrastructure.hardware.tpm.pcr_bank");
  received->SetField("algorithm", ::Tovri::Data::StringValue::GetInstance("SHA3_256"));
  received->SetField("pcrs", ListValue::GetInstance(ListValue::kMapKind));
  const auto unknown = FromValue<Tpm>(received);
  EXPECT_EQ(unknown.algorithm.value(), TI::Hardware::Tpm::HashAlgorithm::_UNKNOWN);
  EXPECT_EQ(Text(Field(ToValue(unknown), "algorithm")), "SHA3_256");
}

TEST(GeneratedConversion, ProviderInfoUnion) {
  using Providers = TI::Kms::ProvidersSvc;
  Providers::Info info;
  info.type = Providers::ProviderType::NATIVE;
  auto native = std::make_shared<Providers::NativeProviderInfo>();
  native->keyId = "key-1";
  info.nativeInfo = native;
  const ValuePtr value = ToValue(info);
  EXPECT_EQ(Text(Field(value, "type")), "NATIVE");
  const auto& nativeInfo = AsOptional(Field(value, "native_info"));
  ASSERT_TRUE(nativeInfo.IsSet());
  EXPECT_EQ(Text(Field(nativeInfo.GetValue(), "key_id")), "key-1");
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
  const ValuePtr value = Field(ToValue(filter), "types");
  const auto& types = AsOptional(value);
  ASSERT_TRUE(types.IsSet());
  const auto& set = static_cast<const ListValue&>(*types.GetValue());
  EXPECT_EQ(set.GetKind(), ListValue::kSetKind);
  std::vector<std::string> texts;
  for (const auto& element : set.GetElements()) texts.push_back(Text(element));
  EXPECT_EQ(texts, (std::vector<std::string>{"NATIVE", "TRUST_AUTHORITY"}));
}

TEST(GeneratedConversion, InputsUseTheOperationInputName) {
  using Services = TI::Kms::ServicesSvc;
  auto spec = std::make_shared<Services::CreateSpec>();
  spec->address = std::make_shared<TI::NetworkAddress>();
  spec->trustedCA = std::make_shared<TI::X509CertChain>();
  spec->group = "g";
  Services::CreateMethod::Input input;
  input.spec = spec;
  const ValuePtr value = ToValue(input);
  EXPECT_EQ(AsStruct(value).GetName(), ::Tovri::Data::TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_EQ(FieldNames(value), (std::vector<std::string>{"spec"}));
  const auto back = FromValue<Services::CreateMethod::Input>(value);
  ASSERT_TRUE(back.spec);
  EXPECT_EQ(back.spec->group, "g");
  EXPECT_FALSE(back.spec->apiClient);
}

TEST(GeneratedConversion, NullRequiredStructureFails) {
  TI::Kms::ServicesSvc::Summary summary;
  std::list<::Tovri::BaseMessage> messages;
  ValuePtr out;
  const auto localizer = ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
  EXPECT_FALSE(::Tovri::Data::NativeToValueAdapter::Adapt(summary, out, messages, localizer));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, ::Tovri::MessageIds::kUnsetNonOptional);
  EXPECT_EQ(messages.front().args.front(), "com.corvane.morv.trusted_infrastructure.network_address");
}

}  // namespace
