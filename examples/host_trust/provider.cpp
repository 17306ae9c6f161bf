#include "provider.hpp"

#include <list>
#include <optional>
#include <utility>
#include <variant>

#include "messages.hpp"

namespace host_trust {
namespace {

using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Tovri::Data::ErrorValue;

// What a piece of work answers with: the operation's native result, or an
// error.
template <class Method>
using ReplyTo = std::variant<typename Method::ResultCbType::ValueType, ErrorPtr>;

// ---- Refusals -----------------------------------------------------------

// An error of the standard id `errorId` carrying `message`. The bindings
// localise its text on the way out, in the caller's locale.
ErrorPtr Refusal(const char* errorId, const Tovri::BaseMessage& message) {
  return ErrorValue::Create(errorId, std::list<Tovri::BaseMessage>{message});
}

ErrorPtr NotFound(const char* what, const std::string& id) {
  return Refusal(Tovri::Errors::kNotFound, messages::Make(messages::kNotFound, what, id));
}

ErrorPtr Invalid(const Tovri::BaseMessage& message) {
  return Refusal(Tovri::Errors::kInvalidArgument, message);
}

// Identifiers end up in file names, URLs and shell commands: 1 to 64 letters,
// digits, '.', '-' or '_'.
bool IsIdentifier(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

// An invalid_argument refusal when `id` cannot name a `what`; null otherwise.
ErrorPtr CheckIdentifier(const std::string& id, const char* what) {
  if (IsIdentifier(id)) return nullptr;
  return Invalid(messages::Make(messages::kBadIdentifier, id, what));
}

// ---- Shared structures --------------------------------------------------

std::string Describe(const Endpoint& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

ErrorPtr CheckAddress(const ti::NetworkAddress& address) {
  if (ErrorPtr refusal = CheckIdentifier(address.hostname, "host name")) return refusal;
  if (address.port && (*address.port < 1 || *address.port > 65535))
    return Invalid(messages::Make(messages::kBadPort, std::to_string(*address.port)));
  return nullptr;
}

ErrorPtr CheckChain(const ti::X509CertChain& chain) {
  return chain.certChain.empty() ? Invalid(messages::Make(messages::kEmptyChain)) : nullptr;
}

Endpoint FromWire(const ti::NetworkAddress& address) {
  Endpoint endpoint{address.hostname, std::nullopt};
  if (address.port) endpoint.port = static_cast<int>(*address.port);
  return endpoint;
}

std::shared_ptr<const ti::NetworkAddress> ToWire(const Endpoint& endpoint) {
  auto address = std::make_shared<ti::NetworkAddress>();
  address->hostname = endpoint.hostname;
  if (endpoint.port) address->port = *endpoint.port;
  return address;
}

std::shared_ptr<const ti::X509CertChain> ToWire(const std::vector<std::string>& pems) {
  auto chain = std::make_shared<ti::X509CertChain>();
  chain->certChain.assign(pems.begin(), pems.end());
  return chain;
}

bool SameAddress(const ti::NetworkAddress& wire, const Endpoint& endpoint) {
  if (wire.hostname != endpoint.hostname || wire.port.has_value() != endpoint.port.has_value()) return false;
  return !wire.port || *wire.port == *endpoint.port;
}

// True when the filter's optional address list is unset or names `endpoint`.
bool AddressMatches(const boost::optional<std::list<std::shared_ptr<const ti::NetworkAddress>>>& filter,
                    const Endpoint& endpoint) {
  if (!filter) return true;
  for (const auto& address : *filter) {
    if (address && SameAddress(*address, endpoint)) return true;
  }
  return false;
}

template <class Set, class Value>
bool SetMatches(const boost::optional<Set>& filter, const Value& value) {
  return !filter || filter->count(value) > 0;
}

std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>> ToWire(const std::vector<PcrBank>& banks) {
  using ti::Hardware::Tpm::HashAlgorithm;
  std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>> out;
  for (const PcrBank& bank : banks) {
    auto wire = std::make_shared<ti::Hardware::Tpm::PcrBank>();
    wire->algorithm =
        bank.algorithm == host_trust::HashAlgorithm::kSha256 ? HashAlgorithm::SHA256 : HashAlgorithm::SHA384;
    for (const auto& [index, value] : bank.registers) wire->pcrs.emplace(index, value);
    out.push_back(std::move(wire));
  }
  return out;
}

}  // namespace

template <class T, class Work>
void ServiceBase::AnswerLater(const Tovri::AsyncResult<T, Tovri::AsyncResultTerminateCbPolicy>& result,
                              Work work) const {
  // The task completes its own copy of the result; copies are independent,
  // and the one the bindings passed in is simply dropped.
  const std::shared_ptr<WorkerPool> pool = pool_.lock();
  const bool queued = pool && pool->Post([host = host_, result, work = std::move(work)] {
    std::variant<T, ErrorPtr> reply = work(*host);
    if (const ErrorPtr* error = std::get_if<ErrorPtr>(&reply)) {
      result.error(*error);
    } else {
      result(std::get<T>(reply));
    }
  });
  if (!queued) result.error(Refusal(Tovri::Errors::kError, messages::Make(messages::kShuttingDown)));
}

// ---- hardware.tpm -------------------------------------------------------

void TpmService::List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
                      const Activation& /*activation*/, const Svc::ListMethod::ResultCbType& result) {
  AnswerLater(result, [filter](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const Tpm& tpm : host.Tpms()) {
      if (filter && (!SetMatches(filter->majorVersions, static_cast<long long>(tpm.majorVersion)) ||
                     (filter->active && *filter->active != tpm.active)))
        continue;
      auto summary = std::make_shared<Svc::Summary>();
      summary->tpm = tpm.id;
      summary->majorVersion = tpm.majorVersion;
      summary->minorVersion = tpm.minorVersion;
      summary->active = tpm.active;
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

void TpmService::Get(const std::string& tpm, const Activation& /*activation*/,
                     const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [tpm](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
    const std::optional<Tpm> found = host.FindTpm(tpm);
    if (!found) return NotFound("TPM", tpm);
    auto info = std::make_shared<Svc::Info>();
    info->majorVersion = found->majorVersion;
    info->minorVersion = found->minorVersion;
    info->active = found->active;
    info->manufacturer = found->manufacturer;
    info->model = found->model;
    info->firmwareVersion = found->firmwareVersion;
    info->banks = ToWire(found->banks);
    return info;
  });
}

// ---- hardware.tpm.endorsement_keys --------------------------------------

namespace {

EndorsementKeysService::Svc::Type ToWire(EndorsementKey::Type type) {
  using Type = EndorsementKeysService::Svc::Type;
  return type == EndorsementKey::Type::kRsa2048 ? Type::RSA_2048 : Type::ECC_NIST_P_256;
}

}  // namespace

void EndorsementKeysService::List(const std::string& tpm,
                                  const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
                                  const Activation& /*activation*/,
                                  const Svc::ListMethod::ResultCbType& result) {
  AnswerLater(result, [tpm, filter](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
    const std::optional<Tpm> found = host.FindTpm(tpm);
    if (!found) return NotFound("TPM", tpm);
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const EndorsementKey& key : found->endorsementKeys) {
      if (filter && !SetMatches(filter->types, ToWire(key.type))) continue;
      auto summary = std::make_shared<Svc::Summary>();
      summary->key = key.id;
      summary->type = ToWire(key.type);
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

void EndorsementKeysService::Get(const std::string& tpm, const std::string& key,
                                 const Activation& /*activation*/,
                                 const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [tpm, key](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
    if (ErrorPtr refusal = CheckIdentifier(key, "endorsement key")) return refusal;
    const std::optional<Tpm> found = host.FindTpm(tpm);
    if (!found) return NotFound("TPM", tpm);
    for (const EndorsementKey& candidate : found->endorsementKeys) {
      if (candidate.id != key) continue;
      auto info = std::make_shared<Svc::Info>();
      info->type = ToWire(candidate.type);
      info->publicKey = candidate.publicKeyPem;
      if (candidate.certificatePem) info->certificate = *candidate.certificatePem;
      if (candidate.manufacturerCertificateUri)
        info->manufacturerCertificateUri = *candidate.manufacturerCertificateUri;
      return info;
    }
    return NotFound("endorsement key", key);
  });
}

// ---- hardware.tpm.event_log ---------------------------------------------

void EventLogService::Get(const std::string& tpm, const Activation& /*activation*/,
                          const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [tpm](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
    const std::optional<Tpm> found = host.FindTpm(tpm);
    if (!found) return NotFound("TPM", tpm);
    auto info = std::make_shared<Svc::Info>();
    // A union: the type says which field carries the log.
    info->type = Svc::Type::TCG_CRYPTO_AGILE;
    info->tcgCryptoAgile = found->eventLog.tcgCryptoAgile;
    info->truncated = found->eventLog.truncated;
    info->banks = ToWire(found->banks);
    return info;
  });
}

// ---- attestation.services -----------------------------------------------

void AttestationServicesService::List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
                                      const Activation& /*activation*/,
                                      const Svc::ListMethod::ResultCbType& result) {
  AnswerLater(result, [filter](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const AttestationService& service : host.AttestationServices()) {
      if (filter &&
          (!SetMatches(filter->services, service.id) || !AddressMatches(filter->address, service.address) ||
           !SetMatches(filter->group, service.group)))
        continue;
      auto summary = std::make_shared<Svc::Summary>();
      summary->service = service.id;
      summary->address = ToWire(service.address);
      summary->group = service.group;
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

void AttestationServicesService::Get(const std::string& service, const Activation& /*activation*/,
                                     const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [service](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    // get declares no invalid_argument: an identifier that cannot exist is
    // simply not found.
    const std::optional<AttestationService> found = host.FindAttestationService(service);
    if (!found) return NotFound("attestation service", service);
    auto info = std::make_shared<Svc::Info>();
    info->address = ToWire(found->address);
    info->trustedCA = ToWire(found->trustedCaPem);
    info->group = found->group;
    return info;
  });
}

void AttestationServicesService::Create(const std::shared_ptr<const Svc::CreateSpec>& spec,
                                        const Activation& /*activation*/,
                                        const Svc::CreateMethod::ResultCbType& result) {
  // The bindings have checked that the CreateSpec, its address and its chain are
  // set and carry no undeclared field.
  AnswerLater(result, [spec](HostModel& host) -> ReplyTo<Svc::CreateMethod> {
    if (ErrorPtr refusal = CheckAddress(*spec->address)) return refusal;
    if (ErrorPtr refusal = CheckChain(*spec->trustedCA)) return refusal;
    if (ErrorPtr refusal = CheckIdentifier(spec->group, "group")) return refusal;
    AttestationService service;
    service.address = FromWire(*spec->address);
    service.trustedCaPem.assign(spec->trustedCA->certChain.begin(), spec->trustedCA->certChain.end());
    service.group = spec->group;
    std::string id;
    if (host.AddAttestationService(service, id) == Change::kAlreadyExists) {
      return Refusal(
          Tovri::Errors::kAlreadyExists,
          messages::Make(messages::kAddressInUse, "Attestation service", Describe(service.address), id));
    }
    return id;
  });
}

void AttestationServicesService::Delete(const std::string& service, const Activation& /*activation*/,
                                        const Svc::DeleteMethod::ResultCbType& result) {
  AnswerLater(result, [service](HostModel& host) -> ReplyTo<Svc::DeleteMethod> {
    if (host.RemoveAttestationService(service) == Change::kNotFound)
      return NotFound("attestation service", service);
    return Tovri::Void();
  });
}

// ---- attestation.reports ------------------------------------------------

void AttestationReportsService::List(const Activation& /*activation*/,
                                     const Svc::ListMethod::ResultCbType& result) {
  AnswerLater(result, [](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const AttestationReport& report : host.AttestationReports()) {
      auto jwt = std::make_shared<Svc::ReportingJwt>();
      jwt->service = report.serviceId;
      jwt->group = report.group;
      jwt->jwt = report.jwt;
      auto summary = std::make_shared<Svc::Summary>();
      summary->report = report.id;
      // A union: the type says which field carries the report.
      summary->type = Svc::ReportType::REPORTING_JWT;
      summary->reportingJwt = std::move(jwt);
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

// ---- kms.providers ------------------------------------------------------

namespace {

using Providers = KeyProvidersService::Svc;

Providers::ProviderType ToWire(KeyProvider::Kind kind) {
  return kind == KeyProvider::Kind::kNative ? Providers::ProviderType::NATIVE
                                            : Providers::ProviderType::TRUST_AUTHORITY;
}

Providers::Health ToWire(Health health) {
  switch (health) {
    case Health::kNone:
      return Providers::Health::NONE;
    case Health::kOk:
      return Providers::Health::OK;
    case Health::kWarning:
      return Providers::Health::WARNING;
    case Health::kError:
      return Providers::Health::ERROR;
  }
  return Providers::Health::_UNKNOWN;
}

// A detail message with its text rendered in the caller's language where
// the call's localizer has one.
std::shared_ptr<const Com::Corvane::Tovri::Std::LocalizableMessage> Localized(
    const Tovri::BaseMessage& message, const Tovri::L10n::RequestLocalizer& l10n) {
  auto out = std::make_shared<Com::Corvane::Tovri::Std::LocalizableMessage>(message);
  out->localized = l10n.localizer->Localize(message, *l10n.localeSpec);
  return out;
}

}  // namespace

void KeyProvidersService::List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filterSpec,
                               const Activation& activation, const Svc::ListMethod::ResultCbType& result) {
  // The binding has installed its localizer in the activation; with the
  // caller's locale it renders the details below.
  const Tovri::L10n::RequestLocalizer l10n = activation->GetErrorRequestLocalizer();
  AnswerLater(result, [filter = filterSpec, l10n](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const KeyProvider& provider : host.KeyProviders()) {
      if (filter && (!SetMatches(filter->providers, provider.id) ||
                     (filter->available && *filter->available != provider.available) ||
                     !SetMatches(filter->types, ToWire(provider.kind))))
        continue;
      auto summary = std::make_shared<Svc::Summary>();
      summary->provider = provider.id;
      summary->available = provider.available;
      summary->health = ToWire(provider.health);
      for (const Tovri::BaseMessage& detail : provider.details)
        summary->details.push_back(Localized(detail, l10n));
      summary->type = ToWire(provider.kind);
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

void KeyProvidersService::Create(const std::shared_ptr<const Svc::CreateSpec>& spec,
                                 const Activation& /*activation*/,
                                 const Svc::CreateMethod::ResultCbType& result) {
  AnswerLater(result, [spec](HostModel& host) -> ReplyTo<Svc::CreateMethod> {
    if (ErrorPtr refusal = CheckIdentifier(spec->provider, "key provider")) return refusal;
    KeyProvider provider;
    provider.id = spec->provider;
    if (const auto& native = spec->nativeSpec) {
      if (ErrorPtr refusal = CheckIdentifier(native->keyId, "key")) return refusal;
      if (native->keyDerivationKey.empty()) {
        return Invalid(
            messages::Make(messages::kSecretRequired, "Key provider", provider.id, "key derivation key"));
      }
      provider.kind = KeyProvider::Kind::kNative;
      provider.keyId = native->keyId;
      provider.keyDerivationKey = native->keyDerivationKey;
      provider.health = Health::kOk;
      provider.details = {messages::Make(messages::kKeyCreated, provider.keyId)};
    } else {
      // Without a native part the provider delegates to the trust
      // authority; it is available once the authority has answered.
      provider.kind = KeyProvider::Kind::kTrustAuthority;
      provider.available = false;
      provider.health = Health::kNone;
    }
    if (host.AddKeyProvider(std::move(provider)) == Change::kAlreadyExists) {
      return Refusal(Tovri::Errors::kAlreadyExists,
                     messages::Make(messages::kAlreadyExists, "key provider", spec->provider));
    }
    return Tovri::Void();
  });
}

void KeyProvidersService::Update(const std::string& provider,
                                 const std::shared_ptr<const Svc::UpdateSpec>& spec,
                                 const Activation& /*activation*/,
                                 const Svc::UpdateMethod::ResultCbType& result) {
  AnswerLater(result, [provider, spec](HostModel& host) -> ReplyTo<Svc::UpdateMethod> {
    if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
    const bool changesKey = spec->nativeSpec && spec->nativeSpec->keyId;
    if (!changesKey) {
      // Nothing to change: succeed if the provider exists.
      if (!host.FindKeyProvider(provider)) return NotFound("key provider", provider);
      return Tovri::Void();
    }
    const std::string& keyId = *spec->nativeSpec->keyId;
    if (ErrorPtr refusal = CheckIdentifier(keyId, "key")) return refusal;
    switch (host.SetKeyProviderKeyId(provider, keyId)) {
      case Change::kNotFound:
        return NotFound("key provider", provider);
      case Change::kUnsupported:
        return Refusal(Tovri::Errors::kUnsupported, messages::Make(messages::kNoNativeKey, provider));
      default:
        return Tovri::Void();
    }
  });
}

void KeyProvidersService::Delete(const std::string& provider, const Activation& /*activation*/,
                                 const Svc::DeleteMethod::ResultCbType& result) {
  AnswerLater(result, [provider](HostModel& host) -> ReplyTo<Svc::DeleteMethod> {
    if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
    if (host.RemoveKeyProvider(provider) == Change::kNotFound) return NotFound("key provider", provider);
    return Tovri::Void();
  });
}

void KeyProvidersService::Get(const std::string& provider, const Activation& /*activation*/,
                              const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [provider](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
    const std::optional<KeyProvider> found = host.FindKeyProvider(provider);
    if (!found) return NotFound("key provider", provider);
    auto info = std::make_shared<Svc::Info>();
    // A union: the native part is present exactly for a native provider.
    info->type = ToWire(found->kind);
    if (found->kind == KeyProvider::Kind::kNative) {
      auto native = std::make_shared<Svc::NativeProviderInfo>();
      native->keyId = found->keyId;
      info->nativeInfo = std::move(native);
    }
    return info;
  });
}

// ---- kms.services -------------------------------------------------------

void KeyServersService::List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
                             const Activation& /*activation*/, const Svc::ListMethod::ResultCbType& result) {
  AnswerLater(result, [filter](HostModel& host) -> ReplyTo<Svc::ListMethod> {
    std::list<std::shared_ptr<const Svc::Summary>> summaries;
    for (const KeyServer& server : host.KeyServers()) {
      if (filter &&
          (!SetMatches(filter->services, server.id) || !AddressMatches(filter->address, server.address) ||
           !SetMatches(filter->group, server.group)))
        continue;
      auto summary = std::make_shared<Svc::Summary>();
      summary->service = server.id;
      summary->address = ToWire(server.address);
      summary->group = server.group;
      summaries.push_back(std::move(summary));
    }
    return summaries;
  });
}

void KeyServersService::Get(const std::string& service, const Activation& /*activation*/,
                            const Svc::GetMethod::ResultCbType& result) {
  AnswerLater(result, [service](HostModel& host) -> ReplyTo<Svc::GetMethod> {
    const std::optional<KeyServer> found = host.FindKeyServer(service);
    if (!found) return NotFound("key server", service);
    auto info = std::make_shared<Svc::Info>();
    info->address = ToWire(found->address);
    info->trustedCA = ToWire(found->trustedCaPem);
    if (found->apiClient) {
      // Reported without its secret: ApiClientInfo has no field for it.
      auto client = std::make_shared<ti::ApiClientInfo>();
      client->clientId = found->apiClient->clientId;
      if (found->apiClient->name) client->clientName = *found->apiClient->name;
      if (found->apiClient->group) client->clientGroup = *found->apiClient->group;
      info->apiClient = std::move(client);
    }
    info->group = found->group;
    return info;
  });
}

void KeyServersService::Create(const std::shared_ptr<const Svc::CreateSpec>& spec,
                               const Activation& /*activation*/,
                               const Svc::CreateMethod::ResultCbType& result) {
  AnswerLater(result, [spec](HostModel& host) -> ReplyTo<Svc::CreateMethod> {
    if (ErrorPtr refusal = CheckAddress(*spec->address)) return refusal;
    if (ErrorPtr refusal = CheckChain(*spec->trustedCA)) return refusal;
    if (ErrorPtr refusal = CheckIdentifier(spec->group, "group")) return refusal;
    KeyServer server;
    server.address = FromWire(*spec->address);
    server.trustedCaPem.assign(spec->trustedCA->certChain.begin(), spec->trustedCA->certChain.end());
    server.group = spec->group;
    if (const auto& client = spec->apiClient) {
      if (ErrorPtr refusal = CheckIdentifier(client->clientId, "API client")) return refusal;
      if (client->clientSecret.empty()) {
        return Invalid(
            messages::Make(messages::kSecretRequired, "API client", client->clientId, "client secret"));
      }
      server.apiClient = ApiClient{client->clientId, std::nullopt, std::nullopt, client->clientSecret};
      if (client->clientName) server.apiClient->name = *client->clientName;
      if (client->clientGroup) server.apiClient->group = *client->clientGroup;
    }
    std::string id;
    if (host.AddKeyServer(std::move(server), id) == Change::kAlreadyExists) {
      return Refusal(Tovri::Errors::kAlreadyExists, messages::Make(messages::kAddressInUse, "Key server",
                                                                   Describe(FromWire(*spec->address)), id));
    }
    return id;
  });
}

void KeyServersService::Delete(const std::string& service, const Activation& /*activation*/,
                               const Svc::DeleteMethod::ResultCbType& result) {
  AnswerLater(result, [service](HostModel& host) -> ReplyTo<Svc::DeleteMethod> {
    if (host.RemoveKeyServer(service) == Change::kNotFound) return NotFound("key server", service);
    return Tovri::Void();
  });
}

// ---- Registration -------------------------------------------------------

std::vector<std::string> RegisterHostTrustServices(Tovri::Core::LocalProvider& registry,
                                                   const std::shared_ptr<HostModel>& host,
                                                   const std::shared_ptr<WorkerPool>& pool) {
  // One localizer for all seven bindings: the framework's catalogue plus
  // the provider's own messages.
  const std::shared_ptr<Tovri::L10n::Localizer> localizer = messages::MakeLocalizer();
  const std::shared_ptr<const Tovri::Provider::AsyncApiInterface> apis[] = {
      TpmService::Svc::AsyncServiceBinder::BindImplementation(std::make_shared<TpmService>(host, pool),
                                                              localizer),
      EndorsementKeysService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<EndorsementKeysService>(host, pool), localizer),
      EventLogService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<EventLogService>(host, pool), localizer),
      AttestationServicesService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<AttestationServicesService>(host, pool), localizer),
      AttestationReportsService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<AttestationReportsService>(host, pool), localizer),
      KeyProvidersService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<KeyProvidersService>(host, pool), localizer),
      KeyServersService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<KeyServersService>(host, pool), localizer),
  };
  std::vector<std::string> registered;
  for (const auto& api : apis) {
    if (registry.Register(api)) registered.push_back(api->GetIdentifier()->GetName());
  }
  return registered;
}

}  // namespace host_trust
