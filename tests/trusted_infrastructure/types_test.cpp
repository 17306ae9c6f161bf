// The generated native classes: member types by field kind, defaults and
// enumerations from wire text.
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "package_support.hpp"

namespace {

using ::Tovri::Data::TypeInfo;
template <class A, class B>
constexpr bool Same = std::is_same_v<A, B>;

// Member types follow the field kinds.
static_assert(Same<decltype(TI::ApiClientSpec::clientSecret), ::Tovri::SecretString>);
static_assert(Same<decltype(TI::NetworkAddress::port), boost::optional<long long>>);
static_assert(
    Same<decltype(TI::Hardware::Tpm::PcrBank::pcrs), std::map<long long, std::vector<unsigned char>>>);
static_assert(Same<decltype(TI::Hardware::TpmSvc::Info::banks),
                   std::list<std::shared_ptr<const TI::Hardware::Tpm::PcrBank>>>);
static_assert(Same<decltype(TI::Hardware::Tpm::EventLogSvc::Info::tcgCryptoAgile),
                   boost::optional<std::vector<unsigned char>>>);
static_assert(
    Same<decltype(TI::Attestation::ServicesSvc::Info::trustedCA), std::shared_ptr<const TI::X509CertChain>>);
static_assert(Same<decltype(TI::Attestation::ServicesSvc::FilterSpec::address),
                   boost::optional<std::list<std::shared_ptr<const TI::NetworkAddress>>>>);
static_assert(Same<decltype(TI::Kms::ProvidersSvc::Info::nativeInfo),
                   ::Tovri::OptionalPtr<const TI::Kms::ProvidersSvc::NativeProviderInfo>>);
static_assert(Same<decltype(TI::Kms::ProvidersSvc::FilterSpec::types),
                   boost::optional<std::set<TI::Kms::ProvidersSvc::ProviderType>>>);

// Operation inputs hold the parameters; an operation without parameters uses
// the framework's empty input.
static_assert(Same<decltype(TI::Kms::ProvidersSvc::UpdateMethod::Input::spec),
                   std::shared_ptr<const TI::Kms::ProvidersSvc::UpdateSpec>>);
static_assert(Same<TI::Attestation::ReportsSvc::ListMethod::Input, ::Tovri::OperationInput>);

TEST(GeneratedTypes, DefaultInstanceIsEmpty) {
  const TI::Hardware::TpmSvc::Summary tpm;
  EXPECT_TRUE(tpm.majorVersion == 0 && !tpm.active && !tpm.unknownFields);
  const TI::Hardware::Tpm::EndorsementKeysSvc::Info key;
  EXPECT_EQ(key.type.value(), TI::Hardware::Tpm::EndorsementKeysSvc::Type::_UNKNOWN);
  EXPECT_EQ(key.type.ToString(), "_UNKNOWN");
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

TEST(GeneratedTypes, DefaultInstanceIsFreshEachCall) {
  const auto value = ::Tovri::Data::StringValue::GetInstance("ignored");
  const auto a = TypeInfo<TI::NetworkAddress>::defaultInstance(value);
  const auto b = TypeInfo<TI::NetworkAddress>::defaultInstance(nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_TRUE(a->hostname.empty() && !a->port);
}

}  // namespace
