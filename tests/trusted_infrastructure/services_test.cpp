// Generated services end to end: a client stub calls an implementation bound
// with the generated binder, through the framework's in-process provider.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/local_provider.hpp>
#include <tovri/core/stub.hpp>

#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
using Providers = TI::Kms::ProvidersSvc;
using Activation = std::shared_ptr<::Tovri::Core::AsyncActivation>;
using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;

class FakeProviders : public Providers::AsyncServiceInterface {
 public:
  std::vector<std::string> calls;

  void List(const ::Tovri::OptionalPtr<const Providers::FilterSpec>& filterSpec, const Activation&,
            const Providers::ListMethod::ResultCbType& result) override {
    calls.push_back(filterSpec ? "list filtered" : "list");
    auto summary = std::make_shared<Providers::Summary>();
    summary->provider = "p1";
    summary->available = true;
    result(std::list<std::shared_ptr<const Providers::Summary>>{summary});
  }
  void Create(const std::shared_ptr<const Providers::CreateSpec>& spec, const Activation&,
              const Providers::CreateMethod::ResultCbType& result) override {
    calls.push_back("create " + spec->provider);
    result(::Tovri::Void());
  }
  void Update(const std::string& provider, const std::shared_ptr<const Providers::UpdateSpec>&,
              const Activation&, const Providers::UpdateMethod::ResultCbType& result) override {
    calls.push_back("update " + provider);
    result(::Tovri::Void());
  }
  void Delete(const std::string& provider, const Activation&,
              const Providers::DeleteMethod::ResultCbType& result) override {
    calls.push_back("delete " + provider);
    result(::Tovri::Void());
  }
  void Get(const std::string& provider, const Activation&,
           const Providers::GetMethod::ResultCbType& result) override {
    calls.push_back("get " + provider);
    auto info = std::make_shared<Providers::Info>();
    info->type = Providers::ProviderType::NATIVE;
    auto native = std::make_shared<Providers::NativeProviderInfo>();
    native->keyId = "key-" + provider;
    info->nativeInfo = native;
    result(std::shared_ptr<const Providers::Info>(info));
  }
};

class GeneratedServices : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(provider->Register(Providers::AsyncServiceBinder::BindImplementation(impl)));
  }

  std::shared_ptr<FakeProviders> impl = std::make_shared<FakeProviders>();
  std::shared_ptr<::Tovri::Core::LocalProvider> provider = std::make_shared<::Tovri::Core::LocalProvider>();
  Providers::AsyncServiceStub stub{std::make_shared<::Tovri::Stub::AsyncApiStub>(provider)};
};

TEST_F(GeneratedServices, InterfaceIsNamedByTheServiceId) {
  EXPECT_EQ(::Tovri::Data::TypeInfo<Providers::AsyncServiceInterface>::name(),
            "com.corvane.morv.trusted_infrastructure.kms.providers");
}

TEST_F(GeneratedServices, SignalsInSlotOrder) {
  const auto api = provider->Find("com.corvane.morv.trusted_infrastructure.kms.providers");
  ASSERT_NE(api, nullptr);
  std::vector<std::string> names;
  for (const auto& method : api->GetMethods()) names.push_back(method->methodName());
  EXPECT_EQ(names, (std::vector<std::string>{"list", "create", "update", "delete", "get"}));
}

TEST_F(GeneratedServices, GetReturnsTheNativeInfo) {
  std::shared_ptr<const Providers::Info> got;
  ErrorPtr failure;
  stub.Get("p7", nullptr,
           Providers::GetMethod::ResultCbType(
               [&](const boost::optional<std::shared_ptr<const Providers::Info>>& value,
                   const ErrorPtr& error, const ::Tovri::Progress&) {
                 if (value) got = *value;
                 failure = error;
               }));
  EXPECT_EQ(failure, nullptr);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->type.value(), Providers::ProviderType::NATIVE);
  ASSERT_TRUE(got->nativeInfo);
  EXPECT_EQ(got->nativeInfo->keyId, "key-p7");
  EXPECT_EQ(impl->calls, (std::vector<std::string>{"get p7"}));
}

TEST_F(GeneratedServices, ListAndUpdatePassTheirArguments) {
  bool listed = false;
  stub.List(::Tovri::MakeOptionalPtr<const Providers::FilterSpec>(), nullptr,
            Providers::ListMethod::ResultCbType(
                [&](const boost::optional<std::list<std::shared_ptr<const Providers::Summary>>>& value,
                    const ErrorPtr&, const ::Tovri::Progress&) {
                  ASSERT_TRUE(value);
                  ASSERT_EQ(value->size(), 1u);
                  EXPECT_EQ(value->front()->provider, "p1");
                  listed = true;
                }));
  EXPECT_TRUE(listed);
  bool updated = false;
  stub.Update("p2", std::make_shared<const Providers::UpdateSpec>(), nullptr,
              Providers::UpdateMethod::ResultCbType(
                  [&](const boost::optional<::Tovri::Void>& value, const ErrorPtr&,
                      const ::Tovri::Progress&) { updated = static_cast<bool>(value); }));
  EXPECT_TRUE(updated);
  EXPECT_EQ(impl->calls, (std::vector<std::string>{"list filtered", "update p2"}));
}

TEST_F(GeneratedServices, InvalidInputNeverReachesTheImplementation) {
  auto spec = std::make_shared<Providers::CreateSpec>();
  spec->provider = "p3";
  spec->unknownFields = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  spec->unknownFields->SetField("x", ::Tovri::Data::StringValue::GetInstance("extra"));
  ErrorPtr failure;
  stub.Create(
      spec, nullptr,
      Providers::CreateMethod::ResultCbType([&](const boost::optional<::Tovri::Void>&, const ErrorPtr& error,
                                                const ::Tovri::Progress&) { failure = error; }));
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  EXPECT_TRUE(impl->calls.empty());
}

class FakeReports : public TI::Attestation::ReportsSvc::AsyncServiceInterface {
 public:
  int calls = 0;
  void List(const Activation&, const TI::Attestation::ReportsSvc::ListMethod::ResultCbType& result) override {
    ++calls;
    result({});
  }
};

TEST(GeneratedServicesWithoutParameters, ReportsListSendsTheEmptyInput) {
  using Reports = TI::Attestation::ReportsSvc;
  auto impl = std::make_shared<FakeReports>();
  auto provider = std::make_shared<::Tovri::Core::LocalProvider>();
  ASSERT_TRUE(provider->Register(Reports::AsyncServiceBinder::BindImplementation(impl)));
  Reports::AsyncServiceStub stub(std::make_shared<::Tovri::Stub::AsyncApiStub>(provider));
  bool answered = false;
  stub.List(nullptr, Reports::ListMethod::ResultCbType(
                         [&](const boost::optional<std::list<std::shared_ptr<const Reports::Summary>>>& value,
                             const ErrorPtr& error, const ::Tovri::Progress&) {
                           EXPECT_EQ(error, nullptr);
                           ASSERT_TRUE(value);
                           EXPECT_TRUE(value->empty());
                           answered = true;
                         }));
  EXPECT_TRUE(answered);
  EXPECT_EQ(impl->calls, 1);
}

}  // namespace
