// Generated services end to end: a client stub calls an implementation bound
// with the generated binder, through the framework's in-process provider.
#include <list>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/local_provider.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/stub.hpp>

#include "package_support.hpp"

namespace {

using Providers = TI::Kms::ProvidersSvc;
using Activation = std::shared_ptr<::Tovri::Core::AsyncActivation>;
using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;
template <class T>
using Ptrs = std::list<std::shared_ptr<const T>>;

// Records what arrives; create answers with a new identifier.
template <class Svc>
struct FakeServices : Svc::AsyncServiceInterface {
  int lists = 0;
  std::vector<std::shared_ptr<const typename Svc::CreateSpec>> specs;
  void List(const ::Tovri::OptionalPtr<const typename Svc::FilterSpec>&, const Activation&,
            const typename Svc::ListMethod::ResultCbType& result) override {
    ++lists;
    result(Ptrs<typename Svc::Summary>{});
  }
  void Get(const std::string&, const Activation&, const typename Svc::GetMethod::ResultCbType&) override {}
  void Create(const std::shared_ptr<const typename Svc::CreateSpec>& spec, const Activation&,
              const typename Svc::CreateMethod::ResultCbType& result) override {
    specs.push_back(spec);
    result(std::string("entry-") + std::to_string(specs.size()));
  }
  void Delete(const std::string&, const Activation&,
              const typename Svc::DeleteMethod::ResultCbType&) override {}
};

struct FakeProviders : Providers::AsyncServiceInterface {
  std::vector<std::shared_ptr<const Providers::CreateSpec>> created;
  std::vector<std::shared_ptr<const Providers::UpdateSpec>> updated;
  void List(const ::Tovri::OptionalPtr<const Providers::FilterSpec>&, const Activation&,
            const Providers::ListMethod::ResultCbType&) override {}
  void Create(const std::shared_ptr<const Providers::CreateSpec>& spec, const Activation&,
              const Providers::CreateMethod::ResultCbType& result) override {
    created.push_back(spec);
    result(::Tovri::Void());
  }
  void Update(const std::string&, const std::shared_ptr<const Providers::UpdateSpec>& spec, const Activation&,
              const Providers::UpdateMethod::ResultCbType& result) override {
    updated.push_back(spec);
    result(::Tovri::Void());
  }
  void Delete(const std::string&, const Activation&, const Providers::DeleteMethod::ResultCbType&) override {}
  void Get(const std::string& provider, const Activation&,
           const Providers::GetMethod::ResultCbType& result) override {
    auto info = std::make_shared<Providers::Info>();
    info->type = Providers::ProviderType::NATIVE;
    auto native = std::make_shared<Providers::NativeProviderInfo>();
    native->keyId = "key-" + provider;
    info->nativeInfo = native;
    result(std::shared_ptr<const Providers::Info>(info));
  }
};

// A service bound into an in-process provider, called through its stub.
template <class Svc, class Impl>
struct Served {
  std::shared_ptr<Impl> impl = std::make_shared<Impl>();
  std::shared_ptr<::Tovri::Core::LocalProvider> provider = std::make_shared<::Tovri::Core::LocalProvider>();
  typename Svc::AsyncServiceStub stub{std::make_shared<::Tovri::Stub::AsyncApiStub>(provider)};
  Served() { EXPECT_TRUE(provider->Register(Svc::AsyncServiceBinder::BindImplementation(impl))); }
};

template <class R>
struct Answer {
  boost::optional<R> value;
  ErrorPtr error;
};

template <class R, class Call>
Answer<R> Await(Call call) {
  Answer<R> answer;
  call(::Tovri::AsyncResult<R, ::Tovri::AsyncResultTerminateCbPolicy>(
      [&](const boost::optional<R>& value, const ErrorPtr& error, const ::Tovri::Progress&) {
        answer.value = value;
        answer.error = error;
      }));
  return answer;
}

// An undeclared field refuses the call as invalid argument; no text of the
// refusal (ids, default texts, arguments, localised texts) holds the secret.
void ExpectRefusal(const ErrorPtr& error, const std::string& secret) {
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  std::vector<std::string> ids;
  std::string text;
  for (const auto& m : error->GetMessages()) {
    ids.push_back(m.message.id);
    text += m.message.id + "|" + m.message.defaultMessage + "|" + m.localized.value_or("");
    for (const auto& arg : m.message.args) text += "|" + arg;
  }
  EXPECT_EQ(ids,
            (std::vector<std::string>{::Tovri::MessageIds::kFieldExtra, ::Tovri::MessageIds::kInvalidInput}));
  EXPECT_EQ(text.find(secret), std::string::npos);
}

TEST(ServiceProviders, KeyDerivationKeyArrivesAndNeverLeaksIntoARefusal) {
  Served<Providers, FakeProviders> served;
  auto native = std::make_shared<Providers::NativeProviderCreateSpec>();
  native->keyDerivationKey = ::Tovri::SecretString("kdk-Hidden-4711");
  auto spec = std::make_shared<Providers::CreateSpec>();
  spec->nativeSpec = native;
  const auto created = Await<::Tovri::Void>([&](const auto& cb) { served.stub.Create(spec, nullptr, cb); });
  EXPECT_EQ(created.error, nullptr);
  EXPECT_TRUE(created.value);
  ASSERT_EQ(served.impl->created.size(), 1u);
  EXPECT_EQ(served.impl->created.front()->nativeSpec->keyDerivationKey.Reveal(), "kdk-Hidden-4711");

  auto refused = WithExtraField(std::make_shared<Providers::CreateSpec>(*spec));
  ExpectRefusal(Await<::Tovri::Void>([&](const auto& cb) { served.stub.Create(refused, nullptr, cb); }).error,
                "Hidden-4711");
  EXPECT_EQ(served.impl->created.size(), 1u);
}

// Both services share one shape: create answers an identifier and descends
// into the spec's address; list does not descend into the filter. The api
// client secret of a KMS server arrives and never leaks into a refusal.
template <class Svc>
void CreateAnswersIdentifierAndDescendsOnlyIntoTheSpecAddress() {
  constexpr bool kms = std::is_same_v<Svc, TI::Kms::ServicesSvc>;
  Served<Svc, FakeServices<Svc>> served;
  auto spec = ServiceSpec<Svc>();
  if constexpr (kms) {
    auto client = std::make_shared<TI::ApiClientSpec>();
    client->clientSecret = ::Tovri::SecretString("client-Hidden-0815");
    spec->apiClient = client;
  }
  const auto created = Await<std::string>([&](const auto& cb) { served.stub.Create(spec, nullptr, cb); });
  EXPECT_EQ(created.error, nullptr);
  EXPECT_EQ(created.value, std::string("entry-1"));
  ASSERT_EQ(served.impl->specs.size(), 1u);
  if constexpr (kms) {
    EXPECT_EQ(served.impl->specs.front()->apiClient->clientSecret.Reveal(), "client-Hidden-0815");
  }

  auto refused = std::make_shared<typename Svc::CreateSpec>(*spec);
  refused->address = WithExtraField(std::make_shared<TI::NetworkAddress>());
  ExpectRefusal(Await<std::string>([&](const auto& cb) { served.stub.Create(refused, nullptr, cb); }).error,
                "Hidden-0815");
  EXPECT_EQ(served.impl->specs.size(), 1u);

  auto filter = std::make_shared<typename Svc::FilterSpec>();
  filter->address.emplace();
  filter->address->push_back(WithExtraField(std::make_shared<TI::NetworkAddress>()));
  const auto listed =
      Await<Ptrs<typename Svc::Summary>>([&](const auto& cb) { served.stub.List(filter, nullptr, cb); });
  EXPECT_EQ(listed.error, nullptr);
  EXPECT_TRUE(listed.value);
  EXPECT_EQ(served.impl->lists, 1);
}

TEST(ServiceEntries, AttestationServices) {
  CreateAnswersIdentifierAndDescendsOnlyIntoTheSpecAddress<TI::Attestation::ServicesSvc>();
}

TEST(ServiceEntries, KmsServices) {
  CreateAnswersIdentifierAndDescendsOnlyIntoTheSpecAddress<TI::Kms::ServicesSvc>();
}

TEST(ServiceProviders, GetAnswersTheUnionAndUpdateAcceptsAnUnsetNativeSpec) {
  Served<Providers, FakeProviders> served;
  const auto got = Await<std::shared_ptr<const Providers::Info>>(
      [&](const auto& cb) { served.stub.Get("p7", nullptr, cb); });
  EXPECT_EQ(got.error, nullptr);
  ASSERT_TRUE(got.value && *got.value && (*got.value)->nativeInfo);
  EXPECT_EQ((*got.value)->type.value(), Providers::ProviderType::NATIVE);
  EXPECT_EQ((*got.value)->nativeInfo->keyId, "key-p7");

  // An update spec with its optional native spec unset still arrives.
  const auto updated = Await<::Tovri::Void>([&](const auto& cb) {
    served.stub.Update("p2", std::make_shared<const Providers::UpdateSpec>(), nullptr, cb);
  });
  EXPECT_EQ(updated.error, nullptr);
  EXPECT_TRUE(updated.value);
  ASSERT_EQ(served.impl->updated.size(), 1u);
  ASSERT_NE(served.impl->updated.front(), nullptr);
  EXPECT_FALSE(served.impl->updated.front()->nativeSpec);
}

}  // namespace
