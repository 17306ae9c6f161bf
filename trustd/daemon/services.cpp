#include "services.hpp"

#include <list>
#include <map>
#include <optional>
#include <utility>
#include <variant>

#include <openssl/rand.h>
#include <boost/asio/post.hpp>
#include <dral/tovri_bindings.hpp>

#include "log.hpp"
#include "messages.hpp"
#include "probe.hpp"
#include "reports.hpp"

namespace Trustd {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using Activation = std::shared_ptr<Tovri::Core::AsyncActivation>;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Tovri::Data::ErrorValue;

// What a piece of work answers with: the operation's result, or an error.
template <class Method>
using ReplyTo = std::variant<typename Method::ResultCbType::ValueType, ErrorPtr>;

// ---- Refusals -----------------------------------------------------------

ErrorPtr Refusal(const char* errorId, const Tovri::BaseMessage& message) {
  return ErrorValue::Create(errorId, std::list<Tovri::BaseMessage>{message});
}

ErrorPtr NotFound(const char* what, const std::string& id) {
  return Refusal(Tovri::Errors::kNotFound, Messages::Make(Messages::kNotFound, what, id));
}

ErrorPtr Invalid(const Tovri::BaseMessage& message) {
  return Refusal(Tovri::Errors::kInvalidArgument, message);
}

ErrorPtr CheckIdentifier(const std::string& id, const char* what) {
  if (Store::IsIdentifier(id)) return nullptr;
  return Invalid(Messages::Make(Messages::kBadIdentifier, id, what));
}

// A store refusal as the operation's declared error; a failure is logged
// too, since it is the host's problem rather than the caller's.
ErrorPtr FromStore(const StoreError& error, const char* what, const std::string& id) {
  switch (error.kind) {
    case StoreError::Kind::kAlreadyExists:
      return Refusal(Tovri::Errors::kAlreadyExists, Messages::Make(Messages::kAlreadyExists, what, id));
    case StoreError::Kind::kNotFound:
      return NotFound(what, id);
    case StoreError::Kind::kInvalidArgument:
      return Invalid(Messages::Make(Messages::kStoreFailed, error.message));
    default:
      Log::Error("store", error.message);
      return Refusal(Tovri::Errors::kError, Messages::Make(Messages::kStoreFailed, error.message));
  }
}

// ---- Conversions --------------------------------------------------------

std::string Describe(const Address& address) {
  return address.port ? address.hostname + ":" + std::to_string(*address.port) : address.hostname;
}

Address FromWire(const ti::NetworkAddress& address) {
  Address out{address.hostname, std::nullopt};
  if (address.port) out.port = static_cast<int>(*address.port);
  return out;
}

std::shared_ptr<const ti::NetworkAddress> ToWire(const Address& address) {
  auto out = std::make_shared<ti::NetworkAddress>();
  out->hostname = address.hostname;
  if (address.port) out->port = *address.port;
  return out;
}

std::shared_ptr<const ti::X509CertChain> ToWire(const std::vector<std::string>& pems) {
  auto chain = std::make_shared<ti::X509CertChain>();
  chain->certChain.assign(pems.begin(), pems.end());
  return chain;
}

// Checks what the bindings cannot: a host name that can be one, a port in
// range, a chain with a certificate, a group that is an identifier.
ErrorPtr CheckRemote(const ti::NetworkAddress& address, const ti::X509CertChain& chain,
                     const std::string& group) {
  if (ErrorPtr refusal = CheckIdentifier(address.hostname, "host name")) return refusal;
  if (address.port && (*address.port < 1 || *address.port > 65535))
    return Invalid(Messages::Make(Messages::kBadPort, std::to_string(*address.port)));
  if (chain.certChain.empty()) return Invalid(Messages::Make(Messages::kEmptyChain));
  for (const std::string& pem : chain.certChain) {
    if (pem.empty()) return Invalid(Messages::Make(Messages::kEmptyChain));
  }
  return CheckIdentifier(group, "group");
}

bool SameAddress(const ti::NetworkAddress& wire, const Address& address) {
  if (wire.hostname != address.hostname || wire.port.has_value() != address.port.has_value()) return false;
  return !wire.port || *wire.port == *address.port;
}

bool AddressMatches(const boost::optional<std::list<std::shared_ptr<const ti::NetworkAddress>>>& filter,
                    const Address& address) {
  if (!filter) return true;
  for (const auto& wire : *filter) {
    if (wire && SameAddress(*wire, address)) return true;
  }
  return false;
}

template <class Set, class Value>
bool SetMatches(const boost::optional<Set>& filter, const Value& value) {
  return !filter || filter->count(value) > 0;
}

// The banks the package has a constant for (SHA-1 and unknown ones are
// left out).
std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>> ToWire(const std::vector<PcrBank>& banks) {
  using Wire = ti::Hardware::Tpm::HashAlgorithm;
  std::list<std::shared_ptr<const ti::Hardware::Tpm::PcrBank>> out;
  for (const PcrBank& bank : banks) {
    std::optional<Wire> algorithm;
    switch (bank.algorithm) {
      case HashAlgorithm::Sha256:
        algorithm = Wire::SHA256;
        break;
      case HashAlgorithm::Sha384:
        algorithm = Wire::SHA384;
        break;
      case HashAlgorithm::Sha512:
        algorithm = Wire::SHA512;
        break;
      case HashAlgorithm::Sm3_256:
        algorithm = Wire::SM3_256;
        break;
      default:
        break;
    }
    if (!algorithm) continue;
    auto wire = std::make_shared<ti::Hardware::Tpm::PcrBank>();
    wire->algorithm = *algorithm;
    for (const auto& [index, value] : bank.pcrs) wire->pcrs.emplace(static_cast<long long>(index), value);
    out.push_back(std::move(wire));
  }
  return out;
}

Host::TpmEntry* FindTpm(Host& host, const std::string& id) {
  for (Host::TpmEntry& entry : host.tpms) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

ErrorPtr TpmFailed(const std::string& tpm, const std::string& what) {
  Log::Warning("tpm", tpm + ": " + what);
  return Refusal(Tovri::Errors::kError, Messages::Make(Messages::kTpmFailed, tpm, what));
}

// A new entry's identifier: the kind's prefix and 48 random bits.
std::string NewIdentifier(const char* prefix) {
  unsigned char bytes[6] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) return std::string();
  static const char* const kHex = "0123456789abcdef";
  std::string id = prefix;
  for (unsigned char byte : bytes) {
    id += kHex[byte >> 4];
    id += kHex[byte & 15];
  }
  return id;
}

// ---- Service scaffolding -------------------------------------------------

class ServiceBase {
 public:
  ServiceBase(std::shared_ptr<Host> host, const std::shared_ptr<Workers>& workers)
      : host_(std::move(host)), workers_(workers) {}

 protected:
  // Runs `work(Host&)` on a worker and completes `result` with what it
  // returns. Work that throws (out of memory) answers with a plain error.
  template <class T, class Work>
  void AnswerLater(const Tovri::AsyncResult<T, Tovri::AsyncResultTerminateCbPolicy>& result,
                   Work work) const {
    const std::shared_ptr<Workers> workers = workers_.lock();
    const bool queued = workers && workers->Post([host = host_, result, work = std::move(work)] {
      std::variant<T, ErrorPtr> reply;
      try {
        reply = work(*host);
      } catch (const std::exception& e) {
        Log::Error("service", std::string("an operation failed: ") + e.what());
        reply = Refusal(Tovri::Errors::kError, Messages::Make(Messages::kStoreFailed, e.what()));
      }
      if (const ErrorPtr* error = std::get_if<ErrorPtr>(&reply)) {
        result.error(*error);
      } else {
        result(std::get<T>(reply));
      }
    });
    if (!queued) result.error(Refusal(Tovri::Errors::kError, Messages::Make(Messages::kShuttingDown)));
  }

 private:
  std::shared_ptr<Host> host_;
  std::weak_ptr<Workers> workers_;
};

// ---- hardware.tpm -------------------------------------------------------

class TpmService final : public ti::Hardware::TpmSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Hardware::TpmSvc;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override {
    AnswerLater(result, [filter](Host& host) -> ReplyTo<Svc::ListMethod> {
      std::list<std::shared_ptr<const Svc::Summary>> summaries;
      for (Host::TpmEntry& entry : host.tpms) {
        auto summary = std::make_shared<Svc::Summary>();
        summary->tpm = entry.id;
        // trustd speaks to TPM 2.0 only; one that does not answer is
        // still the TPM 2.0 configured, inactive.
        summary->majorVersion = 2;
        summary->minorVersion = 0;
        const Result<TpmProperties> properties = entry.tpm->Properties();
        summary->active = properties.Ok();
        if (properties) {
          summary->majorVersion = properties.Value().majorVersion;
          summary->minorVersion = properties.Value().minorVersion;
        }
        if (filter && (!SetMatches(filter->majorVersions, summary->majorVersion) ||
                       (filter->active && *filter->active != summary->active)))
          continue;
        summaries.push_back(std::move(summary));
      }
      return summaries;
    });
  }

  void Get(const std::string& tpm, const Activation&, const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [tpm](Host& host) -> ReplyTo<Svc::GetMethod> {
      if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
      Host::TpmEntry* entry = FindTpm(host, tpm);
      if (!entry) return NotFound("TPM", tpm);
      const Result<TpmProperties> properties = entry->tpm->Properties();
      if (!properties) return TpmFailed(tpm, properties.Error());
      const Result<std::vector<PcrBank>> banks = entry->tpm->PcrBanks();
      if (!banks) return TpmFailed(tpm, banks.Error());
      auto info = std::make_shared<Svc::Info>();
      info->majorVersion = properties.Value().majorVersion;
      info->minorVersion = properties.Value().minorVersion;
      info->active = true;
      info->manufacturer = properties.Value().manufacturer;
      info->model = properties.Value().model;
      info->firmwareVersion = properties.Value().firmwareVersion;
      info->banks = ToWire(banks.Value());
      return info;
    });
  }
};

// ---- hardware.tpm.endorsement_keys --------------------------------------

using KeysSvc = ti::Hardware::Tpm::EndorsementKeysSvc;

struct KeyKind {
  const char* id;
  EndorsementKeyType type;
  KeysSvc::Type wire;
};
const KeyKind kKeyKinds[] = {
    {"ek-rsa-2048", EndorsementKeyType::Rsa2048, KeysSvc::Type::RSA_2048},
    {"ek-ecc-nist-p256", EndorsementKeyType::EccNistP256, KeysSvc::Type::ECC_NIST_P_256}};

class EndorsementKeysService final : public KeysSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = KeysSvc;
  using ServiceBase::ServiceBase;

  void List(const std::string& tpm, const Tovri::OptionalPtr<const Svc::FilterSpec>& filter,
            const Activation&, const Svc::ListMethod::ResultCbType& result) override {
    AnswerLater(result, [tpm, filter](Host& host) -> ReplyTo<Svc::ListMethod> {
      if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
      Host::TpmEntry* entry = FindTpm(host, tpm);
      if (!entry) return NotFound("TPM", tpm);
      std::list<std::shared_ptr<const Svc::Summary>> summaries;
      for (const KeyKind& kind : kKeyKinds) {
        if (filter && !SetMatches(filter->types, kind.wire)) continue;
        // A key the TPM cannot make (an algorithm it lacks) is not listed;
        // a TPM that does not answer fails the call.
        const Result<EndorsementKey> key = entry->tpm->ReadEndorsementKey(kind.type);
        if (!key) {
          if (!entry->tpm->Answering()) return TpmFailed(tpm, key.Error());
          Log::Info("tpm", tpm + ": no " + kind.id + ": " + key.Error());
          continue;
        }
        auto summary = std::make_shared<Svc::Summary>();
        summary->key = kind.id;
        summary->type = kind.wire;
        summaries.push_back(std::move(summary));
      }
      return summaries;
    });
  }

  void Get(const std::string& tpm, const std::string& key, const Activation&,
           const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [tpm, key](Host& host) -> ReplyTo<Svc::GetMethod> {
      if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
      if (ErrorPtr refusal = CheckIdentifier(key, "endorsement key")) return refusal;
      Host::TpmEntry* entry = FindTpm(host, tpm);
      if (!entry) return NotFound("TPM", tpm);
      for (const KeyKind& kind : kKeyKinds) {
        if (key != kind.id) continue;
        const Result<EndorsementKey> read = entry->tpm->ReadEndorsementKey(kind.type);
        if (!read) return TpmFailed(tpm, read.Error());
        auto info = std::make_shared<Svc::Info>();
        info->type = kind.wire;
        info->publicKey = read.Value().publicKeyPem;
        if (read.Value().certificatePem) info->certificate = *read.Value().certificatePem;
        if (read.Value().manufacturerCertificateUri)
          info->manufacturerCertificateUri = *read.Value().manufacturerCertificateUri;
        return info;
      }
      return NotFound("endorsement key", key);
    });
  }
};

// ---- hardware.tpm.event_log ---------------------------------------------

class EventLogService final : public ti::Hardware::Tpm::EventLogSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Hardware::Tpm::EventLogSvc;
  using ServiceBase::ServiceBase;

  void Get(const std::string& tpm, const Activation&, const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [tpm](Host& host) -> ReplyTo<Svc::GetMethod> {
      if (ErrorPtr refusal = CheckIdentifier(tpm, "TPM")) return refusal;
      Host::TpmEntry* entry = FindTpm(host, tpm);
      if (!entry) return NotFound("TPM", tpm);
      if (entry->eventLog.empty())
        return Refusal(Tovri::Errors::kNotFound, Messages::Make(Messages::kNoEventLog, tpm));
      // The registers first: a boot that is still extending them makes the
      // log longer, never shorter, so the log read after them replays at
      // least to them.
      const Result<std::vector<PcrBank>> banks = entry->tpm->PcrBanks();
      if (!banks) return TpmFailed(tpm, banks.Error());
      const Result<EventLog> log = ReadEventLog(entry->eventLog, host.config.eventLogMaxBytes);
      if (!log) {
        Log::Warning("tpm", tpm + ": " + log.Error());
        return Refusal(Tovri::Errors::kError, Messages::Make(Messages::kEventLogFailed, tpm, log.Error()));
      }
      auto info = std::make_shared<Svc::Info>();
      info->type = Svc::Type::TCG_CRYPTO_AGILE;
      info->tcgCryptoAgile = log.Value().bytes;
      info->truncated = log.Value().truncated;
      info->banks = ToWire(banks.Value());
      return info;
    });
  }
};

// ---- attestation.services and kms.services ------------------------------

// The two services of remote endpoints differ only in their records, their
// store calls and the API client a key server carries.
struct AttestationServiceKind {
  using Record = AttestationService;
  static constexpr const char* kWhat = "attestation service";
  static constexpr const char* kTitle = "Attestation service";
  static constexpr const char* kPrefix = "as-";
  static StoreResult<std::vector<Record>> List(Store& store) { return store.ListAttestationServices(); }
  static StoreResult<Record> Get(Store& store, const std::string& id) {
    return store.GetAttestationService(id);
  }
  static StoreResult<Done> Create(Store& store, const Record& r) { return store.CreateAttestationService(r); }
  static StoreResult<Done> Delete(Store& store, const std::string& id) {
    return store.DeleteAttestationService(id);
  }
};

struct KeyServerKind {
  using Record = KeyServer;
  static constexpr const char* kWhat = "key server";
  static constexpr const char* kTitle = "Key server";
  static constexpr const char* kPrefix = "ks-";
  static StoreResult<std::vector<Record>> List(Store& store) { return store.ListKeyServers(); }
  static StoreResult<Record> Get(Store& store, const std::string& id) { return store.GetKeyServer(id); }
  static StoreResult<Done> Create(Store& store, const Record& r) { return store.CreateKeyServer(r); }
  static StoreResult<Done> Delete(Store& store, const std::string& id) { return store.DeleteKeyServer(id); }
};

template <class Kind, class Svc>
ReplyTo<typename Svc::ListMethod> ListRemote(
    Host& host, const Tovri::OptionalPtr<const typename Svc::FilterSpec>& filter) {
  auto records = Kind::List(*host.store);
  if (!records) return FromStore(records.Error(), Kind::kWhat, "");
  std::list<std::shared_ptr<const typename Svc::Summary>> summaries;
  for (const auto& record : records.Value()) {
    if (filter &&
        (!SetMatches(filter->services, record.id) || !AddressMatches(filter->address, record.address) ||
         !SetMatches(filter->group, record.group)))
      continue;
    auto summary = std::make_shared<typename Svc::Summary>();
    summary->service = record.id;
    summary->address = ToWire(record.address);
    summary->group = record.group;
    summaries.push_back(std::move(summary));
  }
  return summaries;
}

// The record `id`, or the refusal. get and delete declare no
// invalid_argument: an identifier that cannot exist is simply not found.
template <class Kind>
ErrorPtr GetRemote(Host& host, const std::string& id, typename Kind::Record& out) {
  if (!Store::IsIdentifier(id)) return NotFound(Kind::kWhat, id);
  auto record = Kind::Get(*host.store, id);
  if (!record) return FromStore(record.Error(), Kind::kWhat, id);
  out = std::move(record).Value();
  return nullptr;
}

// A new record from what both create specs carry, named by trustd.
template <class Kind, class Spec>
ErrorPtr NewRemote(const Spec& spec, typename Kind::Record& record) {
  if (ErrorPtr refusal = CheckRemote(*spec.address, *spec.trustedCA, spec.group)) return refusal;
  record.id = NewIdentifier(Kind::kPrefix);
  record.address = FromWire(*spec.address);
  record.trustedCa.assign(spec.trustedCA->certChain.begin(), spec.trustedCA->certChain.end());
  record.group = spec.group;
  return nullptr;
}

// Stores the record; an address another entry holds is refused naming it.
template <class Kind>
std::variant<std::string, ErrorPtr> CreateRemote(Host& host, const typename Kind::Record& record) {
  auto created = Kind::Create(*host.store, record);
  if (!created) {
    if (created.Error().kind == StoreError::Kind::kAlreadyExists) {
      if (auto all = Kind::List(*host.store)) {
        for (const auto& other : all.Value()) {
          if (other.address.hostname == record.address.hostname && other.address.port == record.address.port)
            return Refusal(
                Tovri::Errors::kAlreadyExists,
                Messages::Make(Messages::kAddressInUse, Kind::kTitle, Describe(record.address), other.id));
        }
      }
    }
    return FromStore(created.Error(), Kind::kWhat, record.id);
  }
  Log::Info("store",
            std::string(Kind::kWhat) + " " + record.id + " created (" + Describe(record.address) + ")");
  return record.id;
}

template <class Kind>
std::variant<Tovri::Void, ErrorPtr> DeleteRemote(Host& host, const std::string& id) {
  if (!Store::IsIdentifier(id)) return NotFound(Kind::kWhat, id);
  auto deleted = Kind::Delete(*host.store, id);
  if (!deleted) return FromStore(deleted.Error(), Kind::kWhat, id);
  Log::Info("store", std::string(Kind::kWhat) + " " + id + " deleted");
  return Tovri::Void();
}

class AttestationServicesService final : public ti::Attestation::ServicesSvc::AsyncServiceInterface,
                                         ServiceBase {
 public:
  using Svc = ti::Attestation::ServicesSvc;
  using Kind = AttestationServiceKind;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override {
    AnswerLater(result, [filter](Host& host) { return ListRemote<Kind, Svc>(host, filter); });
  }

  void Get(const std::string& service, const Activation&,
           const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [service](Host& host) -> ReplyTo<Svc::GetMethod> {
      Kind::Record record;
      if (ErrorPtr refusal = GetRemote<Kind>(host, service, record)) return refusal;
      auto info = std::make_shared<Svc::Info>();
      info->address = ToWire(record.address);
      info->trustedCA = ToWire(record.trustedCa);
      info->group = record.group;
      return info;
    });
  }

  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override {
    AnswerLater(result, [spec](Host& host) -> ReplyTo<Svc::CreateMethod> {
      Kind::Record record;
      if (ErrorPtr refusal = NewRemote<Kind>(*spec, record)) return refusal;
      return CreateRemote<Kind>(host, record);
    });
  }

  void Delete(const std::string& service, const Activation&,
              const Svc::DeleteMethod::ResultCbType& result) override {
    AnswerLater(result, [service](Host& host) { return DeleteRemote<Kind>(host, service); });
  }
};

class KeyServersService final : public ti::Kms::ServicesSvc::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = ti::Kms::ServicesSvc;
  using Kind = KeyServerKind;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation&,
            const Svc::ListMethod::ResultCbType& result) override {
    AnswerLater(result, [filter](Host& host) { return ListRemote<Kind, Svc>(host, filter); });
  }

  void Get(const std::string& service, const Activation&,
           const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [service](Host& host) -> ReplyTo<Svc::GetMethod> {
      Kind::Record server;
      if (ErrorPtr refusal = GetRemote<Kind>(host, service, server)) return refusal;
      auto info = std::make_shared<Svc::Info>();
      info->address = ToWire(server.address);
      info->trustedCA = ToWire(server.trustedCa);
      if (server.apiClient) {
        // Without its secret: ApiClientInfo has no field for it.
        auto client = std::make_shared<ti::ApiClientInfo>();
        client->clientId = server.apiClient->clientId;
        if (server.apiClient->name) client->clientName = *server.apiClient->name;
        if (server.apiClient->group) client->clientGroup = *server.apiClient->group;
        info->apiClient = std::move(client);
      }
      info->group = server.group;
      return info;
    });
  }

  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override {
    AnswerLater(result, [spec](Host& host) -> ReplyTo<Svc::CreateMethod> {
      Kind::Record record;
      if (ErrorPtr refusal = NewRemote<Kind>(*spec, record)) return refusal;
      if (const auto& client = spec->apiClient) {
        if (ErrorPtr refusal = CheckIdentifier(client->clientId, "API client")) return refusal;
        if (client->clientSecret.empty())
          return Invalid(
              Messages::Make(Messages::kSecretRequired, "API client", client->clientId, "client secret"));
        ApiClient api;
        api.clientId = client->clientId;
        if (client->clientName) api.name = *client->clientName;
        if (client->clientGroup) api.group = *client->clientGroup;
        api.secret = client->clientSecret;
        record.apiClient = std::move(api);
      }
      return CreateRemote<Kind>(host, record);
    });
  }

  void Delete(const std::string& service, const Activation&,
              const Svc::DeleteMethod::ResultCbType& result) override {
    AnswerLater(result, [service](Host& host) { return DeleteRemote<Kind>(host, service); });
  }
};

// ---- attestation.reports ------------------------------------------------

class AttestationReportsService final : public ti::Attestation::ReportsSvc::AsyncServiceInterface,
                                        ServiceBase {
 public:
  using Svc = ti::Attestation::ReportsSvc;
  using ServiceBase::ServiceBase;

  void List(const Activation&, const Svc::ListMethod::ResultCbType& result) override {
    AnswerLater(result, [](Host& host) -> ReplyTo<Svc::ListMethod> {
      auto scan = ScanReports(host.config.reportsDirectory, host.config.reportMaxBytes);
      if (!scan) {
        if (scan.Error().absent)
          return Refusal(Tovri::Errors::kNotAllowedInCurrentState,
                         Messages::Make(Messages::kNoReports, host.config.reportsDirectory));
        Log::Warning("reports", scan.Error().message);
        return Refusal(Tovri::Errors::kError, Messages::Make(Messages::kReportsFailed, scan.Error().message));
      }
      for (const std::string& skipped : scan.Value().skipped) Log::Warning("reports", "skipped " + skipped);
      // The group is the issuing service's, when it is configured here.
      std::map<std::string, std::string> groups;
      if (auto services = host.store->ListAttestationServices()) {
        for (const AttestationService& service : services.Value()) groups[service.id] = service.group;
      }
      std::list<std::shared_ptr<const Svc::Summary>> summaries;
      for (const Report& report : scan.Value().reports) {
        auto jwt = std::make_shared<Svc::ReportingJwt>();
        jwt->service = report.service;
        const auto group = groups.find(report.service);
        jwt->group = group == groups.end() ? std::string() : group->second;
        jwt->jwt = report.jwt;
        auto summary = std::make_shared<Svc::Summary>();
        summary->report = report.id;
        summary->type = Svc::ReportType::REPORTING_JWT;
        summary->reportingJwt = std::move(jwt);
        summaries.push_back(std::move(summary));
      }
      return summaries;
    });
  }
};

// ---- kms.providers ------------------------------------------------------

using Providers = ti::Kms::ProvidersSvc;

std::shared_ptr<const Com::Corvane::Tovri::Std::LocalizableMessage> Localized(
    const Tovri::BaseMessage& message, const Tovri::L10n::RequestLocalizer& l10n) {
  auto out = std::make_shared<Com::Corvane::Tovri::Std::LocalizableMessage>(message);
  if (l10n.localizer && l10n.localeSpec) out->localized = l10n.localizer->Localize(message, *l10n.localeSpec);
  return out;
}

// Whether a provider can serve keys now, and why.
struct Derived {
  bool available;
  Providers::Health health;
  Tovri::BaseMessage detail;
};

// The trust authority is probed at most once per call.
class AuthorityProbe {
 public:
  explicit AuthorityProbe(const Config& config) : config_(config) {}
  const Derived& Get() {
    if (!derived_) derived_.emplace(Compute());
    return *derived_;
  }

 private:
  Derived Compute() const {
    if (!config_.trustAuthority)
      return Derived{false, Providers::Health::NONE, Messages::Make(Messages::kNoAuthority)};
    const TrustAuthorityConfig& authority = *config_.trustAuthority;
    const std::string address = authority.hostname + ":" + std::to_string(authority.port);
    const ProbeOutcome outcome =
        Probe(authority.hostname, authority.port, std::chrono::milliseconds(config_.probeTimeoutMs));
    if (outcome.answers)
      return Derived{true, Providers::Health::OK, Messages::Make(Messages::kAuthorityAnswers, address)};
    return Derived{false, Providers::Health::ERROR,
                   Messages::Make(Messages::kAuthorityUnreachable, address, outcome.reason)};
  }

  const Config& config_;
  std::optional<Derived> derived_;
};

Derived Derive(Host& host, const KeyProvider& provider, AuthorityProbe& authority) {
  if (provider.type == ProviderType::kTrustAuthority) return authority.Get();
  const std::string keyId = provider.native ? provider.native->keyId : std::string();
  auto secret = host.store->RevealSecret(SecretField::kKeyDerivationKey, provider.id);
  if (secret && !secret.Value().empty())
    return Derived{true, Providers::Health::OK, Messages::Make(Messages::kKeyReady, keyId)};
  return Derived{false, Providers::Health::ERROR,
                 Messages::Make(Messages::kKeyUnusable, keyId, secret.Error().message)};
}

Providers::ProviderType ToWire(ProviderType type) {
  return type == ProviderType::kNative ? Providers::ProviderType::NATIVE
                                       : Providers::ProviderType::TRUST_AUTHORITY;
}

class KeyProvidersService final : public Providers::AsyncServiceInterface, ServiceBase {
 public:
  using Svc = Providers;
  using ServiceBase::ServiceBase;

  void List(const Tovri::OptionalPtr<const Svc::FilterSpec>& filter, const Activation& activation,
            const Svc::ListMethod::ResultCbType& result) override {
    const Tovri::L10n::RequestLocalizer l10n = activation->GetErrorRequestLocalizer();
    AnswerLater(result, [filter, l10n](Host& host) -> ReplyTo<Svc::ListMethod> {
      auto records = host.store->ListKeyProviders();
      if (!records) return FromStore(records.Error(), "key provider", "");
      AuthorityProbe authority(host.config);
      std::list<std::shared_ptr<const Svc::Summary>> summaries;
      for (const KeyProvider& record : records.Value()) {
        if (filter &&
            (!SetMatches(filter->providers, record.id) || !SetMatches(filter->types, ToWire(record.type))))
          continue;
        const Derived derived = Derive(host, record, authority);
        if (filter && filter->available && *filter->available != derived.available) continue;
        auto summary = std::make_shared<Svc::Summary>();
        summary->provider = record.id;
        summary->available = derived.available;
        summary->health = derived.health;
        summary->details.push_back(Localized(derived.detail, l10n));
        summary->type = ToWire(record.type);
        summaries.push_back(std::move(summary));
      }
      return summaries;
    });
  }

  void Get(const std::string& provider, const Activation&,
           const Svc::GetMethod::ResultCbType& result) override {
    AnswerLater(result, [provider](Host& host) -> ReplyTo<Svc::GetMethod> {
      if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
      auto record = host.store->GetKeyProvider(provider);
      if (!record) return FromStore(record.Error(), "key provider", provider);
      auto info = std::make_shared<Svc::Info>();
      info->type = ToWire(record.Value().type);
      if (record.Value().native) {
        auto native = std::make_shared<Svc::NativeProviderInfo>();
        native->keyId = record.Value().native->keyId;
        info->nativeInfo = std::move(native);
      }
      return info;
    });
  }

  void Create(const std::shared_ptr<const Svc::CreateSpec>& spec, const Activation&,
              const Svc::CreateMethod::ResultCbType& result) override {
    AnswerLater(result, [spec](Host& host) -> ReplyTo<Svc::CreateMethod> {
      if (ErrorPtr refusal = CheckIdentifier(spec->provider, "key provider")) return refusal;
      KeyProvider record;
      record.id = spec->provider;
      if (const auto& native = spec->nativeSpec) {
        if (ErrorPtr refusal = CheckIdentifier(native->keyId, "key")) return refusal;
        if (native->keyDerivationKey.empty())
          return Invalid(
              Messages::Make(Messages::kSecretRequired, "Key provider", record.id, "key derivation key"));
        record.type = ProviderType::kNative;
        record.native = NativeKey{native->keyId, native->keyDerivationKey};
      } else {
        record.type = ProviderType::kTrustAuthority;
      }
      auto created = host.store->CreateKeyProvider(record);
      if (!created) return FromStore(created.Error(), "key provider", record.id);
      Log::Info("store", "key provider " + record.id + " created");
      return Tovri::Void();
    });
  }

  void Update(const std::string& provider, const std::shared_ptr<const Svc::UpdateSpec>& spec,
              const Activation&, const Svc::UpdateMethod::ResultCbType& result) override {
    AnswerLater(result, [provider, spec](Host& host) -> ReplyTo<Svc::UpdateMethod> {
      if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
      if (!spec->nativeSpec || !spec->nativeSpec->keyId) {
        // Nothing to change: succeed if the provider exists.
        auto record = host.store->GetKeyProvider(provider);
        if (!record) return FromStore(record.Error(), "key provider", provider);
        return Tovri::Void();
      }
      const std::string& keyId = *spec->nativeSpec->keyId;
      if (ErrorPtr refusal = CheckIdentifier(keyId, "key")) return refusal;
      auto updated = host.store->UpdateKeyProviderKeyId(provider, keyId);
      if (!updated) {
        if (updated.Error().kind == StoreError::Kind::kNotAllowed)
          return Refusal(Tovri::Errors::kUnsupported, Messages::Make(Messages::kNoNativeKey, provider));
        return FromStore(updated.Error(), "key provider", provider);
      }
      Log::Info("store", "key provider " + provider + " now uses key " + keyId);
      return Tovri::Void();
    });
  }

  void Delete(const std::string& provider, const Activation&,
              const Svc::DeleteMethod::ResultCbType& result) override {
    AnswerLater(result, [provider](Host& host) -> ReplyTo<Svc::DeleteMethod> {
      if (ErrorPtr refusal = CheckIdentifier(provider, "key provider")) return refusal;
      auto deleted = host.store->DeleteKeyProvider(provider);
      if (!deleted) return FromStore(deleted.Error(), "key provider", provider);
      Log::Info("store", "key provider " + provider + " deleted");
      return Tovri::Void();
    });
  }
};

}  // namespace

bool Workers::Post(std::function<void()> work) {
  if (stopping_.load()) return false;
  boost::asio::post(pool_, std::move(work));
  return true;
}

void Workers::Stop() {
  stopping_.store(true);
  pool_.join();
}

std::vector<std::string> RegisterServices(Tovri::Core::LocalProvider& registry,
                                          const std::shared_ptr<Host>& host,
                                          const std::shared_ptr<Workers>& workers) {
  const std::shared_ptr<Tovri::L10n::Localizer> localizer = Messages::MakeLocalizer();
  const std::shared_ptr<const Tovri::Provider::AsyncApiInterface> apis[] = {
      TpmService::Svc::AsyncServiceBinder::BindImplementation(std::make_shared<TpmService>(host, workers),
                                                              localizer),
      EndorsementKeysService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<EndorsementKeysService>(host, workers), localizer),
      EventLogService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<EventLogService>(host, workers), localizer),
      AttestationServicesService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<AttestationServicesService>(host, workers), localizer),
      AttestationReportsService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<AttestationReportsService>(host, workers), localizer),
      KeyProvidersService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<KeyProvidersService>(host, workers), localizer),
      KeyServersService::Svc::AsyncServiceBinder::BindImplementation(
          std::make_shared<KeyServersService>(host, workers), localizer),
  };
  std::vector<std::string> registered;
  for (const auto& api : apis) {
    if (registry.Register(api)) registered.push_back(api->GetIdentifier()->GetName());
  }
  return registered;
}

}  // namespace Trustd
