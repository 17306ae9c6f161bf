// A mixed workload over the seven services of the generated package, shared
// by the concurrency stress test (tests/stress) and the memory soak tool
// (tools/soak).
//
// Every call has an id; PlanFor(id) decides, on both sides independently,
// which operation it is, how it ends (a value, a declared error, an
// undeclared error, or an input refused before the implementation) and how
// many progress reports precede the end. The client puts the id into the
// arguments ("c<id>", or a number where the operation takes no string) and,
// for half of the calls, into an activation of its own; the implementations
// read it back, answer with values derived from it through a caller-chosen
// dispatcher (a thread pool, or at once), and the client checks that each
// answer is the one its own call asked for. A Ledger counts, per call,
// answers, progress reports and visits to the implementation, so that a call
// answered twice, lost, or crossed with another one is caught.
//
// Header-only and free of test frameworks, so that the soak tool can use it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include <dral/client/async_result.hpp>
#include <dral/trusted_infrastructure/attestation/reports.hpp>
#include <dral/trusted_infrastructure/attestation/services.hpp>
#include <dral/trusted_infrastructure/hardware/tpm.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/endorsement_keys.hpp>
#include <dral/trusted_infrastructure/hardware/tpm/event_log.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <dral/trusted_infrastructure/kms/services.hpp>
#include <tovri/core/error.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/stub.hpp>

namespace Dral {
namespace Stress {

namespace TI = ::Com::Corvane::Morv::TrustedInfrastructure;
using Tpm = TI::Hardware::TpmSvc;
using EndorsementKeys = TI::Hardware::Tpm::EndorsementKeysSvc;
using EventLog = TI::Hardware::Tpm::EventLogSvc;
using AttestationServices = TI::Attestation::ServicesSvc;
using Reports = TI::Attestation::ReportsSvc;
using KmsProviders = TI::Kms::ProvidersSvc;
using KmsServices = TI::Kms::ServicesSvc;

using Activation = std::shared_ptr<::Tovri::Core::AsyncActivation>;
using ErrorPtr = std::shared_ptr<const ::Tovri::Data::ErrorValue>;

// Every operation of the package, service by service in slot order.
enum class Operation : int {
  kTpmList,
  kTpmGet,
  kEndorsementKeysList,
  kEndorsementKeysGet,
  kEventLogGet,
  kAttestationServicesList,
  kAttestationServicesGet,
  kAttestationServicesCreate,
  kAttestationServicesDelete,
  kReportsList,
  kKmsProvidersList,
  kKmsProvidersCreate,
  kKmsProvidersUpdate,
  kKmsProvidersDelete,
  kKmsProvidersGet,
  kKmsServicesList,
  kKmsServicesGet,
  kKmsServicesCreate,
  kKmsServicesDelete,
};
constexpr int kOperationCount = 19;

enum class Outcome : int { kValue, kDeclaredError, kUndeclaredError, kRefused };
constexpr int kOutcomeCount = 4;

inline const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kValue:
      return "value";
    case Outcome::kDeclaredError:
      return "declared error";
    case Outcome::kUndeclaredError:
      return "undeclared error";
    case Outcome::kRefused:
      return "refused input";
  }
  return "?";
}

// Ids the workload raises and expects.
constexpr const char* kDeclaredErrorId =
    "com.corvane.tovri.std.errors.unauthenticated";  // declared everywhere
constexpr const char* kUndeclaredErrorId = "com.example.stress.undeclared";
constexpr const char* kInternalServerErrorId = "com.corvane.tovri.std.errors.internal_server_error";
constexpr const char* kInvalidArgumentId = "com.corvane.tovri.std.errors.invalid_argument";
constexpr const char* kErrorMessageId = "dral.stress.answer";
constexpr const char* kExtraField = "dral_stress_extra";
// Activation properties: the call id of a call with its own activation, and
// the mark of the stub's default activation, which the other calls copy.
constexpr const char* kCallProperty = "dral.stress.call";
constexpr const char* kOriginProperty = "dral.stress.origin";
constexpr const char* kDefaultOrigin = "default";

struct Plan {
  Operation operation;
  Outcome outcome;
  int progressReports;  // before the final answer
  bool ownActivation;   // otherwise the stub copies its default activation
};

// Operations with a structure parameter, the only place an undeclared field
// can travel in.
inline bool TakesStructure(Operation operation) {
  switch (operation) {
    case Operation::kTpmList:
    case Operation::kEndorsementKeysList:
    case Operation::kAttestationServicesList:
    case Operation::kAttestationServicesCreate:
    case Operation::kKmsProvidersList:
    case Operation::kKmsProvidersCreate:
    case Operation::kKmsProvidersUpdate:
    case Operation::kKmsServicesList:
    case Operation::kKmsServicesCreate:
      return true;
    default:
      return false;
  }
}

// Consecutive ids walk the operations; the outcome and the number of
// progress reports change with every full round, so each combination recurs
// regularly. Half the ids (by parity, independent of the operation since the
// operation count is odd) bring their own activation; the parameterless
// reports list always does, as its activation is where its id travels.
inline Plan PlanFor(std::uint64_t id) {
  Plan plan;
  plan.operation = static_cast<Operation>(id % kOperationCount);
  const std::uint64_t round = id / kOperationCount;
  switch (round % 10) {
    case 5:
    case 6:
      plan.outcome = Outcome::kDeclaredError;
      break;
    case 7:
      plan.outcome = Outcome::kUndeclaredError;
      break;
    case 8:
    case 9:
      plan.outcome = TakesStructure(plan.operation) ? Outcome::kRefused : Outcome::kValue;
      break;
    default:
      plan.outcome = Outcome::kValue;
  }
  plan.progressReports = plan.outcome == Outcome::kRefused ? 0 : static_cast<int>((round / 10) % 3);
  plan.ownActivation = id % 2 == 0 || plan.operation == Operation::kReportsList;
  return plan;
}

inline std::string Tag(std::uint64_t id) { return "c" + std::to_string(id); }

// The id in a tag, or none when it is not one.
inline boost::optional<std::uint64_t> ParseTag(const std::string& tag) {
  if (tag.size() < 2 || tag[0] != 'c' || tag.size() > 21) return boost::none;
  std::uint64_t id = 0;
  for (std::size_t i = 1; i < tag.size(); ++i) {
    if (tag[i] < '0' || tag[i] > '9') return boost::none;
    id = id * 10 + static_cast<std::uint64_t>(tag[i] - '0');
  }
  return id;
}

inline std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The n-th of `reports` progress reports: current below max, so the provider
// side treats it as a report rather than a final answer.
inline ::Tovri::Progress ProgressReport(int n, int reports) {
  return ::Tovri::Progress{0, n, static_cast<std::int64_t>(reports) + 1};
}

// Per-call counters, indexed by id modulo the slot count, and the first
// failures in words. Every operation may run on any thread.
class Ledger {
 public:
  explicit Ledger(std::size_t slots) : slotCount_(slots ? slots : 1), slots_(new Slot[slotCount_]) {}

  // Client side: a progress report of call `id`, checked for its order.
  void OnProgress(std::uint64_t id, const ::Tovri::Progress& progress) {
    Slot& slot = At(id);
    const int seen = slot.progress.fetch_add(1) + 1;
    const Plan plan = PlanFor(id);
    if (slot.finals.load() != 0) Fail(id, "progress report after the final answer");
    if (progress != ProgressReport(seen, plan.progressReports)) {
      Fail(id, "progress report " + std::to_string(seen) + " out of order or unexpected (" +
                   std::to_string(progress.current) + "/" + std::to_string(progress.max) + ")");
    }
  }

  // Client side: the final answer of call `id`; `problem` is empty when the
  // answer was the expected one.
  void OnFinal(std::uint64_t id, const std::string& problem) {
    Slot& slot = At(id);
    if (slot.finals.fetch_add(1) != 0) Fail(id, "answered twice");
    if (!problem.empty()) Fail(id, problem);
    const int expected = PlanFor(id).progressReports;
    if (slot.progress.load() != expected) {
      Fail(id, "final answer after " + std::to_string(slot.progress.load()) + " progress reports, expected " +
                   std::to_string(expected));
    }
    answered_.fetch_add(1);
  }

  // Provider side: the implementation was called for `id`.
  void OnReached(std::uint64_t id) {
    if (At(id).reached.fetch_add(1) != 0) Fail(id, "implementation called twice");
    if (PlanFor(id).outcome == Outcome::kRefused) Fail(id, "refused input reached the implementation");
  }

  void Fail(std::uint64_t id, const std::string& what) {
    if (failureCount_.fetch_add(1) >= kKeptFailures) return;
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back("call " + std::to_string(id) + ": " + what);
  }
  // A failure that names no call (an argument that carries no id).
  void Fail(const std::string& what) {
    if (failureCount_.fetch_add(1) >= kKeptFailures) return;
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(what);
  }

  int Finals(std::uint64_t id) const { return At(id).finals.load(); }
  int Reached(std::uint64_t id) const { return At(id).reached.load(); }
  // Makes the slot of `id` ready for the next id sharing it.
  void Reset(std::uint64_t id) {
    Slot& slot = At(id);
    slot.progress.store(0);
    slot.finals.store(0);
    slot.reached.store(0);
  }

  std::size_t Answered() const { return answered_.load(); }
  std::size_t FailureCount() const { return failureCount_.load(); }
  std::vector<std::string> Failures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
  }

  // Polls rather than waits on a condition so that answering stays
  // lock-free; false when `count` answers have not arrived by `deadline`.
  bool WaitForAnswers(std::size_t count, std::chrono::steady_clock::time_point deadline) const {
    while (Answered() < count) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  static constexpr std::size_t kKeptFailures = 20;

  struct Slot {
    std::atomic<int> progress{0};
    std::atomic<int> finals{0};
    std::atomic<int> reached{0};
  };
  Slot& At(std::uint64_t id) const { return slots_[id % slotCount_]; }

  std::size_t slotCount_;
  std::unique_ptr<Slot[]> slots_;
  std::atomic<std::size_t> answered_{0};
  std::atomic<std::size_t> failureCount_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> failures_;
};

// ---------------------------------------------------------------------------
// Provider side.

// Runs a completion job: on a pool thread (stress) or at once (soak).
using Dispatcher = std::function<void(std::function<void()>)>;

// What the implementations share: the ledger and the dispatcher. Each
// operation works out the call id from its arguments and answers through
// Answer.
class Provision {
 public:
  Provision(Ledger& ledger, Dispatcher dispatch) : ledger_(ledger), dispatch_(std::move(dispatch)) {}

  Ledger& ledger() const { return ledger_; }

  // Checks the activation against the call, then dispatches the answer the
  // plan of `id` asks for: its progress reports, then `make()` or an error.
  template <class Result, class Make>
  void Answer(std::uint64_t id, const Activation& activation, const Result& result, Make make) const {
    ledger_.OnReached(id);
    CheckActivation(id, activation);
    const Plan plan = PlanFor(id);
    dispatch_([id, plan, result, make = std::move(make)] {
      for (int n = 1; n <= plan.progressReports; ++n)
        result.progress(ProgressReport(n, plan.progressReports));
      switch (plan.outcome) {
        case Outcome::kDeclaredError:
          result.error(ErrorFor(kDeclaredErrorId, id));
          break;
        case Outcome::kUndeclaredError:
          result.error(ErrorFor(kUndeclaredErrorId, id));
          break;
        case Outcome::kValue:
        case Outcome::kRefused:  // already reported by the ledger; answered all the same
          result(make());
          break;
      }
    });
  }

  // An argument that carries no id: still answered, so nothing hangs.
  template <class Result>
  void Unidentified(const std::string& what, const Result& result) const {
    ledger_.Fail("unidentified call: " + what);
    dispatch_([result] { result.error(::Tovri::Data::ErrorValue::GetInstance(kUndeclaredErrorId)); });
  }

 private:
  static ErrorPtr ErrorFor(const char* errorId, std::uint64_t id) {
    return ::Tovri::Data::ErrorValue::Create(errorId, std::list<::Tovri::BaseMessage>{::Tovri::BaseMessage(
                                                          kErrorMessageId, "stress call", {Tag(id)})});
  }

  void CheckActivation(std::uint64_t id, const Activation& activation) const {
    if (!activation) {
      ledger_.Fail(id, "no activation");
      return;
    }
    const auto& properties = activation->properties;
    const auto call = properties.find(kCallProperty);
    const auto origin = properties.find(kOriginProperty);
    if (PlanFor(id).ownActivation) {
      if (call == properties.end() || call->second != Tag(id)) ledger_.Fail(id, "another call's activation");
    } else if (call != properties.end() || origin == properties.end() || origin->second != kDefaultOrigin) {
      ledger_.Fail(id, "not a copy of the default activation");
    }
  }

  Ledger& ledger_;
  Dispatcher dispatch_;
};

inline std::shared_ptr<const TI::NetworkAddress> Address(const std::string& hostname, long long port) {
  auto address = std::make_shared<TI::NetworkAddress>();
  address->hostname = hostname;
  address->port = port;
  return address;
}

inline std::shared_ptr<const TI::X509CertChain> Chain(const std::string& certificate) {
  auto chain = std::make_shared<TI::X509CertChain>();
  chain->certChain = {certificate, "root"};
  return chain;
}

class TpmImpl final : public Tpm::AsyncServiceInterface {
 public:
  explicit TpmImpl(const Provision& provision) : p_(provision) {}

  void List(const ::Tovri::OptionalPtr<const Tpm::FilterSpec>& filter, const Activation& activation,
            const Tpm::ListMethod::ResultCbType& result) override {
    if (!filter || !filter->majorVersions || filter->majorVersions->size() != 1) {
      return p_.Unidentified("tpm list filter", result);
    }
    const auto id = static_cast<std::uint64_t>(*filter->majorVersions->begin());
    p_.Answer(id, activation, result, [id] {
      auto summary = std::make_shared<Tpm::Summary>();
      summary->tpm = Tag(id);
      summary->majorVersion = static_cast<long long>(id);
      summary->minorVersion = 2;
      summary->active = true;
      return std::list<std::shared_ptr<const Tpm::Summary>>{summary};
    });
  }

  void Get(const std::string& tpm, const Activation& activation,
           const Tpm::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(tpm);
    if (!id) return p_.Unidentified("tpm " + tpm, result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto bank = std::make_shared<TI::Hardware::Tpm::PcrBank>();
      bank->algorithm = TI::Hardware::Tpm::HashAlgorithm::SHA384;
      bank->pcrs[7] = Bytes(Tag(id));
      auto info = std::make_shared<Tpm::Info>();
      info->majorVersion = static_cast<long long>(id);
      info->active = id % 2 == 0;
      info->manufacturer = Tag(id);
      info->banks.push_back(bank);
      return std::shared_ptr<const Tpm::Info>(info);
    });
  }

 private:
  const Provision& p_;
};

class EndorsementKeysImpl final : public EndorsementKeys::AsyncServiceInterface {
 public:
  explicit EndorsementKeysImpl(const Provision& provision) : p_(provision) {}

  void List(const std::string& tpm, const ::Tovri::OptionalPtr<const EndorsementKeys::FilterSpec>& filter,
            const Activation& activation, const EndorsementKeys::ListMethod::ResultCbType& result) override {
    const auto id = ParseTag(tpm);
    if (!id) return p_.Unidentified("endorsement keys of " + tpm, result);
    if (!filter || !filter->types || filter->types->size() != 1) p_.ledger().Fail(*id, "filter lost");
    p_.Answer(*id, activation, result, [id = *id] {
      auto summary = std::make_shared<EndorsementKeys::Summary>();
      summary->key = Tag(id);
      summary->type = EndorsementKeys::Type::ECC_NIST_P_256;
      return std::list<std::shared_ptr<const EndorsementKeys::Summary>>{summary};
    });
  }

  void Get(const std::string& tpm, const std::string& key, const Activation& activation,
           const EndorsementKeys::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(tpm);
    if (!id) return p_.Unidentified("endorsement key of " + tpm, result);
    if (key != "k" + std::to_string(*id)) p_.ledger().Fail(*id, "key " + key);
    p_.Answer(*id, activation, result, [id = *id, key] {
      auto info = std::make_shared<EndorsementKeys::Info>();
      info->type = EndorsementKeys::Type::RSA_2048;
      info->publicKey = Tag(id) + "/" + key;
      info->certificate = Tag(id);
      return std::shared_ptr<const EndorsementKeys::Info>(info);
    });
  }

 private:
  const Provision& p_;
};

class EventLogImpl final : public EventLog::AsyncServiceInterface {
 public:
  explicit EventLogImpl(const Provision& provision) : p_(provision) {}

  void Get(const std::string& tpm, const Activation& activation,
           const EventLog::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(tpm);
    if (!id) return p_.Unidentified("event log of " + tpm, result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto info = std::make_shared<EventLog::Info>();
      info->type = EventLog::Type::TCG_CRYPTO_AGILE;
      info->tcgCryptoAgile = Bytes(Tag(id));
      info->truncated = id % 2 == 1;
      return std::shared_ptr<const EventLog::Info>(info);
    });
  }

 private:
  const Provision& p_;
};

class AttestationServicesImpl final : public AttestationServices::AsyncServiceInterface {
 public:
  explicit AttestationServicesImpl(const Provision& provision) : p_(provision) {}

  void List(const ::Tovri::OptionalPtr<const AttestationServices::FilterSpec>& filter,
            const Activation& activation,
            const AttestationServices::ListMethod::ResultCbType& result) override {
    const auto id = filter && filter->services && filter->services->size() == 1
                        ? ParseTag(*filter->services->begin())
                        : boost::none;
    if (!id) return p_.Unidentified("attestation services filter", result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto summary = std::make_shared<AttestationServices::Summary>();
      summary->service = Tag(id);
      summary->address = Address(Tag(id), static_cast<long long>(id % 65536));
      summary->group = "g";
      return std::list<std::shared_ptr<const AttestationServices::Summary>>{summary};
    });
  }

  void Get(const std::string& service, const Activation& activation,
           const AttestationServices::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(service);
    if (!id) return p_.Unidentified("attestation service " + service, result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto info = std::make_shared<AttestationServices::Info>();
      info->address = Address(Tag(id), 443);
      info->trustedCA = Chain(Tag(id));
      info->group = Tag(id);
      return std::shared_ptr<const AttestationServices::Info>(info);
    });
  }

  void Create(const std::shared_ptr<const AttestationServices::CreateSpec>& spec,
              const Activation& activation,
              const AttestationServices::CreateMethod::ResultCbType& result) override {
    const auto id = spec && spec->address ? ParseTag(spec->address->hostname) : boost::none;
    if (!id) return p_.Unidentified("attestation service spec", result);
    if (!spec->trustedCA || spec->trustedCA->certChain.size() != 2) p_.ledger().Fail(*id, "chain lost");
    p_.Answer(*id, activation, result, [id = *id] { return Tag(id); });
  }

  void Delete(const std::string& service, const Activation& activation,
              const AttestationServices::DeleteMethod::ResultCbType& result) override {
    const auto id = ParseTag(service);
    if (!id) return p_.Unidentified("attestation service " + service, result);
    p_.Answer(*id, activation, result, [] { return ::Tovri::Void(); });
  }

 private:
  const Provision& p_;
};

class ReportsImpl final : public Reports::AsyncServiceInterface {
 public:
  explicit ReportsImpl(const Provision& provision) : p_(provision) {}

  // No parameters: the id travels in the call's own activation.
  void List(const Activation& activation, const Reports::ListMethod::ResultCbType& result) override {
    boost::optional<std::uint64_t> id;
    if (activation) {
      const auto call = activation->properties.find(kCallProperty);
      if (call != activation->properties.end()) id = ParseTag(call->second);
    }
    if (!id) return p_.Unidentified("reports list activation", result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto jwt = std::make_shared<Reports::ReportingJwt>();
      jwt->service = Tag(id);
      jwt->group = "g";
      jwt->jwt = "header.payload.signature";
      auto summary = std::make_shared<Reports::Summary>();
      summary->report = Tag(id);
      summary->type = Reports::ReportType::REPORTING_JWT;
      summary->reportingJwt = jwt;
      return std::list<std::shared_ptr<const Reports::Summary>>{summary};
    });
  }

 private:
  const Provision& p_;
};

class KmsProvidersImpl final : public KmsProviders::AsyncServiceInterface {
 public:
  explicit KmsProvidersImpl(const Provision& provision) : p_(provision) {}

  void List(const ::Tovri::OptionalPtr<const KmsProviders::FilterSpec>& filterSpec,
            const Activation& activation, const KmsProviders::ListMethod::ResultCbType& result) override {
    const auto id = filterSpec && filterSpec->providers && filterSpec->providers->size() == 1
                        ? ParseTag(*filterSpec->providers->begin())
                        : boost::none;
    if (!id) return p_.Unidentified("providers filter", result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto summary = std::make_shared<KmsProviders::Summary>();
      summary->provider = Tag(id);
      summary->available = true;
      summary->health = KmsProviders::Health::OK;
      summary->type = KmsProviders::ProviderType::NATIVE;
      return std::list<std::shared_ptr<const KmsProviders::Summary>>{summary};
    });
  }

  void Create(const std::shared_ptr<const KmsProviders::CreateSpec>& spec, const Activation& activation,
              const KmsProviders::CreateMethod::ResultCbType& result) override {
    const auto id = spec ? ParseTag(spec->provider) : boost::none;
    if (!id) return p_.Unidentified("provider spec", result);
    if (!spec->nativeSpec || spec->nativeSpec->keyId != Tag(*id) ||
        spec->nativeSpec->keyDerivationKey.Reveal() != "secret-" + Tag(*id)) {
      p_.ledger().Fail(*id, "native create spec lost");
    }
    p_.Answer(*id, activation, result, [] { return ::Tovri::Void(); });
  }

  void Update(const std::string& provider, const std::shared_ptr<const KmsProviders::UpdateSpec>& spec,
              const Activation& activation, const KmsProviders::UpdateMethod::ResultCbType& result) override {
    const auto id = ParseTag(provider);
    if (!id) return p_.Unidentified("provider " + provider, result);
    if (!spec || !spec->nativeSpec || spec->nativeSpec->keyId != Tag(*id)) {
      p_.ledger().Fail(*id, "update spec lost");
    }
    p_.Answer(*id, activation, result, [] { return ::Tovri::Void(); });
  }

  void Delete(const std::string& provider, const Activation& activation,
              const KmsProviders::DeleteMethod::ResultCbType& result) override {
    const auto id = ParseTag(provider);
    if (!id) return p_.Unidentified("provider " + provider, result);
    p_.Answer(*id, activation, result, [] { return ::Tovri::Void(); });
  }

  void Get(const std::string& provider, const Activation& activation,
           const KmsProviders::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(provider);
    if (!id) return p_.Unidentified("provider " + provider, result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto native = std::make_shared<KmsProviders::NativeProviderInfo>();
      native->keyId = Tag(id);
      auto info = std::make_shared<KmsProviders::Info>();
      info->type = KmsProviders::ProviderType::NATIVE;
      info->nativeInfo = native;
      return std::shared_ptr<const KmsProviders::Info>(info);
    });
  }

 private:
  const Provision& p_;
};

class KmsServicesImpl final : public KmsServices::AsyncServiceInterface {
 public:
  explicit KmsServicesImpl(const Provision& provision) : p_(provision) {}

  void List(const ::Tovri::OptionalPtr<const KmsServices::FilterSpec>& filter, const Activation& activation,
            const KmsServices::ListMethod::ResultCbType& result) override {
    const auto id = filter && filter->services && filter->services->size() == 1
                        ? ParseTag(*filter->services->begin())
                        : boost::none;
    if (!id) return p_.Unidentified("kms services filter", result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto summary = std::make_shared<KmsServices::Summary>();
      summary->service = Tag(id);
      summary->address = Address(Tag(id), 5696);
      summary->group = "g";
      return std::list<std::shared_ptr<const KmsServices::Summary>>{summary};
    });
  }

  void Get(const std::string& service, const Activation& activation,
           const KmsServices::GetMethod::ResultCbType& result) override {
    const auto id = ParseTag(service);
    if (!id) return p_.Unidentified("kms service " + service, result);
    p_.Answer(*id, activation, result, [id = *id] {
      auto client = std::make_shared<TI::ApiClientInfo>();
      client->clientId = Tag(id);
      auto info = std::make_shared<KmsServices::Info>();
      info->address = Address(Tag(id), 5696);
      info->trustedCA = Chain(Tag(id));
      info->apiClient = client;
      info->group = "g";
      return std::shared_ptr<const KmsServices::Info>(info);
    });
  }

  void Create(const std::shared_ptr<const KmsServices::CreateSpec>& spec, const Activation& activation,
              const KmsServices::CreateMethod::ResultCbType& result) override {
    const auto id = spec && spec->address ? ParseTag(spec->address->hostname) : boost::none;
    if (!id) return p_.Unidentified("kms service spec", result);
    if (!spec->apiClient || spec->apiClient->clientSecret.Reveal() != "secret-" + Tag(*id)) {
      p_.ledger().Fail(*id, "api client spec lost");
    }
    p_.Answer(*id, activation, result, [id = *id] { return Tag(id); });
  }

  void Delete(const std::string& service, const Activation& activation,
              const KmsServices::DeleteMethod::ResultCbType& result) override {
    const auto id = ParseTag(service);
    if (!id) return p_.Unidentified("kms service " + service, result);
    p_.Answer(*id, activation, result, [] { return ::Tovri::Void(); });
  }

 private:
  const Provision& p_;
};

// Binds one implementation of each service to `provider`; the
// implementations refer to `provision`, which must outlive the bindings.
inline bool BindAll(::Tovri::Core::LocalProvider& provider, const Provision& provision) {
  return provider.Register(
             Tpm::AsyncServiceBinder::BindImplementation(std::make_shared<TpmImpl>(provision))) &&
         provider.Register(EndorsementKeys::AsyncServiceBinder::BindImplementation(
             std::make_shared<EndorsementKeysImpl>(provision))) &&
         provider.Register(
             EventLog::AsyncServiceBinder::BindImplementation(std::make_shared<EventLogImpl>(provision))) &&
         provider.Register(AttestationServices::AsyncServiceBinder::BindImplementation(
             std::make_shared<AttestationServicesImpl>(provision))) &&
         provider.Register(
             Reports::AsyncServiceBinder::BindImplementation(std::make_shared<ReportsImpl>(provision))) &&
         provider.Register(KmsProviders::AsyncServiceBinder::BindImplementation(
             std::make_shared<KmsProvidersImpl>(provision))) &&
         provider.Register(KmsServices::AsyncServiceBinder::BindImplementation(
             std::make_shared<KmsServicesImpl>(provision)));
}

// ---------------------------------------------------------------------------
// Client side.

// One stub per service, shared by every calling thread.
struct Clients {
  explicit Clients(const std::shared_ptr<::Tovri::Stub::AsyncApiStub>& api)
      : tpm(api),
        endorsementKeys(api),
        eventLog(api),
        attestationServices(api),
        reports(api),
        kmsProviders(api),
        kmsServices(api) {}

  Tpm::AsyncServiceStub tpm;
  EndorsementKeys::AsyncServiceStub endorsementKeys;
  EventLog::AsyncServiceStub eventLog;
  AttestationServices::AsyncServiceStub attestationServices;
  Reports::AsyncServiceStub reports;
  KmsProviders::AsyncServiceStub kmsProviders;
  KmsServices::AsyncServiceStub kmsServices;
};

// The stub's default activation, marked so that implementations can tell a
// copy of it.
inline Activation DefaultActivation() {
  auto activation = std::make_shared<::Tovri::Core::AsyncActivation>();
  activation->properties[kOriginProperty] = kDefaultOrigin;
  return activation;
}

namespace Detail {

inline bool CarriesTag(const ErrorPtr& error, std::uint64_t id) {
  for (const auto& message : error->GetMessages()) {
    if (message.message.id == kErrorMessageId && message.message.args == std::list<std::string>{Tag(id)}) {
      return true;
    }
  }
  return false;
}

inline bool NamesExtraField(const ErrorPtr& error) {
  for (const auto& message : error->GetMessages()) {
    for (const auto& arg : message.message.args) {
      if (arg == kExtraField) return true;
    }
  }
  return false;
}

// Empty when the final answer is the one the plan of `id` asks for.
template <class T, class Check>
std::string Judge(std::uint64_t id, const boost::optional<T>& value, const ErrorPtr& error,
                  const Check& check) {
  const Plan plan = PlanFor(id);
  const std::string got = value ? std::string("a value") : error ? "error " + error->GetId() : "nothing";
  switch (plan.outcome) {
    case Outcome::kValue:
      if (!value || error) return "expected a value, got " + got;
      return check(*value) ? std::string() : "value of another call";
    case Outcome::kDeclaredError:
      if (value || !error || error->GetId() != kDeclaredErrorId)
        return "expected the declared error, got " + got;
      return CarriesTag(error, id) ? std::string() : "declared error of another call";
    case Outcome::kUndeclaredError:
      if (value || !error || error->GetId() != kInternalServerErrorId) {
        return "expected internal_server_error for an undeclared error, got " + got;
      }
      return std::string();
    case Outcome::kRefused:
      if (value || !error || error->GetId() != kInvalidArgumentId)
        return "expected invalid_argument, got " + got;
      return NamesExtraField(error) ? std::string() : "invalid_argument without the undeclared field";
  }
  return "unknown plan";
}

}  // namespace Detail

// The result of call `id`: progress reports and the final answer go to the
// ledger, the final answer judged against the plan and `check`.
template <class Method, class Check>
typename Method::ResultCbType Track(Ledger& ledger, std::uint64_t id, Check check) {
  using T = typename Method::ResultCbType::ValueType;
  return typename Method::ResultCbType([&ledger, id, check](const boost::optional<T>& value,
                                                            const ErrorPtr& error,
                                                            const ::Tovri::Progress& progress) {
    if (!value && !error && progress != ::Tovri::FinalProgress()) {
      ledger.OnProgress(id, progress);
    } else {
      ledger.OnFinal(id, Detail::Judge(id, value, error, check));
    }
  });
}

// An undeclared field for the structure a refused call carries.
template <class S>
void AddExtraField(S& structure) {
  structure.unknownFields = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  structure.unknownFields->SetField(kExtraField, ::Tovri::Data::StringValue::GetInstance("extra"));
}

template <class S>
void MaybeRefuse(const Plan& plan, S& structure) {
  if (plan.outcome == Outcome::kRefused) AddExtraField(structure);
}

// Issues call `id` through the shared stubs; its answers reach `ledger`.
inline void Issue(Clients& clients, Ledger& ledger, std::uint64_t id) {
  const Plan plan = PlanFor(id);
  Activation activation;
  if (plan.ownActivation) {
    activation = std::make_shared<::Tovri::Core::AsyncActivation>();
    activation->properties[kCallProperty] = Tag(id);
  }
  const std::string tag = Tag(id);
  const auto one = [](const auto& list) { return list.size() == 1 && list.front(); };
  const auto voidAnswer = [](const ::Tovri::Void&) { return true; };

  switch (plan.operation) {
    case Operation::kTpmList: {
      auto filter = std::make_shared<Tpm::FilterSpec>();
      filter->majorVersions = std::set<long long>{static_cast<long long>(id)};
      filter->active = true;
      MaybeRefuse(plan, *filter);
      clients.tpm.List(::Tovri::OptionalPtr<const Tpm::FilterSpec>(filter), activation,
                       Track<Tpm::ListMethod>(ledger, id, [one, id, tag](const auto& list) {
                         return one(list) && list.front()->tpm == tag &&
                                list.front()->majorVersion == static_cast<long long>(id);
                       }));
      break;
    }
    case Operation::kTpmGet:
      clients.tpm.Get(tag, activation, Track<Tpm::GetMethod>(ledger, id, [tag](const auto& info) {
                        return info && info->manufacturer == tag && info->banks.size() == 1 &&
                               info->banks.front()->pcrs.count(7) == 1 &&
                               info->banks.front()->pcrs.at(7) == Bytes(tag);
                      }));
      break;
    case Operation::kEndorsementKeysList: {
      auto filter = std::make_shared<EndorsementKeys::FilterSpec>();
      filter->types = std::set<EndorsementKeys::Type>{EndorsementKeys::Type::ECC_NIST_P_256};
      MaybeRefuse(plan, *filter);
      clients.endorsementKeys.List(
          tag, ::Tovri::OptionalPtr<const EndorsementKeys::FilterSpec>(filter), activation,
          Track<EndorsementKeys::ListMethod>(
              ledger, id, [one, tag](const auto& list) { return one(list) && list.front()->key == tag; }));
      break;
    }
    case Operation::kEndorsementKeysGet: {
      const std::string key = "k" + std::to_string(id);
      clients.endorsementKeys.Get(tag, key, activation,
                                  Track<EndorsementKeys::GetMethod>(ledger, id, [tag, key](const auto& info) {
                                    return info && info->publicKey == tag + "/" + key;
                                  }));
      break;
    }
    case Operation::kEventLogGet:
      clients.eventLog.Get(tag, activation, Track<EventLog::GetMethod>(ledger, id, [tag](const auto& info) {
                             return info && info->tcgCryptoAgile && *info->tcgCryptoAgile == Bytes(tag);
                           }));
      break;
    case Operation::kAttestationServicesList: {
      auto filter = std::make_shared<AttestationServices::FilterSpec>();
      filter->services = std::set<std::string>{tag};
      MaybeRefuse(plan, *filter);
      clients.attestationServices.List(
          ::Tovri::OptionalPtr<const AttestationServices::FilterSpec>(filter), activation,
          Track<AttestationServices::ListMethod>(ledger, id, [one, tag](const auto& list) {
            return one(list) && list.front()->service == tag && list.front()->address &&
                   list.front()->address->hostname == tag;
          }));
      break;
    }
    case Operation::kAttestationServicesGet:
      clients.attestationServices.Get(
          tag, activation, Track<AttestationServices::GetMethod>(ledger, id, [tag](const auto& info) {
            return info && info->group == tag && info->trustedCA && info->trustedCA->certChain.front() == tag;
          }));
      break;
    case Operation::kAttestationServicesCreate: {
      auto spec = std::make_shared<AttestationServices::CreateSpec>();
      spec->address = Address(tag, 443);
      spec->trustedCA = Chain("leaf");
      spec->group = "g";
      MaybeRefuse(plan, *spec);
      clients.attestationServices.Create(
          spec, activation,
          Track<AttestationServices::CreateMethod>(ledger, id,
                                                   [tag](const std::string& got) { return got == tag; }));
      break;
    }
    case Operation::kAttestationServicesDelete:
      clients.attestationServices.Delete(tag, activation,
                                         Track<AttestationServices::DeleteMethod>(ledger, id, voidAnswer));
      break;
    case Operation::kReportsList:
      clients.reports.List(activation, Track<Reports::ListMethod>(ledger, id, [one, tag](const auto& list) {
                             return one(list) && list.front()->report == tag && list.front()->reportingJwt &&
                                    list.front()->reportingJwt->service == tag;
                           }));
      break;
    case Operation::kKmsProvidersList: {
      auto filter = std::make_shared<KmsProviders::FilterSpec>();
      filter->providers = std::set<std::string>{tag};
      MaybeRefuse(plan, *filter);
      clients.kmsProviders.List(::Tovri::OptionalPtr<const KmsProviders::FilterSpec>(filter), activation,
                                Track<KmsProviders::ListMethod>(ledger, id, [one, tag](const auto& list) {
                                  return one(list) && list.front()->provider == tag && list.front()->health &&
                                         list.front()->health->value() == KmsProviders::Health::OK;
                                }));
      break;
    }
    case Operation::kKmsProvidersCreate: {
      auto native = std::make_shared<KmsProviders::NativeProviderCreateSpec>();
      native->keyId = tag;
      native->keyDerivationKey = ::Tovri::SecretString("secret-" + tag);
      auto spec = std::make_shared<KmsProviders::CreateSpec>();
      spec->provider = tag;
      spec->nativeSpec = native;
      MaybeRefuse(plan, *spec);
      clients.kmsProviders.Create(spec, activation,
                                  Track<KmsProviders::CreateMethod>(ledger, id, voidAnswer));
      break;
    }
    case Operation::kKmsProvidersUpdate: {
      auto native = std::make_shared<KmsProviders::NativeProviderUpdateSpec>();
      native->keyId = tag;
      auto spec = std::make_shared<KmsProviders::UpdateSpec>();
      spec->nativeSpec = native;
      MaybeRefuse(plan, *spec);
      clients.kmsProviders.Update(tag, spec, activation,
                                  Track<KmsProviders::UpdateMethod>(ledger, id, voidAnswer));
      break;
    }
    case Operation::kKmsProvidersDelete:
      clients.kmsProviders.Delete(tag, activation, Track<KmsProviders::DeleteMethod>(ledger, id, voidAnswer));
      break;
    case Operation::kKmsProvidersGet:
      clients.kmsProviders.Get(tag, activation,
                               Track<KmsProviders::GetMethod>(ledger, id, [tag](const auto& info) {
                                 return info && info->nativeInfo && info->nativeInfo->keyId == tag;
                               }));
      break;
    case Operation::kKmsServicesList: {
      auto filter = std::make_shared<KmsServices::FilterSpec>();
      filter->services = std::set<std::string>{tag};
      MaybeRefuse(plan, *filter);
      clients.kmsServices.List(::Tovri::OptionalPtr<const KmsServices::FilterSpec>(filter), activation,
                               Track<KmsServices::ListMethod>(ledger, id, [one, tag](const auto& list) {
                                 return one(list) && list.front()->service == tag;
                               }));
      break;
    }
    case Operation::kKmsServicesGet:
      clients.kmsServices.Get(tag, activation,
                              Track<KmsServices::GetMethod>(ledger, id, [tag](const auto& info) {
                                return info && info->apiClient && info->apiClient->clientId == tag;
                              }));
      break;
    case Operation::kKmsServicesCreate: {
      auto client = std::make_shared<TI::ApiClientSpec>();
      client->clientId = tag;
      client->clientSecret = ::Tovri::SecretString("secret-" + tag);
      auto spec = std::make_shared<KmsServices::CreateSpec>();
      spec->address = Address(tag, 5696);
      spec->trustedCA = Chain("leaf");
      spec->apiClient = client;
      spec->group = "g";
      MaybeRefuse(plan, *spec);
      clients.kmsServices.Create(
          spec, activation,
          Track<KmsServices::CreateMethod>(ledger, id, [tag](const std::string& got) { return got == tag; }));
      break;
    }
    case Operation::kKmsServicesDelete:
      clients.kmsServices.Delete(tag, activation, Track<KmsServices::DeleteMethod>(ledger, id, voidAnswer));
      break;
  }
}

}  // namespace Stress
}  // namespace Dral
