// Every generated service and operation against its catalogue entry, the
// struct metadata factories, and per-service behaviours through the stub,
// the in-process provider and the binder.
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/metadata.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/common.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/stub.hpp>

namespace {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
namespace V = ::Tovri::Data::Validator;
using ::Tovri::BaseMessage;
using Activation = std::shared_ptr<::Tovri::Core::AsyncActivation>;
using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;
using Tpm = TI::Hardware::TpmSvc;
using EndorsementKeys = TI::Hardware::Tpm::EndorsementKeysSvc;
using EventLog = TI::Hardware::Tpm::EventLogSvc;
using AttServices = TI::Attestation::ServicesSvc;
using Reports = TI::Attestation::ReportsSvc;
using Providers = TI::Kms::ProvidersSvc;
using KmsServices = TI::Kms::ServicesSvc;

const std::string kRoot = "::Com::Corvane::Morv::TrustedInfrastructure";

template <class T>
std::shared_ptr<T> WithExtraField(std::shared_ptr<T> object) {
  object->unknownFields = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  object->unknownFields->SetField("x", ::Tovri::Data::StringValue::GetInstance("extra"));
  return object;
}

template <class Svc>
std::shared_ptr<typename Svc::CreateSpec> ServiceSpec() {
  auto spec = std::make_shared<typename Svc::CreateSpec>();
  spec->address = std::make_shared<TI::NetworkAddress>();
  spec->trustedCA = std::make_shared<TI::X509CertChain>();
  return spec;
}

// Trivial implementations: binding never calls them.
struct NoTpm : Tpm::AsyncServiceInterface {
  void List(const ::Tovri::OptionalPtr<const Tpm::FilterSpec>&, const Activation&,
            const Tpm::ListMethod::ResultCbType&) override {}
  void Get(const std::string&, const Activation&, const Tpm::GetMethod::ResultCbType&) override {}
};
struct NoKeys : EndorsementKeys::AsyncServiceInterface {
  void List(const std::string&, const ::Tovri::OptionalPtr<const EndorsementKeys::FilterSpec>&,
            const Activation&, const EndorsementKeys::ListMethod::ResultCbType&) override {}
  void Get(const std::string&, const std::string&, const Activation&,
           const EndorsementKeys::GetMethod::ResultCbType&) override {}
};
struct NoLog : EventLog::AsyncServiceInterface {
  void Get(const std::string&, const Activation&, const EventLog::GetMethod::ResultCbType&) override {}
};
struct NoReports : Reports::AsyncServiceInterface {
  void List(const Activation&, const Reports::ListMethod::ResultCbType&) override {}
};

// Records what arrives; create answers with a new identifier.
template <class Svc>
struct FakeServices : Svc::AsyncServiceInterface {
  int lists = 0;
  std::vector<std::shared_ptr<const typename Svc::CreateSpec>> specs;
  void List(const ::Tovri::OptionalPtr<const typename Svc::FilterSpec>&, const Activation&,
            const typename Svc::ListMethod::ResultCbType& result) override {
    ++lists;
    result(std::list<std::shared_ptr<const typename Svc::Summary>>{});
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
  void Get(const std::string&, const Activation&, const Providers::GetMethod::ResultCbType&) override {}
};

// Required structure parameters set to valid instances, so that only the
// undeclared field of the input is reported.
template <class I>
void Fill(I&) {}
void Fill(Providers::CreateMethod::Input& input) { input.spec = std::make_shared<Providers::CreateSpec>(); }
void Fill(Providers::UpdateMethod::Input& input) { input.spec = std::make_shared<Providers::UpdateSpec>(); }
void Fill(AttServices::CreateMethod::Input& input) { input.spec = ServiceSpec<AttServices>(); }
void Fill(KmsServices::CreateMethod::Input& input) { input.spec = ServiceSpec<KmsServices>(); }

struct Operation {
  std::string wire;
  std::string native;  // qualified native operation name, below kRoot
  std::vector<std::string> errors;
  std::function<std::string()> methodName;
  std::function<std::vector<std::string>()> errorNames;
  std::function<std::list<BaseMessage>()> extraFieldMessages;  // empty without parameters
};

template <class M>
Operation Op(std::string wire, std::string native, std::vector<std::string> errors) {
  Operation op{std::move(wire), kRoot + native, {}, &M::methodName, {}, {}};
  for (const auto& e : errors) op.errors.push_back("com.corvane.tovri.std.errors." + e);
  op.errorNames = [] {
    std::vector<std::string> names;
    for (const auto& def : M::errorDefs()) {
      EXPECT_EQ(def->GetType(), ::Tovri::Data::kStruct);
      names.push_back(static_cast<const ::Tovri::Data::StructDefinition&>(*def).GetName());
    }
    return names;
  };
  if constexpr (!std::is_same_v<typename M::Input, ::Tovri::OperationInput>) {
    op.extraFieldMessages = [] {
      auto input = WithExtraField(std::make_shared<typename M::Input>());
      Fill(*input);
      std::list<BaseMessage> messages;
      EXPECT_FALSE(V::isValid<typename M::Input>(*input, V::REJECT_EXTRA_FIELDS, messages));
      return messages;
    };
  }
  return op;
}

struct Service {
  std::string id;
  std::string interfaceName;
  std::function<std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface>()> bind;
  std::vector<Operation> operations;
};

template <class Svc, class Impl>
Service Entry(std::string id, std::vector<Operation> operations) {
  return {std::move(id), ::Tovri::Data::TypeInfo<typename Svc::AsyncServiceInterface>::name(),
          [] { return Svc::AsyncServiceBinder::BindImplementation(std::make_shared<Impl>()); },
          std::move(operations)};
}

const std::vector<std::string> kFour = {"error", "invalid_argument", "unauthenticated", "unauthorized"};
const std::vector<std::string> kFive = {"error", "invalid_argument", "not_found", "unauthenticated",
                                        "unauthorized"};
const std::vector<std::string> kSix = {"error",           "invalid_argument", "not_found",
                                       "unauthenticated", "unauthorized",     "unsupported"};

template <class Svc>
std::vector<Operation> EntryOperations(const std::string& native) {
  return {Op<typename Svc::ListMethod>("list", native + "::List", {"error", "unauthenticated"}),
          Op<typename Svc::GetMethod>("get", native + "::Get", {"not_found", "error", "unauthenticated"}),
          Op<typename Svc::CreateMethod>("create", native + "::Create",
                                         {"already_exists", "invalid_argument", "unable_to_allocate_resource",
                                          "error", "unauthenticated"}),
          Op<typename Svc::DeleteMethod>("delete", native + "::Delete",
                                         {"not_found", "error", "unauthenticated"})};
}

TEST(ServiceCatalogue, EveryOperationOfEveryService) {
  const std::string tpm = "::Hardware::TpmSvc", keys = "::Hardware::Tpm::EndorsementKeysSvc";
  const std::string providers = "::Kms::ProvidersSvc";
  const std::vector<Service> services = {
      Entry<Tpm, NoTpm>("com.corvane.morv.trusted_infrastructure.hardware.tpm",
                        {Op<Tpm::ListMethod>("list", tpm + "::List", kFour),
                         Op<Tpm::GetMethod>("get", tpm + "::Get", kFive)}),
      Entry<EndorsementKeys, NoKeys>("com.corvane.morv.trusted_infrastructure.hardware.tpm.endorsement_keys",
                                     {Op<EndorsementKeys::ListMethod>("list", keys + "::List", kFive),
                                      Op<EndorsementKeys::GetMethod>("get", keys + "::Get", kFive)}),
      Entry<EventLog, NoLog>("com.corvane.morv.trusted_infrastructure.hardware.tpm.event_log",
                             {Op<EventLog::GetMethod>("get", "::Hardware::Tpm::EventLogSvc::Get", kFive)}),
      Entry<AttServices, FakeServices<AttServices>>(
          "com.corvane.morv.trusted_infrastructure.attestation.services",
          EntryOperations<AttServices>("::Attestation::ServicesSvc")),
      Entry<Reports, NoReports>("com.corvane.morv.trusted_infrastructure.attestation.reports",
                                {Op<Reports::ListMethod>("list", "::Attestation::ReportsSvc::List",
                                                         {"error", "not_allowed_in_current_state",
                                                          "unauthenticated", "unauthorized"})}),
      Entry<Providers, FakeProviders>(
          "com.corvane.morv.trusted_infrastructure.kms.providers",
          {Op<Providers::ListMethod>("list", providers + "::List", kFour),
           Op<Providers::CreateMethod>(
               "create", providers + "::Create",
               {"already_exists", "error", "invalid_argument", "unauthenticated", "unauthorized"}),
           Op<Providers::UpdateMethod>("update", providers + "::Update", kSix),
           Op<Providers::DeleteMethod>("delete", providers + "::Delete", kSix),
           Op<Providers::GetMethod>("get", providers + "::Get", kFive)}),
      Entry<KmsServices, FakeServices<KmsServices>>("com.corvane.morv.trusted_infrastructure.kms.services",
                                                    EntryOperations<KmsServices>("::Kms::ServicesSvc")),
  };
  std::size_t operations = 0;
  for (const auto& service : services) {
    SCOPED_TRACE(service.id);
    EXPECT_EQ(service.interfaceName, service.id);
    const auto api = service.bind();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->GetIdentifier()->GetName(), service.id);
    std::vector<std::string> signals, expected;
    for (const auto& method : api->GetMethods()) signals.push_back(method->methodName());
    for (const auto& op : service.operations) expected.push_back(op.wire);
    EXPECT_EQ(signals, expected);
    for (const auto& op : service.operations) {
      SCOPED_TRACE(op.native);
      ++operations;
      EXPECT_EQ(op.methodName(), op.wire);
      EXPECT_EQ(op.errorNames(), op.errors);
      if (!op.extraFieldMessages) continue;
      const auto messages = op.extraFieldMessages();
      ASSERT_EQ(messages.size(), 2u);
      EXPECT_EQ(messages.front().id, "tovri.data.compound.field.extra");
      EXPECT_EQ(messages.front().args, (std::list<std::string>{op.native + "Method::Input", "x", ""}));
      EXPECT_EQ(messages.back().id, "tovri.invoke.invalid.input");
      EXPECT_EQ(messages.back().args, (std::list<std::string>{op.native}));
    }
  }
  EXPECT_EQ(operations, 19u);
}

struct MetadataRow {
  std::function<std::shared_ptr<::Tovri::Metadata::StructInfo>()> create;
  std::string name, field, resourceType;
};

template <class T>
MetadataRow Meta(std::string name, std::string field, std::string resourceType) {
  return {[] { return ::Tovri::Metadata::StructInfo::Create<T>(); },
          "com.corvane.morv.trusted_infrastructure." + name, std::move(field), std::move(resourceType)};
}

TEST(ServiceCatalogue, MetadataFactories) {
  const std::string api = "com.corvane.morv.authentication.api-client";
  const std::string ti = "com.corvane.morv.trusted_infrastructure.";
  const std::vector<MetadataRow> rows = {
      Meta<TI::ApiClientInfo>("ApiClientInfo", "client_id", api),
      Meta<TI::ApiClientSpec>("ApiClientSpec", "client_id", api),
      Meta<Reports::Summary>("attestation.Reports.Summary", "report", ti + "attestation.report"),
      Meta<Reports::ReportingJwt>("attestation.Reports.ReportingJwt", "service", ti + "attestation.service"),
      Meta<AttServices::FilterSpec>("attestation.Services.FilterSpec", "services",
                                    ti + "attestation.service"),
      Meta<AttServices::Summary>("attestation.Services.Summary", "service", ti + "attestation.service"),
      Meta<EndorsementKeys::Summary>("hardware.tpm.EndorsementKeys.Summary", "key",
                                     ti + "hardware.tpm.endorsement_key"),
      Meta<Tpm::Summary>("hardware.Tpm.Summary", "tpm", ti + "hardware.tpm"),
      Meta<Providers::CreateSpec>("kms.Providers.CreateSpec", "provider", ti + "kms.provider"),
      Meta<Providers::FilterSpec>("kms.Providers.FilterSpec", "providers", ti + "kms.provider"),
      Meta<Providers::Summary>("kms.Providers.Summary", "provider", ti + "kms.provider"),
      Meta<KmsServices::FilterSpec>("kms.Services.FilterSpec", "services", ti + "kms.service"),
      Meta<KmsServices::Summary>("kms.Services.Summary", "service", ti + "kms.service"),
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto info = row.create();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->name, row.name);
    ASSERT_EQ(info->fields.size(), 1u);
    EXPECT_EQ(info->fields.begin()->first, row.field);
    EXPECT_EQ(info->fields.begin()->second->resourceType, row.resourceType);
  }
}

struct UnionRow {
  std::string label;
  std::function<bool(std::list<BaseMessage>&)> validate;
  std::string id;  // empty: valid
  std::list<std::string> args;
};

TEST(ServiceUnions, EveryRowOfTheValidationTables) {
  const auto provider = [](Providers::ProviderType type, bool set) {
    return [=](std::list<BaseMessage>& messages) {
      Providers::Info info;
      info.type = type;
      if (set) info.nativeInfo = std::make_shared<Providers::NativeProviderInfo>();
      return V::isValid(info, V::REJECT_EXTRA_FIELDS, messages);
    };
  };
  const auto log = [](EventLog::Type type, bool set) {
    return [=](std::list<BaseMessage>& messages) {
      EventLog::Info info;
      info.type = type;
      if (set) info.tcgCryptoAgile.emplace();
      return V::isValid(info, V::REJECT_EXTRA_FIELDS, messages);
    };
  };
  const auto report = [](Reports::ReportType type, bool set) {
    return [=](std::list<BaseMessage>& messages) {
      Reports::Summary summary;
      summary.type = type;
      if (set) summary.reportingJwt = std::make_shared<Reports::ReportingJwt>();
      return V::isValid(summary, V::REJECT_EXTRA_FIELDS, messages);
    };
  };
  const std::string isSet = "tovri.data.union.invalid.case.state.isset.short";
  const std::string notSet = "tovri.data.union.invalid.case.state.isnotset.short";
  const std::string noTag = "tovri.data.union.missing.tag.field";
  const std::list<std::string> p = {"com.corvane.morv.trusted_infrastructure.kms.providers.info",
                                    "nativeInfo"};
  const std::list<std::string> l = {"com.corvane.morv.trusted_infrastructure.hardware.tpm.event_log.info",
                                    "tcgCryptoAgile"};
  const std::list<std::string> r = {"com.corvane.morv.trusted_infrastructure.attestation.reports.summary",
                                    "reportingJwt"};
  const Providers::ProviderType otherProvider(std::string("HSM"));
  const EventLog::Type otherLog(std::string("LEGACY"));
  const Reports::ReportType otherReport(std::string("QUOTE"));
  const std::vector<UnionRow> rows = {
      {"native, set", provider(Providers::ProviderType::NATIVE, true), "", {}},
      {"native, unset", provider(Providers::ProviderType::NATIVE, false), notSet, p},
      {"trust authority, set", provider(Providers::ProviderType::TRUST_AUTHORITY, true), isSet, p},
      {"trust authority, unset", provider(Providers::ProviderType::TRUST_AUTHORITY, false), "", {}},
      {"unknown provider, set", provider(otherProvider, true), isSet, p},
      {"unknown provider, unset", provider(otherProvider, false), noTag, {"type"}},
      {"crypto agile, set", log(EventLog::Type::TCG_CRYPTO_AGILE, true), "", {}},
      {"crypto agile, unset", log(EventLog::Type::TCG_CRYPTO_AGILE, false), notSet, l},
      {"unknown log, set", log(otherLog, true), isSet, l},
      {"unknown log, unset", log(otherLog, false), noTag, {"type"}},
      {"jwt, set", report(Reports::ReportType::REPORTING_JWT, true), "", {}},
      {"jwt, unset", report(Reports::ReportType::REPORTING_JWT, false), notSet, r},
      {"unknown report, set", report(otherReport, true), isSet, r},
      {"unknown report, unset", report(otherReport, false), noTag, {"type"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    std::list<BaseMessage> messages;
    EXPECT_EQ(row.validate(messages), row.id.empty());
    if (row.id.empty()) {
      EXPECT_TRUE(messages.empty());
      continue;
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().id, row.id);
    EXPECT_EQ(messages.front().args, row.args);
  }
}

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

std::vector<std::string> MessageIds(const ErrorPtr& error) {
  std::vector<std::string> ids;
  for (const auto& m : error->GetMessages()) ids.push_back(m.message.id);
  return ids;
}

const std::vector<std::string> kRefusal = {"tovri.data.compound.field.extra", "tovri.invoke.invalid.input"};

// Every text a refusal carries: ids, default texts, arguments, localised texts.
std::string RefusalText(const ErrorPtr& error) {
  std::string text;
  for (const auto& m : error->GetMessages()) {
    text += m.message.id + "|" + m.message.defaultMessage + "|" + m.localized.value_or("");
    for (const auto& arg : m.message.args) text += "|" + arg;
  }
  return text;
}

TEST(ServiceSecrets, ProviderKeyDerivationKeyArrivesAndNeverLeaksIntoARefusal) {
  Served<Providers, FakeProviders> served;
  auto native = std::make_shared<Providers::NativeProviderCreateSpec>();
  native->keyId = "k1";
  native->keyDerivationKey = ::Tovri::SecretString("kdk-Hidden-4711");
  auto spec = std::make_shared<Providers::CreateSpec>();
  spec->provider = "p1";
  spec->nativeSpec = native;
  const auto created = Await<::Tovri::Void>([&](const auto& cb) { served.stub.Create(spec, nullptr, cb); });
  EXPECT_EQ(created.error, nullptr);
  EXPECT_TRUE(created.value);  // create answers with nothing
  ASSERT_EQ(served.impl->created.size(), 1u);
  ASSERT_TRUE(served.impl->created.front()->nativeSpec);
  EXPECT_EQ(served.impl->created.front()->nativeSpec->keyDerivationKey.Reveal(), "kdk-Hidden-4711");

  auto refused = WithExtraField(std::make_shared<Providers::CreateSpec>(*spec));
  const auto answer = Await<::Tovri::Void>([&](const auto& cb) { served.stub.Create(refused, nullptr, cb); });
  ASSERT_NE(answer.error, nullptr);
  EXPECT_EQ(answer.error->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  EXPECT_EQ(MessageIds(answer.error), kRefusal);
  EXPECT_EQ(RefusalText(answer.error).find("Hidden-4711"), std::string::npos);
  EXPECT_EQ(served.impl->created.size(), 1u);
}

TEST(ServiceSecrets, ApiClientSecretArrivesAndNeverLeaksIntoARefusal) {
  Served<KmsServices, FakeServices<KmsServices>> served;
  auto client = std::make_shared<TI::ApiClientSpec>();
  client->clientId = "c1";
  client->clientSecret = ::Tovri::SecretString("client-Hidden-0815");
  auto spec = ServiceSpec<KmsServices>();
  spec->apiClient = client;
  const auto created = Await<std::string>([&](const auto& cb) { served.stub.Create(spec, nullptr, cb); });
  EXPECT_EQ(created.error, nullptr);
  ASSERT_EQ(served.impl->specs.size(), 1u);
  ASSERT_TRUE(served.impl->specs.front()->apiClient);
  EXPECT_EQ(served.impl->specs.front()->apiClient->clientSecret.Reveal(), "client-Hidden-0815");

  auto refused = std::make_shared<KmsServices::CreateSpec>(*spec);
  refused->address = WithExtraField(std::make_shared<TI::NetworkAddress>());
  const auto answer = Await<std::string>([&](const auto& cb) { served.stub.Create(refused, nullptr, cb); });
  ASSERT_NE(answer.error, nullptr);
  EXPECT_EQ(MessageIds(answer.error), kRefusal);
  EXPECT_EQ(RefusalText(answer.error).find("Hidden-0815"), std::string::npos);
  EXPECT_EQ(served.impl->specs.size(), 1u);
}

template <class Svc>
void CreateReturnsIdentifierAndDescendsOnlyIntoTheSpecAddress() {
  Served<Svc, FakeServices<Svc>> served;
  const auto created =
      Await<std::string>([&](const auto& cb) { served.stub.Create(ServiceSpec<Svc>(), nullptr, cb); });
  EXPECT_EQ(created.error, nullptr);
  ASSERT_TRUE(created.value);
  EXPECT_EQ(*created.value, "entry-1");

  auto spec = ServiceSpec<Svc>();
  spec->address = WithExtraField(std::make_shared<TI::NetworkAddress>());
  const auto refused = Await<std::string>([&](const auto& cb) { served.stub.Create(spec, nullptr, cb); });
  ASSERT_NE(refused.error, nullptr);
  EXPECT_EQ(refused.error->GetId(), "com.corvane.tovri.std.errors.invalid_argument");
  EXPECT_EQ(MessageIds(refused.error), kRefusal);
  EXPECT_EQ(served.impl->specs.size(), 1u);

  auto filter = std::make_shared<typename Svc::FilterSpec>();
  filter->address.emplace();
  filter->address->push_back(WithExtraField(std::make_shared<TI::NetworkAddress>()));
  using Summaries = std::list<std::shared_ptr<const typename Svc::Summary>>;
  const auto listed = Await<Summaries>([&](const auto& cb) { served.stub.List(filter, nullptr, cb); });
  EXPECT_EQ(listed.error, nullptr);
  EXPECT_TRUE(listed.value);
  EXPECT_EQ(served.impl->lists, 1);
}

TEST(ServiceEntries, AttestationServices) {
  CreateReturnsIdentifierAndDescendsOnlyIntoTheSpecAddress<AttServices>();
}

TEST(ServiceEntries, KmsServices) { CreateReturnsIdentifierAndDescendsOnlyIntoTheSpecAddress<KmsServices>(); }

TEST(ServiceProviders, UpdateWithUnsetNativeSpecReachesTheImplementation) {
  Served<Providers, FakeProviders> served;
  const auto updated = Await<::Tovri::Void>([&](const auto& cb) {
    served.stub.Update("p1", std::make_shared<const Providers::UpdateSpec>(), nullptr, cb);
  });
  EXPECT_EQ(updated.error, nullptr);
  EXPECT_TRUE(updated.value);
  ASSERT_EQ(served.impl->updated.size(), 1u);
  ASSERT_NE(served.impl->updated.front(), nullptr);
  EXPECT_FALSE(served.impl->updated.front()->nativeSpec);
}

TEST(ServiceProviders, TypeSetIsSentInConstantOrder) {
  Providers::FilterSpec filter;
  filter.types.emplace();
  filter.types->insert(Providers::ProviderType::TRUST_AUTHORITY);
  filter.types->insert(Providers::ProviderType::NATIVE);
  ::Tovri::Data::ValuePtr value;
  std::list<BaseMessage> messages;
  ASSERT_TRUE(::Tovri::Data::NativeToValueAdapter::Adapt(
      filter, value, messages, ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer()));
  const auto& types = static_cast<const ::Tovri::Data::OptionalValue&>(
      *static_cast<const ::Tovri::Data::CompoundValue&>(*value).FindField("types"));
  ASSERT_TRUE(types.IsSet());
  const auto& set = static_cast<const ::Tovri::Data::ListValue&>(*types.GetValue());
  EXPECT_EQ(set.GetKind(), ::Tovri::Data::ListValue::kSetKind);
  std::vector<std::string> texts;
  for (const auto& element : set.GetElements()) {
    std::string text;
    EXPECT_TRUE(::Tovri::Data::DataValue::Value(*element, text, messages));
    texts.push_back(text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"NATIVE", "TRUST_AUTHORITY"}));
}

}  // namespace
