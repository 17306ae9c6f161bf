#include <tovri/http/natural_json.hpp>

#include <tovri/http/lossless_json.hpp>

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

#include "support/test_support.hpp"

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
namespace Data = ::Tovri::Data;
using Data::ValuePtr;
using ::Tovri::Http::NaturalLimits;
using ::Tovri::Http::ReadNatural;
using ::Tovri::Http::WriteNatural;
using Providers = TI::Kms::ProvidersSvc;
using KmsServices = TI::Kms::ServicesSvc;
using AttestationServices = TI::Attestation::ServicesSvc;

template <class T>
ValuePtr ToValue(const T& native) {
  ValuePtr out;
  std::list<::Tovri::BaseMessage> messages;
  EXPECT_TRUE(Data::NativeToValueAdapter::Adapt(native, out, messages, ::Tovri::L10n::RequestLocalizer()));
  return out;
}

std::string FirstMessage(const std::list<::Tovri::BaseMessage>& messages) {
  return messages.empty() ? std::string("(no message)") : messages.front().defaultMessage;
}

// Reads `body` as the input of Method, converts it as the provider would
// (value to native) and back, and compares with what `expected` gives.
template <class Method>
void ExpectInput(const std::string& body, const typename Method::Input& expected) {
  SCOPED_TRACE(body);
  const auto read = ReadNatural(body, *Method::inputDef());
  ASSERT_TRUE(read.ok()) << FirstMessage(read.messages);
  typename Method::Input native;
  std::list<::Tovri::BaseMessage> messages;
  ASSERT_TRUE(Data::ValueToNativeAdapter::Adapt(read.value, native, messages)) << FirstMessage(messages);
  EXPECT_TRUE(Data::Equal(*ToValue(native), *ToValue(expected)));
}

template <class Svc>
std::shared_ptr<typename Svc::CreateSpec> AddressSpec(std::string host, boost::optional<long long> port) {
  auto spec = std::make_shared<typename Svc::CreateSpec>();
  auto address = std::make_shared<TI::NetworkAddress>();
  address->hostname = std::move(host);
  address->port = port;
  auto chain = std::make_shared<TI::X509CertChain>();
  chain->certChain = {"MIIB", "MIIC"};
  spec->address = address;
  spec->trustedCA = chain;
  spec->group = "blue";
  return spec;
}

TEST(NaturalRead, CreateOfEachServiceGivesTheNativeInput) {
  {
    Providers::CreateMethod::Input bare;
    auto spec = std::make_shared<Providers::CreateSpec>();
    spec->provider = "p1";
    bare.spec = spec;
    // An unset optional: absent or null.
    ExpectInput<Providers::CreateMethod>(R"({"spec": {"provider": "p1"}})", bare);
    ExpectInput<Providers::CreateMethod>(R"({"spec": {"provider": "p1", "native_spec": null}})", bare);

    auto native = std::make_shared<Providers::NativeProviderCreateSpec>();
    native->keyId = "k-7";
    native->keyDerivationKey = ::Tovri::SecretString("kdk-4711");
    auto full = std::make_shared<Providers::CreateSpec>(*spec);
    full->nativeSpec = native;
    Providers::CreateMethod::Input withSecret;
    withSecret.spec = full;
    ExpectInput<Providers::CreateMethod>(
        R"({"spec": {"provider": "p1", "native_spec": {"key_id": "k-7", "key_derivation_key": "kdk-4711"}}})",
        withSecret);
  }
  {
    KmsServices::CreateMethod::Input input;
    auto spec = AddressSpec<KmsServices>("kms.example", 5696);
    auto client = std::make_shared<TI::ApiClientSpec>();
    client->clientId = "c1";
    client->clientSecret = ::Tovri::SecretString("s3");
    spec->apiClient = client;
    input.spec = spec;
    ExpectInput<KmsServices::CreateMethod>(
        R"({"spec": {"address": {"hostname": "kms.example", "port": 5696},
                     "trusted_CA": {"cert_chain": ["MIIB", "MIIC"]}, "group": "blue",
                     "api_client": {"client_id": "c1", "client_secret": "s3", "client_name": null}}})",
        input);
  }
  {
    AttestationServices::CreateMethod::Input input;
    input.spec = AddressSpec<AttestationServices>("as.example", boost::none);
    ExpectInput<AttestationServices::CreateMethod>(
        R"({"spec": {"address": {"hostname": "as.example", "port": null},
                     "trusted_CA": {"cert_chain": ["MIIB", "MIIC"]}, "group": "blue"}})",
        input);
  }
}

TEST(NaturalRead, EnumerationTextsAndSetsFromArrays) {
  Providers::ListMethod::Input input;
  auto filter = std::make_shared<Providers::FilterSpec>();
  filter->types = std::set<Providers::ProviderType>{Providers::ProviderType::TRUST_AUTHORITY};
  filter->providers = std::set<std::string>{"a", "b"};
  input.filterSpec = filter;
  ExpectInput<Providers::ListMethod>(
      R"({"filter_spec": {"types": ["TRUST_AUTHORITY"], "providers": ["b", "a", "b"]}})", input);
  ExpectInput<Providers::ListMethod>("{}", Providers::ListMethod::Input());
}

// Every output shape written and read back gives the same tree.
TEST(NaturalRoundTrip, PackageOutputs) {
  auto bank = std::make_shared<TI::Hardware::Tpm::PcrBank>();
  bank->algorithm = TI::Hardware::Tpm::HashAlgorithm::SHA384;
  bank->pcrs = {{0, {0xaa}}, {7, {}}, {23, {0, 1, 2, 3, 0xff}}};
  TI::Hardware::TpmSvc::Info tpm;
  tpm.majorVersion = 2;
  tpm.manufacturer = std::string("IFX \"quoted\" \xc3\xa9");
  tpm.banks = {bank, bank};

  TI::Hardware::Tpm::EventLogSvc::Info log;
  log.type = TI::Hardware::Tpm::EventLogSvc::Type::TCG_CRYPTO_AGILE;
  log.tcgCryptoAgile = std::vector<unsigned char>{1, 2, 3, 4};
  log.banks = {bank};

  Providers::Info provider;
  provider.type = Providers::ProviderType::NATIVE;
  auto nativeInfo = std::make_shared<Providers::NativeProviderInfo>();
  nativeInfo->keyId = "k";
  provider.nativeInfo = nativeInfo;

  auto summary = std::make_shared<Providers::Summary>();
  summary->provider = "p";
  summary->health = Providers::Health::WARNING;
  auto detail = std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>();
  detail->id = "m.id";
  detail->args = {"1", ""};
  detail->localized = std::string("texte");
  summary->details = {detail};
  std::list<std::shared_ptr<const Providers::Summary>> summaries{summary, summary};

  auto jwt = std::make_shared<TI::Attestation::ReportsSvc::ReportingJwt>();
  jwt->jwt = "e30.e30.";
  auto report = std::make_shared<TI::Attestation::ReportsSvc::Summary>();
  report->type = TI::Attestation::ReportsSvc::ReportType::REPORTING_JWT;
  report->reportingJwt = jwt;
  std::list<std::shared_ptr<const TI::Attestation::ReportsSvc::Summary>> reports{report};

  KmsServices::Info kmsService;
  kmsService.address = AddressSpec<KmsServices>("kms", 1)->address;
  kmsService.trustedCA = std::make_shared<TI::X509CertChain>();
  auto clientInfo = std::make_shared<TI::ApiClientInfo>();
  clientInfo->clientId = "c";
  clientInfo->clientGroup = std::string("");
  kmsService.apiClient = clientInfo;

  auto key = std::make_shared<TI::Hardware::Tpm::EndorsementKeysSvc::Summary>();
  key->key = "ek";
  key->type = TI::Hardware::Tpm::EndorsementKeysSvc::Type::ECC_NIST_P_256;
  std::list<std::shared_ptr<const TI::Hardware::Tpm::EndorsementKeysSvc::Summary>> keys{key};

  const std::pair<ValuePtr, Data::DefinitionPtr> cases[] = {
      {ToValue(kmsService), KmsServices::GetMethod::outputDef()},
      {ToValue(keys), TI::Hardware::Tpm::EndorsementKeysSvc::ListMethod::outputDef()},
      {ToValue(tpm), TI::Hardware::TpmSvc::GetMethod::outputDef()},
      {ToValue(log), TI::Hardware::Tpm::EventLogSvc::GetMethod::outputDef()},
      {ToValue(provider), Providers::GetMethod::outputDef()},
      {ToValue(summaries), Providers::ListMethod::outputDef()},
      {ToValue(reports), TI::Attestation::ReportsSvc::ListMethod::outputDef()},
      {ToValue(std::string("new-id")), KmsServices::CreateMethod::outputDef()},
      {Data::VoidValue::GetInstance(), Providers::CreateMethod::outputDef()},
  };
  for (const auto& c : cases) {
    const auto written = WriteNatural(c.first, *c.second);
    ASSERT_TRUE(written.ok()) << FirstMessage(written.messages);
    const auto read = ReadNatural(written.text, *c.second);
    ASSERT_TRUE(read.ok()) << written.text << ": " << FirstMessage(read.messages);
    EXPECT_TRUE(Data::Equal(*read.value, *c.first)) << written.text;
  }
}

TEST(NaturalWrite, MapsAreObjectsBlobsBase64SecretsHidden) {
  TI::Hardware::Tpm::PcrBank bank;
  bank.algorithm = TI::Hardware::Tpm::HashAlgorithm::SHA256;
  bank.pcrs = {{0, {0xaa}}, {10, {0xfb, 0xff}}};
  const auto bankDef = Data::NativeToDefinitionAdapter::Derive<TI::Hardware::Tpm::PcrBank>();
  EXPECT_EQ(WriteNatural(ToValue(bank), *bankDef).text,
            R"({"algorithm":"SHA256","pcrs":{"0":"qg==","10":"+/8="}})");

  // The array-of-entries form reads to the same map.
  const auto read = ReadNatural(R"({"algorithm": "SHA256", "pcrs": [{"key": 10, "value": "+/8="},
                                   {"key": 0, "value": "qg=="}]})",
                                *bankDef);
  ASSERT_TRUE(read.ok()) << FirstMessage(read.messages);
  TI::Hardware::Tpm::PcrBank back;
  std::list<::Tovri::BaseMessage> messages;
  ASSERT_TRUE(Data::ValueToNativeAdapter::Adapt(read.value, back, messages));
  EXPECT_EQ(back.pcrs, bank.pcrs);

  TI::ApiClientSpec client;
  client.clientId = "c";
  client.clientSecret = ::Tovri::SecretString("hunter2");
  const auto clientDef = Data::NativeToDefinitionAdapter::Derive<TI::ApiClientSpec>();
  EXPECT_EQ(WriteNatural(ToValue(client), *clientDef).text, R"({"client_id":"c","client_secret":null})");
  ::Tovri::Http::NaturalWriteOptions reveal;
  reveal.revealSecrets = true;
  EXPECT_EQ(WriteNatural(ToValue(client), *clientDef, reveal).text,
            R"({"client_id":"c","client_secret":"hunter2"})");
}

TEST(NaturalWrite, ErrorsAndValuesOffTheirDefinition) {
  const auto error =
      Data::ErrorValue::Create("com.corvane.tovri.std.errors.not_found",
                               std::list<::Tovri::BaseMessage>{{"x.gone", "Gone: \"p\".", {"p"}}});
  EXPECT_EQ(::Tovri::Http::WriteNaturalError(*error),
            R"({"error":"com.corvane.tovri.std.errors.not_found","messages":)"
            R"([{"args":["p"],"default_message":"Gone: \"p\".","id":"x.gone"}]})");
  const auto refused = WriteNatural(Data::IntegerValue::GetInstance(1), *Providers::GetMethod::outputDef());
  EXPECT_FALSE(refused.ok());
  EXPECT_TRUE(refused.text.empty());
}

TEST(NaturalRead, DoublesIncludingThoseWithoutALiteral) {
  const auto def = Data::ListDefinition::GetInstance(Data::DataDefinition::Create<double>());
  const auto read =
      ReadNatural(R"([0.1, -2, 18446744073709551615, 1e300, "NaN", "Infinity", "-Infinity", "-0"])", *def);
  ASSERT_TRUE(read.ok()) << FirstMessage(read.messages);
  const auto written = WriteNatural(read.value, *def);
  EXPECT_EQ(written.text, R"([1E-1,-2E0,1.8446744073709552E19,1E300,"NaN","Infinity","-Infinity","-0"])");
  // The lossless shape spells them alike.
  const auto& list = static_cast<const Data::ListValue&>(*read.value);
  std::string lossless;
  for (const auto& element : list.GetElements()) lossless += ::Tovri::Http::ToLosslessJson(*element);
  EXPECT_EQ(lossless, R"(["double",1E-1]["double",-2E0]["double",1.8446744073709552E19]["double",1E300])"
                      R"(["double","NaN"]["double","Infinity"]["double","-Infinity"]["double","-0"])");
  const auto again = ReadNatural(written.text, *def);
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(Data::Equal(*again.value, *read.value));
}

TEST(NaturalRead, RefusalsNameThePath) {
  const auto create = KmsServices::CreateMethod::inputDef();
  const auto providerCreate = Providers::CreateMethod::inputDef();
  const auto tpmInfo = TI::Hardware::TpmSvc::GetMethod::outputDef();
  const auto providerInfo = Providers::GetMethod::outputDef();
  const std::string chain = R"("trusted_CA": {"cert_chain": []}, "group": "g")";
  struct Case {
    std::string body;
    Data::DefinitionPtr def;
    std::string message;
  };
  const Case cases[] = {
      {R"({"spec": {"address": {"hostname": "h", "port": "443"}, )" + chain + "}}", create,
       "$.spec.address.port: expected an integer, got a string."},
      {R"({"spec": {"address": {"hostname": "h", "port": 4.5}, )" + chain + "}}", create,
       "$.spec.address.port: expected an integer, got a number with a fraction or exponent."},
      {R"({"spec": {"address": {"hostname": "h", "port": 9223372036854775808}, )" + chain + "}}", create,
       "$.spec.address.port: the integer is outside the 64-bit range."},
      {R"({"spec": {"address": {"hostname": "h"}, "trusted_CA": {"cert_chain": ["a", 1]}, "group": "g"}})",
       create, "$.spec.trusted_CA.cert_chain[1]: expected a string, got an integer."},
      {R"({"spec": {"address": {"hostname": "h"}, )" + chain + R"(, "colour": "red"}})", create,
       "$.spec.colour: structure com.corvane.morv.trusted_infrastructure.kms.services.create_spec has no "
       "such field."},
      {R"({"spec": {"address": {}, )" + chain + "}}", create,
       "$.spec.address: the required field \"hostname\" is missing."},
      {R"({"spec": {"provider": null}})", providerCreate, "$.spec.provider: expected a string, got null."},
      {R"({"spec": []})", providerCreate, "$.spec: expected an object, got an array."},
      {R"({"major_version": 2, "minor_version": 0, "active": true,
           "banks": [{"algorithm": "SHA256", "pcrs": {"0": "qg="}}]})",
       tpmInfo, R"($.banks[0].pcrs["0"]: expected padded standard base64)"},
      {R"({"major_version": 2, "minor_version": 0, "active": true,
           "banks": [{"algorithm": "SHA256", "pcrs": {"0": "qh=="}}]})",
       tpmInfo, R"($.banks[0].pcrs["0"]: expected padded standard base64)"},
      {R"({"major_version": 2, "minor_version": 0, "active": true,
           "banks": [{"algorithm": "SHA256", "pcrs": {"x1": "qg=="}}]})",
       tpmInfo, R"($.banks[0].pcrs.x1: the key is not a decimal integer)"},
      {R"({"major_version": 2, "minor_version": 0, "active": true, "banks": [{"algorithm": "SHA256", "pcrs": 3}]})",
       tpmInfo, "$.banks[0].pcrs: expected an object or an array, got an integer."},
      // Union cases are checked once the value is built.
      {R"({"type": "TRUST_AUTHORITY", "native_info": {"key_id": "k"}})", providerInfo,
       "At value.native_info: case field native_info is set, but tag field type holds \"TRUST_AUTHORITY\""},
      {R"({"spec": )", providerCreate, "$: the body is not JSON"},
      {R"({"spec": {"provider": "p"}} x)", providerCreate, "$: the body is not JSON"},
  };
  for (const Case& c : cases) {
    const auto read = ReadNatural(c.body, *c.def);
    EXPECT_FALSE(read.ok()) << c.body;
    EXPECT_EQ(FirstMessage(read.messages).rfind(c.message, 0), 0u) << FirstMessage(read.messages);
  }
}

TEST(NaturalRead, LimitsRefuseBeforeTheWork) {
  const auto def = Data::ListDefinition::GetInstance(Data::DataDefinition::Create<long long>());
  NaturalLimits limits;
  limits.maxBytes = 16;
  EXPECT_EQ(FirstMessage(ReadNatural("[1, 2, 3, 4, 5, 6, 7]", *def, limits).messages),
            "$: the body has 21 bytes, more than the limit of 16.");
  limits = NaturalLimits();
  limits.maxElements = 4;
  EXPECT_EQ(FirstMessage(ReadNatural("[1, 2, 3]", *def, limits).messages).find("more than"),
            std::string::npos);
  EXPECT_EQ(FirstMessage(ReadNatural("[1, 2, 3, 4]", *def, limits).messages),
            "$[3]: the body holds more than 4 values.");

  const std::size_t depth = 100000;
  const std::string deep = std::string(depth, '[') + std::string(depth, ']');
  const auto read = ReadNatural(deep, *def);
  EXPECT_FALSE(read.ok());
  EXPECT_EQ(read.messages.front().id, "tovri.http.natural.too.deep");
}

// node { next: optional<node> }, the shape of a self-referring structure,
// nested `depth` levels: as text (unset optional fields are written absent,
// so the innermost node is {}) and as a value.
struct Chain {
  Data::DefinitionPtr def;
  std::string text;
  ValuePtr value;
};
Chain MakeChain(std::size_t depth) {
  auto ref = Data::StructRefDefinition::GetInstance("node");
  auto node =
      Data::StructDefinition::GetInstance("node", {{"next", Data::OptionalDefinition::GetInstance(ref)}});
  ref->Bind(node);
  Chain chain{node, {}, nullptr};
  for (std::size_t i = 1; i < depth; ++i) chain.text += "{\"next\":";
  chain.text += "{}";
  chain.text.append(depth - 1, '}');
  auto inner = Data::StructValue::GetInstance("node");
  inner->SetField("next", Data::OptionalValue::GetInstance());
  ValuePtr value = inner;
  for (std::size_t i = 1; i < depth; ++i) {
    auto outer = Data::StructValue::GetInstance("node");
    outer->SetField("next", Data::OptionalValue::GetInstance(value));
    value = outer;
  }
  chain.value = value;
  return chain;
}

TEST(NaturalRoundTrip, DeepChainsWithoutRecursion) {
  // 1 MiB of stack: a walk that recursed per level would overflow it long
  // before 100,000 levels.
  Dral::TestSupport::RunOnStack(1024 * 1024, [] {
    // The writer at any depth; the reader refuses 100,000 levels by the limit.
    const Chain deep = MakeChain(100000);
    EXPECT_EQ(WriteNatural(deep.value, *deep.def).text, deep.text);
    NaturalLimits limits;
    limits.maxBytes = deep.text.size();
    limits.maxDepth = 1000000;
    const auto refused = ReadNatural(deep.text, *deep.def, limits);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.messages.front().id, "tovri.http.natural.too.deep");

    // Up to the ceiling, read and written back.
    const Chain ceiling = MakeChain(NaturalLimits::kDepthCeiling);
    const auto read = ReadNatural(ceiling.text, *ceiling.def, limits);
    ASSERT_TRUE(read.ok()) << FirstMessage(read.messages);
    EXPECT_TRUE(Data::Equal(*read.value, *ceiling.value));
  });
}

}  // namespace
