// The generated native classes: member types and order, enumeration and
// union tables, type names and service constants.
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
using ::Tovri::Data::TypeInfo;

template <class T>
std::vector<std::string> Table() {
  std::vector<std::string> out;
  for (const char* const* v = T::Strings::values; *v != nullptr; ++v) out.emplace_back(*v);
  return out;
}

template <class T, class = void>
struct HasConstants : std::false_type {};
template <class T>
struct HasConstants<T, std::void_t<decltype(T::Constants::RESOURCE_TYPE)>> : std::true_type {};

// Member types follow the field kinds.
static_assert(std::is_base_of<::Tovri::Data::BaseNative, TI::ApiClientSpec>::value, "");
static_assert(std::is_same<decltype(TI::ApiClientSpec::clientSecret), ::Tovri::SecretString>::value, "");
static_assert(std::is_same<decltype(TI::ApiClientInfo::clientName), boost::optional<std::string>>::value, "");
static_assert(std::is_same<decltype(TI::NetworkAddress::port), boost::optional<long long>>::value, "");
static_assert(std::is_same<decltype(TI::X509CertChain::certChain), std::list<std::string>>::value, "");
static_assert(std::is_same<decltype(TI::Hardware::Tpm::PcrBank::pcrs),
                           std::map<long long, std::vector<unsigned char>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Hardware::TpmSvc::Info::banks),
                           std::list<std::shared_ptr<const TI::Hardware::Tpm::PcrBank>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Hardware::TpmSvc::FilterSpec::majorVersions),
                           boost::optional<std::set<long long>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Hardware::Tpm::EventLogSvc::Info::tcgCryptoAgile),
                           boost::optional<std::vector<unsigned char>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Attestation::ServicesSvc::Info::trustedCA),
                           std::shared_ptr<const TI::X509CertChain>>::value,
              "");
static_assert(std::is_same<decltype(TI::Attestation::ServicesSvc::FilterSpec::address),
                           boost::optional<std::list<std::shared_ptr<const TI::NetworkAddress>>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Attestation::ReportsSvc::Summary::reportingJwt),
                           ::Tovri::OptionalPtr<const TI::Attestation::ReportsSvc::ReportingJwt>>::value,
              "");
static_assert(std::is_same<decltype(TI::Kms::ProvidersSvc::Info::nativeInfo),
                           ::Tovri::OptionalPtr<const TI::Kms::ProvidersSvc::NativeProviderInfo>>::value,
              "");
static_assert(
    std::is_same<decltype(TI::Kms::ProvidersSvc::Summary::details),
                 std::list<std::shared_ptr<const ::Com::Corvane::Tovri::Std::LocalizableMessage>>>::value,
    "");
static_assert(std::is_same<decltype(TI::Kms::ProvidersSvc::FilterSpec::types),
                           boost::optional<std::set<TI::Kms::ProvidersSvc::ProviderType>>>::value,
              "");
static_assert(std::is_same<decltype(TI::Kms::ServicesSvc::CreateSpec::apiClient),
                           ::Tovri::OptionalPtr<const TI::ApiClientSpec>>::value,
              "");

// Operation inputs hold the parameters; an operation without parameters uses
// the framework's empty input.
static_assert(std::is_same<decltype(TI::Kms::ProvidersSvc::ListMethod::Input::filterSpec),
                           ::Tovri::OptionalPtr<const TI::Kms::ProvidersSvc::FilterSpec>>::value,
              "");
static_assert(std::is_same<decltype(TI::Kms::ProvidersSvc::UpdateMethod::Input::spec),
                           std::shared_ptr<const TI::Kms::ProvidersSvc::UpdateSpec>>::value,
              "");
static_assert(std::is_same<TI::Attestation::ReportsSvc::ListMethod::Input, ::Tovri::OperationInput>::value,
              "");

// Five of the seven services name a resource type.
static_assert(HasConstants<TI::Kms::ProvidersSvc>::value, "");
static_assert(HasConstants<TI::Hardware::TpmSvc>::value, "");
static_assert(!HasConstants<TI::Hardware::Tpm::EventLogSvc>::value, "");
static_assert(!HasConstants<TI::Attestation::ReportsSvc>::value, "");

TEST(GeneratedTypes, DefaultInstanceIsEmpty) {
  const TI::Kms::ProvidersSvc::Summary summary;
  EXPECT_TRUE(summary.provider.empty());
  EXPECT_FALSE(summary.health);
  EXPECT_TRUE(summary.details.empty());
  EXPECT_EQ(summary.unknownFields, nullptr);
  const TI::Hardware::TpmSvc::Summary tpm;
  EXPECT_EQ(tpm.majorVersion, 0);
  EXPECT_FALSE(tpm.active);
  const TI::Hardware::Tpm::EndorsementKeysSvc::Info key;
  EXPECT_EQ(key.type.value(), TI::Hardware::Tpm::EndorsementKeysSvc::Type::_UNKNOWN);
  EXPECT_EQ(key.type.ToString(), "_UNKNOWN");
}

TEST(GeneratedTypes, EnumerationTables) {
  using TI::Kms::ProvidersSvc;
  EXPECT_EQ(Table<ProvidersSvc::ProviderType>(),
            (std::vector<std::string>{"NATIVE", "TRUST_AUTHORITY", "_UNKNOWN"}));
  EXPECT_EQ(Table<ProvidersSvc::Health>(),
            (std::vector<std::string>{"NONE", "OK", "WARNING", "ERROR", "_UNKNOWN"}));
  EXPECT_EQ(Table<TI::Hardware::Tpm::HashAlgorithm>(),
            (std::vector<std::string>{"SHA256", "SHA384", "SHA512", "SM3_256", "_UNKNOWN"}));
  EXPECT_EQ(Table<TI::Hardware::Tpm::EndorsementKeysSvc::Type>(),
            (std::vector<std::string>{"RSA_2048", "ECC_NIST_P_256", "_UNKNOWN"}));
  EXPECT_EQ(Table<TI::Hardware::Tpm::EventLogSvc::Type>(),
            (std::vector<std::string>{"TCG_CRYPTO_AGILE", "_UNKNOWN"}));
  EXPECT_EQ(Table<TI::Attestation::ReportsSvc::ReportType>(),
            (std::vector<std::string>{"REPORTING_JWT", "_UNKNOWN"}));
  EXPECT_EQ(ProvidersSvc::Health::_UNKNOWN, 4);
  EXPECT_EQ(ProvidersSvc::Health::ERROR, 3);
}

TEST(GeneratedTypes, EnumerationFromWireText) {
  using Type = TI::Kms::ProvidersSvc::ProviderType;
  const Type authority(std::string("TRUST_AUTHORITY"));
  EXPECT_EQ(authority.value(), Type::TRUST_AUTHORITY);
  EXPECT_TRUE(authority.text().empty());
  const Type other(std::string("HSM"));
  EXPECT_EQ(other.value(), Type::_UNKNOWN);
  EXPECT_EQ(other.ToString(), "HSM");
  const Type native = Type::NATIVE;
  EXPECT_EQ(native.ToString(), "NATIVE");
  EXPECT_TRUE(native < authority);
}

TEST(GeneratedTypes, UnionAnnotations) {
  using Providers = TI::Kms::ProvidersSvc::InfoAnnotations;
  EXPECT_EQ(Table<Providers::UnionTags>(), (std::vector<std::string>{"type", "_UNKNOWN"}));
  EXPECT_EQ(Table<Providers::NativeInfoUnionCases>(), (std::vector<std::string>{"NATIVE", "_UNKNOWN"}));
  const ::Tovri::Data::UnionCaseAnyEnumValue<Providers::NativeInfoUnionCases> native;
  EXPECT_TRUE(bool(native("NATIVE")));
  EXPECT_FALSE(bool(native("TRUST_AUTHORITY")));
  EXPECT_FALSE(bool(native("_UNKNOWN")));
  EXPECT_FALSE(bool(native("")));
  EXPECT_EQ(Table<TI::Hardware::Tpm::EventLogSvc::InfoAnnotations::TcgCryptoAgileUnionCases>(),
            (std::vector<std::string>{"TCG_CRYPTO_AGILE", "_UNKNOWN"}));
  EXPECT_EQ(Table<TI::Attestation::ReportsSvc::SummaryAnnotations::ReportingJwtUnionCases>(),
            (std::vector<std::string>{"REPORTING_JWT", "_UNKNOWN"}));
}

TEST(GeneratedTypes, TypeNames) {
  EXPECT_EQ(TypeInfo<TI::ApiClientInfo>::name(), "com.corvane.morv.trusted_infrastructure.api_client_info");
  EXPECT_EQ(TypeInfo<TI::X509CertChain>::name(), "com.corvane.morv.trusted_infrastructure.x509_cert_chain");
  EXPECT_EQ(TypeInfo<TI::Hardware::Tpm::PcrBank>::name(),
            "com.corvane.morv.trusted_infrastructure.hardware.tpm.pcr_bank");
  EXPECT_EQ(TypeInfo<TI::Hardware::Tpm::HashAlgorithm>::name(),
            "com.corvane.morv.trusted_infrastructure.hardware.tpm.hash_algorithm");
  EXPECT_EQ(TypeInfo<TI::Hardware::TpmSvc::Summary>::name(),
            "com.corvane.morv.trusted_infrastructure.hardware.tpm.summary");
  EXPECT_EQ(TypeInfo<TI::Hardware::Tpm::EventLogSvc::Info>::name(),
            "com.corvane.morv.trusted_infrastructure.hardware.tpm.event_log.info");
  EXPECT_EQ(TypeInfo<TI::Attestation::ReportsSvc::ReportingJwt>::name(),
            "com.corvane.morv.trusted_infrastructure.attestation.reports.reporting_jwt");
  EXPECT_EQ(TypeInfo<TI::Kms::ProvidersSvc::NativeProviderCreateSpec>::name(),
            "com.corvane.morv.trusted_infrastructure.kms.providers.native_provider_create_spec");
  EXPECT_EQ(TypeInfo<TI::Kms::ServicesSvc::FilterSpec>::name(),
            "com.corvane.morv.trusted_infrastructure.kms.services.filter_spec");
  // Inputs are named as every operation input.
  EXPECT_EQ(TypeInfo<TI::Kms::ProvidersSvc::UpdateMethod::Input>::name(),
            TypeInfo<::Tovri::OperationInput>::name());
  EXPECT_EQ(TypeInfo<TI::Hardware::Tpm::EventLogSvc::GetMethod::Input>::name(),
            TypeInfo<::Tovri::OperationInput>::name());
}

TEST(GeneratedTypes, DefaultInstanceIsFreshEachCall) {
  const auto value = ::Tovri::Data::StringValue::GetInstance("ignored");
  const auto a = TypeInfo<TI::NetworkAddress>::defaultInstance(value);
  const auto b = TypeInfo<TI::NetworkAddress>::defaultInstance(nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_TRUE(a->hostname.empty());
  EXPECT_FALSE(a->port);
}

TEST(GeneratedTypes, ResourceTypes) {
  EXPECT_STREQ(TI::Kms::ProvidersSvc::Constants::RESOURCE_TYPE,
               "com.corvane.morv.trusted_infrastructure.kms.provider");
  EXPECT_STREQ(TI::Kms::ServicesSvc::Constants::RESOURCE_TYPE,
               "com.corvane.morv.trusted_infrastructure.kms.service");
  EXPECT_STREQ(TI::Attestation::ServicesSvc::Constants::RESOURCE_TYPE,
               "com.corvane.morv.trusted_infrastructure.attestation.service");
  EXPECT_STREQ(TI::Hardware::TpmSvc::Constants::RESOURCE_TYPE,
               "com.corvane.morv.trusted_infrastructure.hardware.tpm");
  EXPECT_STREQ(TI::Hardware::Tpm::EndorsementKeysSvc::Constants::RESOURCE_TYPE,
               "com.corvane.morv.trusted_infrastructure.hardware.tpm.endorsement_key");
}

TEST(GeneratedTypes, MethodNames) {
  EXPECT_EQ(TI::Kms::ProvidersSvc::UpdateMethod::methodName(), "update");
  EXPECT_EQ(TI::Kms::ProvidersSvc::DeleteMethod::methodName(), "delete");
  EXPECT_EQ(TI::Attestation::ReportsSvc::ListMethod::methodName(), "list");
  EXPECT_EQ(TI::Hardware::Tpm::EndorsementKeysSvc::GetMethod::methodName(), "get");
}

}  // namespace
