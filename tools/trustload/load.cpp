#include "load.hpp"

#include <openssl/rand.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include <boost/optional.hpp>
#include <dral/tovri_bindings.hpp>
#include <tovri/http/client.hpp>

#include "process.hpp"

namespace Trustload {
namespace {

namespace ti = ::Com::Corvane::Morv::TrustedInfrastructure;
using TpmSvc = ti::Hardware::TpmSvc;
using KeysSvc = ti::Hardware::Tpm::EndorsementKeysSvc;
using EventLogSvc = ti::Hardware::Tpm::EventLogSvc;
using AttestationSvc = ti::Attestation::ServicesSvc;
using ReportsSvc = ti::Attestation::ReportsSvc;
using ProvidersSvc = ti::Kms::ProvidersSvc;
using KeyServersSvc = ti::Kms::ServicesSvc;
using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;
using Api = std::shared_ptr<Tovri::Stub::AsyncApiStub>;
using Clock = std::chrono::steady_clock;

constexpr const char* kWrongValue = "trustload.wrong_value";
constexpr const char* kNoAnswer = "trustload.neither_value_nor_error";
constexpr const char* kAnsweredTwice = "trustload.answered_twice";
constexpr const char* kUnknownTpm = "tpm-absent-trustload";
// The daemon stores the chain as given; any non-empty PEM text will do.
constexpr const char* kCaPem =
    "-----BEGIN CERTIFICATE-----\nMIIBszCCAVmgAwIBAgIUdHJ1c3Rsb2FkIHRlc3QgY2VydGlmaWNhdGUwCgYIKoZI\n"
    "-----END CERTIFICATE-----\n";

// ---- Judging answers ------------------------------------------------------

struct Verdict {
  enum Kind { kOk, kExpectedError, kUnexpected } kind = kOk;
  std::string id;           // the error's, or a trustload.* id for a wrong value
  std::string description;  // for an unexpected answer
};

std::string FirstMessage(const ErrorPtr& error) {
  if (!error) return std::string();
  for (const auto& message : error->GetMessages())
    return message.localized ? *message.localized : message.message.defaultMessage;
  return std::string();
}

Verdict Ok() { return Verdict{}; }

Verdict Wrong(std::string what) { return Verdict{Verdict::kUnexpected, kWrongValue, std::move(what)}; }

// An answer without the value the step wanted.
Verdict NotAValue(const ErrorPtr& error) {
  if (!error) return Verdict{Verdict::kUnexpected, kNoAnswer, "the answer had neither a value nor an error"};
  return Verdict{Verdict::kUnexpected, error->GetId(), FirstMessage(error)};
}

// The step asked for the error `id`.
Verdict WantError(const std::string& id, bool hasValue, const ErrorPtr& error) {
  if (error && error->GetId() == id) return Verdict{Verdict::kExpectedError, id, {}};
  if (hasValue) return Wrong("a value where " + ShortErrorId(id) + " was expected");
  return NotAValue(error);
}

// Field-by-field equality through a canonical byte string per answer.
void Put(std::string& out, const std::string& text) {
  out += std::to_string(text.size());
  out += ':';
  out += text;
}
void Put(std::string& out, const std::vector<unsigned char>& bytes) {
  Put(out, std::string(bytes.begin(), bytes.end()));
}
void Put(std::string& out, long long number) { Put(out, std::to_string(number)); }
template <class T>
void Put(std::string& out, const boost::optional<T>& value) {
  if (value) return Put(out, *value);
  out += "-;";
}
template <class T>
void Put(std::string& out, const std::optional<T>& value) {
  if (value) return Put(out, *value);
  out += "-;";
}

template <class Bank>
void PutBanks(std::string& out, const std::list<std::shared_ptr<const Bank>>& banks) {
  Put(out, static_cast<long long>(banks.size()));
  for (const auto& bank : banks) {
    Put(out, bank->algorithm.ToString());
    for (const auto& [index, value] : bank->pcrs) {
      Put(out, static_cast<long long>(index));
      Put(out, value);
    }
  }
}

std::string Fingerprint(const TpmSvc::ListMethod::ResultCbType::ValueType& tpms) {
  std::string out;
  for (const auto& tpm : tpms) {
    Put(out, tpm->tpm);
    Put(out, static_cast<long long>(tpm->majorVersion));
    Put(out, static_cast<long long>(tpm->minorVersion));
    Put(out, tpm->active ? 1 : 0);
  }
  return out;
}
std::string Fingerprint(const TpmSvc::GetMethod::ResultCbType::ValueType& info) {
  std::string out;
  Put(out, static_cast<long long>(info->majorVersion));
  Put(out, static_cast<long long>(info->minorVersion));
  Put(out, info->active ? 1 : 0);
  Put(out, info->manufacturer);
  Put(out, info->model);
  Put(out, info->firmwareVersion);
  PutBanks(out, info->banks);
  return out;
}
std::string Fingerprint(const KeysSvc::ListMethod::ResultCbType::ValueType& keys) {
  std::string out;
  for (const auto& key : keys) {
    Put(out, key->key);
    Put(out, key->type.ToString());
  }
  return out;
}
std::string Fingerprint(const KeysSvc::GetMethod::ResultCbType::ValueType& info) {
  std::string out;
  Put(out, info->type.ToString());
  Put(out, info->publicKey);
  Put(out, info->certificate);
  Put(out, info->manufacturerCertificateUri);
  return out;
}
std::string Fingerprint(const EventLogSvc::GetMethod::ResultCbType::ValueType& info) {
  std::string out;
  Put(out, info->type.ToString());
  Put(out, info->tcgCryptoAgile);
  Put(out, info->truncated ? 1 : 0);
  PutBanks(out, info->banks);
  return out;
}
std::string Fingerprint(const ReportsSvc::ListMethod::ResultCbType::ValueType& reports) {
  std::string out;
  for (const auto& report : reports) {
    Put(out, report->report);
    Put(out, report->type.ToString());
    if (const auto& jwt = report->reportingJwt) {
      Put(out, jwt->service);
      Put(out, jwt->group);
      Put(out, jwt->jwt);
    }
  }
  return out;
}

// A reference answer: a fingerprint, or an error id.
struct Reference {
  std::string fingerprint;
  std::string errorId;  // set when the reference answer was an error
  std::string message;

  template <class T>
  Verdict Judge(const boost::optional<T>& value, const ErrorPtr& error) const {
    if (!errorId.empty()) return WantError(errorId, value.has_value(), error);
    if (!value) return NotAValue(error);
    if (Fingerprint(*value) != fingerprint) return Wrong("an answer other than the reference");
    return Ok();
  }
};

// ---- Calls ------------------------------------------------------------------

Api Connect(const RunSettings& settings, std::size_t maxIdleConnections) {
  Tovri::Http::ClientOptions options;
  options.host = settings.endpoint.host;
  options.port = settings.endpoint.port;
  options.ioThreads = 1;
  options.maxIdleConnections = maxIdleConnections;
  options.callTimeout = std::chrono::milliseconds(static_cast<long long>(settings.timeoutSeconds * 1000));
  if (settings.endpoint.tls) options.tls = Tovri::Http::TlsClientOptions{settings.cacert, {}, {}, {}};
  options.bearerToken = settings.token;
  return std::make_shared<Tovri::Stub::AsyncApiStub>(std::make_shared<Tovri::Http::Client>(options),
                                                     std::make_shared<Tovri::Core::AsyncActivation>());
}

template <class T>
struct Answer {
  boost::optional<T> value;
  ErrorPtr error;
};

// One call waited for (the reference calls, before the load).
template <class Method, class Invoke>
Answer<typename Method::ResultCbType::ValueType> Await(Invoke invoke, double timeoutSeconds) {
  using T = typename Method::ResultCbType::ValueType;
  auto promise = std::make_shared<std::promise<Answer<T>>>();
  auto once = std::make_shared<std::once_flag>();
  auto future = promise->get_future();
  const typename Method::ResultCbType done([promise, once](const boost::optional<T>& value,
                                                           const ErrorPtr& error,
                                                           const Tovri::Progress& progress) {
    if (!value && !error && progress.current != progress.max) return;
    std::call_once(*once, [&] { promise->set_value(Answer<T>{value, error}); });
  });
  invoke(done);
  // The client's own deadline answers every call; this only guards it.
  if (future.wait_for(std::chrono::duration<double>(timeoutSeconds + 10)) != std::future_status::ready)
    return Answer<T>{boost::none, Tovri::Data::ErrorValue::Create("com.corvane.tovri.std.errors.timed_out",
                                                                  std::list<Tovri::BaseMessage>{})};
  return future.get();
}

template <class T>
Reference MakeReference(const Answer<T>& answer) {
  Reference reference;
  if (answer.value) {
    reference.fingerprint = Fingerprint(*answer.value);
  } else {
    reference.errorId = answer.error ? answer.error->GetId() : kNoAnswer;
    reference.message = FirstMessage(answer.error);
  }
  return reference;
}

struct References {
  std::string tpm = "tpm0";
  std::string key = "ek-rsa-2048";
  Reference tpmList, tpmGet, keysList, keysGet, eventLog, reports;
};

bool TransportFailure(const ErrorPtr& error) {
  const std::string id = error ? error->GetId() : std::string();
  return id == "com.corvane.tovri.std.errors.service_unavailable" ||
         id == "com.corvane.tovri.std.errors.timed_out" || id == Tovri::Errors::kUnauthenticated ||
         id == Tovri::Errors::kUnauthorized;
}

Trustd::Result<References> FetchReferences(const RunSettings& settings) {
  using R = Trustd::Result<References>;
  const Api api = Connect(settings, 1);
  References references;
  const double timeout = settings.timeoutSeconds;
  const auto tpms = Await<TpmSvc::ListMethod>(
      [&](const auto& done) { TpmSvc::AsyncServiceStub(api).List(nullptr, nullptr, done); }, timeout);
  if (!tpms.value && TransportFailure(tpms.error))
    return R::Failure("trustd did not answer hardware.tpm/list: " + ShortErrorId(tpms.error->GetId()) + ": " +
                      FirstMessage(tpms.error));
  // The first TPM that answers (else the first listed) is the one loaded.
  if (tpms.value && !tpms.value->empty()) {
    references.tpm = tpms.value->front()->tpm;
    for (const auto& tpm : *tpms.value) {
      if (tpm->active) {
        references.tpm = tpm->tpm;
        break;
      }
    }
  }
  references.tpmList = MakeReference(tpms);
  const std::string& tpm = references.tpm;
  const auto keys = Await<KeysSvc::ListMethod>(
      [&](const auto& done) { KeysSvc::AsyncServiceStub(api).List(tpm, nullptr, nullptr, done); }, timeout);
  if (keys.value && !keys.value->empty()) references.key = keys.value->front()->key;
  references.keysList = MakeReference(keys);
  references.tpmGet = MakeReference(Await<TpmSvc::GetMethod>(
      [&](const auto& done) { TpmSvc::AsyncServiceStub(api).Get(tpm, nullptr, done); }, timeout));
  references.keysGet = MakeReference(Await<KeysSvc::GetMethod>(
      [&](const auto& done) { KeysSvc::AsyncServiceStub(api).Get(tpm, references.key, nullptr, done); },
      timeout));
  references.eventLog = MakeReference(Await<EventLogSvc::GetMethod>(
      [&](const auto& done) { EventLogSvc::AsyncServiceStub(api).Get(tpm, nullptr, done); }, timeout));
  references.reports = MakeReference(Await<ReportsSvc::ListMethod>(
      [&](const auto& done) { ReportsSvc::AsyncServiceStub(api).List(nullptr, done); }, timeout));
  return R::Success(std::move(references));
}

std::string RunTag() {
  unsigned char bytes[3] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    const auto now = static_cast<unsigned>(Clock::now().time_since_epoch().count());
    bytes[0] = static_cast<unsigned char>(now);
    bytes[1] = static_cast<unsigned char>(now >> 8);
    bytes[2] = static_cast<unsigned char>(now >> 16);
  }
  static const char* const kHex = "0123456789abcdef";
  std::string tag;
  for (unsigned char byte : bytes) {
    tag += kHex[byte >> 4];
    tag += kHex[byte & 15];
  }
  return tag;
}

// ---- Workers ----------------------------------------------------------------

enum class Phase { kWarmup, kMeasured, kCleanup };

// What all workers share.
struct Shared {
  Shared(const RunSettings& settings, const References& references, Measurements& measurements)
      : settings(settings), references(references), measurements(measurements), runTag(RunTag()) {}

  const RunSettings& settings;
  const References& references;
  Measurements& measurements;
  std::string runTag;
  Clock::time_point measureStart, end;
  std::atomic<std::uint64_t> measuredSent{0};
  std::atomic<std::int64_t> lastMeasuredAnswer{0};  // ns since measureStart
  std::atomic<int> inFlight{0};
  std::atomic<bool> closing{false};  // the run gave up waiting: send nothing more
  std::mutex mutex;
  std::condition_variable finished;
  int active = 0;
};

enum class Kind { kProvider, kAttestation, kKeyServer };

class Worker {
 public:
  Worker(int index, Shared& shared)
      : shared_(shared),
        api_(Connect(shared.settings, 1)),
        tag_(shared.runTag + "-w" + std::to_string(index)),
        group_("load-" + tag_),
        position_(StartOf(index, shared.settings.connections)),
        prelude_(PreludeFor(position_)),
        // Ids never created, for the "gone" steps before the first delete.
        goneProvider_("kp-" + tag_ + "-0"),
        goneAttestation_("as-" + tag_ + "-0"),
        goneKeyServer_("ks-" + tag_ + "-0") {}

  void Begin() { Next(); }

  // Destroys the client on the calling thread (never on its I/O thread):
  // calls still in flight are answered first.
  void Close() { api_.reset(); }

 private:
  // Sends the next call, or ends the worker.
  void Next() {
    for (;;) {
      if (shared_.closing.load()) return Finish();
      if (phase_ == Phase::kCleanup) {
        if (!SendCleanup()) return Finish();
        return;
      }
      const auto now = Clock::now();
      phase_ = now < shared_.measureStart ? Phase::kWarmup : Phase::kMeasured;
      bool stop = now >= shared_.end;
      if (!stop && phase_ == Phase::kMeasured && shared_.settings.calls)
        stop = shared_.measuredSent.fetch_add(1) >= *shared_.settings.calls;
      if (stop) {
        phase_ = Phase::kCleanup;
        if (provider_) leftovers_.emplace_back(Kind::kProvider, *provider_);
        if (attestation_) leftovers_.emplace_back(Kind::kAttestation, *attestation_);
        if (keyServer_) leftovers_.emplace_back(Kind::kKeyServer, *keyServer_);
        provider_.reset();
        attestation_.reset();
        keyServer_.reset();
        continue;
      }
      Step step = Cycle()[position_];
      if (!prelude_.empty()) {
        step = prelude_.front();
        prelude_.erase(prelude_.begin());
      } else {
        position_ = (position_ + 1) % Cycle().size();
      }
      if (Send(step)) return;
      // The step needs an entry a failed call never made: the next one.
      if (phase_ == Phase::kMeasured) {
        shared_.measurements.skipped.fetch_add(1);
        if (shared_.settings.calls) shared_.measuredSent.fetch_sub(1);
      }
    }
  }

  void Finish() {
    std::lock_guard<std::mutex> lock(shared_.mutex);
    --shared_.active;
    shared_.finished.notify_all();
  }

  template <class Method, class Invoke, class Judge>
  void Call(Operation operation, Invoke invoke, Judge judge) {
    using T = typename Method::ResultCbType::ValueType;
    const Phase phase = phase_;
    const Clock::time_point started = Clock::now();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    shared_.inFlight.fetch_add(1);
    const typename Method::ResultCbType done(
        [this, operation, phase, started, answered, judge](
            const boost::optional<T>& value, const ErrorPtr& error, const Tovri::Progress& progress) {
          if (!value && !error && progress.current != progress.max) return;
          const Clock::time_point now = Clock::now();
          if (answered->exchange(true)) {
            shared_.measurements.unexpected.Add(kAnsweredTwice, OperationName(operation));
            return;
          }
          Record(operation, phase, started, now, judge(value, error));
          shared_.inFlight.fetch_sub(1);
          Next();
        });
    invoke(done);
  }

  void Record(Operation operation, Phase phase, Clock::time_point started, Clock::time_point now,
              const Verdict& verdict) {
    Measurements& m = shared_.measurements;
    const std::string what = verdict.kind == Verdict::kUnexpected
                                 ? std::string(OperationName(operation)) + ": " + ShortErrorId(verdict.id) +
                                       (verdict.description.empty() ? "" : ": " + verdict.description)
                                 : std::string();
    switch (phase) {
      case Phase::kWarmup:
        m.warmupCalls.fetch_add(1);
        if (verdict.kind == Verdict::kUnexpected) {
          m.warmupUnexpected.fetch_add(1);
          m.outside.Add(verdict.id, "warm-up: " + what);
        }
        return;
      case Phase::kCleanup:
        m.cleanupCalls.fetch_add(1);
        if (verdict.kind == Verdict::kUnexpected) {
          m.cleanupUnexpected.fetch_add(1);
          m.outside.Add(verdict.id, "clean-up: " + what);
        }
        return;
      case Phase::kMeasured:
        break;
    }
    OperationStats& stats = m.operations[static_cast<std::size_t>(operation)];
    stats.latency.Record(static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now - started).count()));
    if (verdict.kind == Verdict::kUnexpected) {
      stats.unexpected.fetch_add(1);
      m.unexpected.Add(verdict.id, what);
    } else if (verdict.kind == Verdict::kExpectedError) {
      m.asked.Add(verdict.id, {});
    }
    const std::int64_t at =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - shared_.measureStart).count();
    std::int64_t last = shared_.lastMeasuredAnswer.load();
    while (at > last && !shared_.lastMeasuredAnswer.compare_exchange_weak(last, at)) {
    }
  }

  // ---- The steps ----

  // False when the step cannot run (its entry does not exist).
  bool Send(const Step& step) {
    const References& ref = shared_.references;
    const Variant variant = step.variant;
    switch (step.operation) {
      case Operation::kTpmList:
        Call<TpmSvc::ListMethod>(
            step.operation,
            [&](const auto& done) { TpmSvc::AsyncServiceStub(api_).List(nullptr, nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.tpmList.Judge(value, error); });
        return true;
      case Operation::kTpmGet:
        if (variant == Variant::kGone) {
          Call<TpmSvc::GetMethod>(
              step.operation,
              [&](const auto& done) { TpmSvc::AsyncServiceStub(api_).Get(kUnknownTpm, nullptr, done); },
              [](const auto& value, const ErrorPtr& error) {
                return WantError(Tovri::Errors::kNotFound, value.has_value(), error);
              });
          return true;
        }
        Call<TpmSvc::GetMethod>(
            step.operation,
            [&](const auto& done) { TpmSvc::AsyncServiceStub(api_).Get(ref.tpm, nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.tpmGet.Judge(value, error); });
        return true;
      case Operation::kEndorsementKeysList:
        Call<KeysSvc::ListMethod>(
            step.operation,
            [&](const auto& done) { KeysSvc::AsyncServiceStub(api_).List(ref.tpm, nullptr, nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.keysList.Judge(value, error); });
        return true;
      case Operation::kEndorsementKeysGet:
        Call<KeysSvc::GetMethod>(
            step.operation,
            [&](const auto& done) { KeysSvc::AsyncServiceStub(api_).Get(ref.tpm, ref.key, nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.keysGet.Judge(value, error); });
        return true;
      case Operation::kEventLogGet:
        Call<EventLogSvc::GetMethod>(
            step.operation,
            [&](const auto& done) { EventLogSvc::AsyncServiceStub(api_).Get(ref.tpm, nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.eventLog.Judge(value, error); });
        return true;
      case Operation::kReportsList:
        Call<ReportsSvc::ListMethod>(
            step.operation, [&](const auto& done) { ReportsSvc::AsyncServiceStub(api_).List(nullptr, done); },
            [&ref](const auto& value, const ErrorPtr& error) { return ref.reports.Judge(value, error); });
        return true;
      case Operation::kProvidersCreate:
        return CreateProvider(variant);
      case Operation::kProvidersGet:
        return GetProvider(variant);
      case Operation::kProvidersList:
        return ListProviders(variant);
      case Operation::kProvidersUpdate:
        return UpdateProvider();
      case Operation::kProvidersDelete:
        return Delete(Kind::kProvider);
      case Operation::kAttestationServicesCreate:
        return CreateRemote<AttestationSvc>(Kind::kAttestation, variant);
      case Operation::kAttestationServicesGet:
        return GetRemote<AttestationSvc>(Kind::kAttestation, variant);
      case Operation::kAttestationServicesList:
        return ListRemotes<AttestationSvc>(Kind::kAttestation, variant);
      case Operation::kAttestationServicesDelete:
        return Delete(Kind::kAttestation);
      case Operation::kKeyServersCreate:
        return CreateRemote<KeyServersSvc>(Kind::kKeyServer, variant);
      case Operation::kKeyServersGet:
        return GetRemote<KeyServersSvc>(Kind::kKeyServer, variant);
      case Operation::kKeyServersList:
        return ListRemotes<KeyServersSvc>(Kind::kKeyServer, variant);
      case Operation::kKeyServersDelete:
        return Delete(Kind::kKeyServer);
    }
    return false;
  }

  std::optional<std::string>& Live(Kind kind) {
    return kind == Kind::kProvider ? provider_ : kind == Kind::kAttestation ? attestation_ : keyServer_;
  }
  std::string& Gone(Kind kind) {
    return kind == Kind::kProvider      ? goneProvider_
           : kind == Kind::kAttestation ? goneAttestation_
                                        : goneKeyServer_;
  }

  // An entry of a kind is about to be replaced; one still live (its delete
  // failed) is left for the clean-up.
  void Retire(Kind kind) {
    if (Live(kind)) leftovers_.emplace_back(kind, *Live(kind));
    Live(kind).reset();
  }

  bool CreateProvider(Variant variant) {
    auto spec = std::make_shared<ProvidersSvc::CreateSpec>();
    auto native = std::make_shared<ProvidersSvc::NativeProviderCreateSpec>();
    native->keyDerivationKey = Tovri::SecretString("trustload-kdk-" + shared_.runTag);
    if (variant == Variant::kDuplicate) {
      if (!provider_) return false;
      spec->provider = *provider_;
      native->keyId = "key-other";
      spec->nativeSpec = native;
      Call<ProvidersSvc::CreateMethod>(
          Operation::kProvidersCreate,
          [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).Create(spec, nullptr, done); },
          [](const auto& value, const ErrorPtr& error) {
            return WantError(Tovri::Errors::kAlreadyExists, value.has_value(), error);
          });
      return true;
    }
    Retire(Kind::kProvider);
    const std::string id = "kp-" + tag_ + "-" + std::to_string(++serial_);
    const std::string key = "key-" + std::to_string(serial_) + "-0";
    spec->provider = id;
    native->keyId = key;
    spec->nativeSpec = native;
    Call<ProvidersSvc::CreateMethod>(
        Operation::kProvidersCreate,
        [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).Create(spec, nullptr, done); },
        [this, id, key](const auto& value, const ErrorPtr& error) {
          if (!value) {
            // It may exist all the same (an answer lost after the commit).
            leftovers_.emplace_back(Kind::kProvider, id);
            return NotAValue(error);
          }
          provider_ = id;
          providerKey_ = key;
          return Ok();
        });
    return true;
  }

  bool GetProvider(Variant variant) {
    const std::string id = variant == Variant::kGone ? goneProvider_ : provider_.value_or("");
    if (id.empty()) return false;
    Call<ProvidersSvc::GetMethod>(
        Operation::kProvidersGet,
        [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).Get(id, nullptr, done); },
        [variant, key = providerKey_](const auto& value, const ErrorPtr& error) {
          if (variant == Variant::kGone) return WantError(Tovri::Errors::kNotFound, value.has_value(), error);
          if (!value) return NotAValue(error);
          const auto& info = *value;
          if (info->type != ProvidersSvc::ProviderType::NATIVE || !info->nativeInfo)
            return Wrong("not a native provider");
          if (info->nativeInfo->keyId != key)
            return Wrong("key " + info->nativeInfo->keyId + " where " + key + " was set");
          return Ok();
        });
    return true;
  }

  bool ListProviders(Variant variant) {
    const std::string id = variant == Variant::kGone ? goneProvider_ : provider_.value_or("");
    if (id.empty()) return false;
    auto filter = std::make_shared<ProvidersSvc::FilterSpec>();
    filter->providers = std::set<std::string>{id};
    Call<ProvidersSvc::ListMethod>(
        Operation::kProvidersList,
        [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).List(filter, nullptr, done); },
        [variant, id](const auto& value, const ErrorPtr& error) {
          if (!value) return NotAValue(error);
          const auto& list = *value;
          if (variant == Variant::kGone) return list.empty() ? Ok() : Wrong("a deleted provider listed");
          if (list.size() != 1) return Wrong(std::to_string(list.size()) + " providers listed for one id");
          const auto& summary = list.front();
          if (summary->provider != id) return Wrong("provider " + summary->provider + " listed for " + id);
          if (!summary->available || !summary->health || *summary->health != ProvidersSvc::Health::OK)
            return Wrong("provider " + id + " is not available and healthy");
          return Ok();
        });
    return true;
  }

  bool UpdateProvider() {
    if (!provider_) return false;
    const std::string id = *provider_;
    const std::string key = "key-" + std::to_string(serial_) + "-" + std::to_string(++updates_);
    auto spec = std::make_shared<ProvidersSvc::UpdateSpec>();
    auto native = std::make_shared<ProvidersSvc::NativeProviderUpdateSpec>();
    native->keyId = key;
    spec->nativeSpec = native;
    Call<ProvidersSvc::UpdateMethod>(
        Operation::kProvidersUpdate,
        [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).Update(id, spec, nullptr, done); },
        [this, key](const auto& value, const ErrorPtr& error) {
          if (!value) return NotAValue(error);
          providerKey_ = key;
          return Ok();
        });
    return true;
  }

  // The address the worker gave its live entry of `kind`.
  const std::string& Host(Kind kind) const { return hosts_[static_cast<int>(kind)]; }
  static int Port(Kind kind) { return kind == Kind::kAttestation ? 443 : 5696; }

  template <class Svc>
  bool CreateRemote(Kind kind, Variant variant) {
    auto spec = std::make_shared<typename Svc::CreateSpec>();
    auto address = std::make_shared<ti::NetworkAddress>();
    address->port = Port(kind);
    auto chain = std::make_shared<ti::X509CertChain>();
    chain->certChain = {kCaPem};
    spec->trustedCA = chain;
    spec->group = group_;
    if constexpr (std::is_same_v<Svc, KeyServersSvc>) {
      auto client = std::make_shared<ti::ApiClientSpec>();
      client->clientId = "client-" + tag_;
      client->clientName = std::string("trustload");
      client->clientSecret = Tovri::SecretString("trustload-secret-" + shared_.runTag);
      spec->apiClient = client;
    }
    const Operation operation =
        kind == Kind::kAttestation ? Operation::kAttestationServicesCreate : Operation::kKeyServersCreate;
    if (variant == Variant::kDuplicate) {
      // Another entry at the live one's address.
      if (!Live(kind)) return false;
      address->hostname = Host(kind);
      spec->address = address;
      Call<typename Svc::CreateMethod>(
          operation,
          [&](const auto& done) { typename Svc::AsyncServiceStub(api_).Create(spec, nullptr, done); },
          [](const auto& value, const ErrorPtr& error) {
            return WantError(Tovri::Errors::kAlreadyExists, value.has_value(), error);
          });
      return true;
    }
    Retire(kind);
    hosts_[static_cast<int>(kind)] =
        (kind == Kind::kAttestation ? "as-" : "ks-") + tag_ + "-" + std::to_string(++hostSerial_) + ".load";
    address->hostname = Host(kind);
    spec->address = address;
    const char* prefix = kind == Kind::kAttestation ? "as-" : "ks-";
    Call<typename Svc::CreateMethod>(
        operation,
        [&](const auto& done) { typename Svc::AsyncServiceStub(api_).Create(spec, nullptr, done); },
        [this, kind, prefix](const auto& value, const ErrorPtr& error) {
          if (!value) return NotAValue(error);
          const std::string& id = *value;
          if (id.size() != 15 || id.compare(0, 3, prefix) != 0) return Wrong("new identifier \"" + id + "\"");
          Live(kind) = id;
          return Ok();
        });
    return true;
  }

  // What differs from the address and group the worker gave its entry.
  template <class Entry>
  static std::string CheckAddressAndGroup(const Entry& entry, const std::string& host, int port,
                                          const std::string& group) {
    if (!entry.address || entry.address->hostname != host || !entry.address->port ||
        *entry.address->port != port)
      return "address other than " + host + ":" + std::to_string(port);
    if (entry.group != group) return "group " + entry.group + " where " + group + " was set";
    return std::string();
  }

  template <class Svc>
  bool GetRemote(Kind kind, Variant variant) {
    const std::string id = variant == Variant::kGone ? Gone(kind) : Live(kind).value_or("");
    if (id.empty()) return false;
    const Operation operation =
        kind == Kind::kAttestation ? Operation::kAttestationServicesGet : Operation::kKeyServersGet;
    Call<typename Svc::GetMethod>(
        operation, [&](const auto& done) { typename Svc::AsyncServiceStub(api_).Get(id, nullptr, done); },
        [variant, host = Host(kind), port = Port(kind), group = group_, client = "client-" + tag_](
            const auto& value, const ErrorPtr& error) {
          if (variant == Variant::kGone) return WantError(Tovri::Errors::kNotFound, value.has_value(), error);
          if (!value) return NotAValue(error);
          const auto& info = **value;
          std::string wrong = CheckAddressAndGroup(info, host, port, group);
          if (wrong.empty() && (!info.trustedCA || info.trustedCA->certChain.size() != 1 ||
                                info.trustedCA->certChain.front() != kCaPem))
            wrong = "a CA chain other than the one given";
          if constexpr (std::is_same_v<Svc, KeyServersSvc>) {
            if (wrong.empty() && (!info.apiClient || info.apiClient->clientId != client))
              wrong = "an API client other than the one given";
          }
          return wrong.empty() ? Ok() : Wrong(wrong);
        });
    return true;
  }

  template <class Svc>
  bool ListRemotes(Kind kind, Variant variant) {
    const std::string id = variant == Variant::kGone ? Gone(kind) : Live(kind).value_or("");
    if (id.empty()) return false;
    auto filter = std::make_shared<typename Svc::FilterSpec>();
    filter->services = std::set<std::string>{id};
    filter->group = std::set<std::string>{group_};
    const Operation operation =
        kind == Kind::kAttestation ? Operation::kAttestationServicesList : Operation::kKeyServersList;
    Call<typename Svc::ListMethod>(
        operation,
        [&](const auto& done) { typename Svc::AsyncServiceStub(api_).List(filter, nullptr, done); },
        [variant, id, host = Host(kind), port = Port(kind), group = group_](const auto& value,
                                                                            const ErrorPtr& error) {
          if (!value) return NotAValue(error);
          const auto& list = *value;
          if (variant == Variant::kGone) return list.empty() ? Ok() : Wrong("a deleted entry listed");
          if (list.size() != 1) return Wrong(std::to_string(list.size()) + " entries listed for one id");
          if (list.front()->service != id) return Wrong(list.front()->service + " listed for " + id);
          const std::string wrong = CheckAddressAndGroup(*list.front(), host, port, group);
          return wrong.empty() ? Ok() : Wrong(wrong);
        });
    return true;
  }

  // Deletes the live entry of `kind`; during clean-up `id` names a leftover,
  // which may already be gone.
  bool Delete(Kind kind, const std::string& leftover = std::string()) {
    const bool cleanup = !leftover.empty();
    const std::string id = cleanup ? leftover : Live(kind).value_or("");
    if (id.empty()) return false;
    const auto judge = [this, kind, id, cleanup](const auto& value, const ErrorPtr& error) {
      if (cleanup) {
        if (value || (error && error->GetId() == Tovri::Errors::kNotFound)) return Ok();
        return NotAValue(error);
      }
      // Until it is known gone, it stays to be cleaned up.
      Retire(kind);
      if (!value) return NotAValue(error);
      leftovers_.pop_back();
      Gone(kind) = id;
      return Ok();
    };
    switch (kind) {
      case Kind::kProvider:
        Call<ProvidersSvc::DeleteMethod>(
            Operation::kProvidersDelete,
            [&](const auto& done) { ProvidersSvc::AsyncServiceStub(api_).Delete(id, nullptr, done); }, judge);
        break;
      case Kind::kAttestation:
        Call<AttestationSvc::DeleteMethod>(
            Operation::kAttestationServicesDelete,
            [&](const auto& done) { AttestationSvc::AsyncServiceStub(api_).Delete(id, nullptr, done); },
            judge);
        break;
      case Kind::kKeyServer:
        Call<KeyServersSvc::DeleteMethod>(
            Operation::kKeyServersDelete,
            [&](const auto& done) { KeyServersSvc::AsyncServiceStub(api_).Delete(id, nullptr, done); },
            judge);
        break;
    }
    return true;
  }

  // The next leftover deleted; false when none is left.
  bool SendCleanup() {
    if (leftovers_.empty()) return false;
    const auto [kind, id] = leftovers_.back();
    leftovers_.pop_back();
    return Delete(kind, id);
  }

  Shared& shared_;
  Api api_;
  const std::string tag_;
  const std::string group_;
  std::size_t position_;
  std::vector<Step> prelude_;
  Phase phase_ = Phase::kWarmup;
  int serial_ = 0;   // names of a round's entries
  int updates_ = 0;  // key ids of a provider's updates
  int hostSerial_ = 0;
  std::string hosts_[3];
  std::optional<std::string> provider_, attestation_, keyServer_;
  std::string providerKey_;
  std::string goneProvider_, goneAttestation_, goneKeyServer_;
  std::vector<std::pair<Kind, std::string>> leftovers_;
};

}  // namespace

Trustd::Result<Done> RunLoad(const RunSettings& settings, Measurements& measurements) {
  using R = Trustd::Result<Done>;
  measurements.connections = settings.connections;
  measurements.warmupSeconds = settings.warmupSeconds;
  measurements.durationSeconds = settings.durationSeconds;
  auto references = FetchReferences(settings);
  if (!references) return R::Failure(references.Error());

  Shared shared(settings, references.Value(), measurements);
  std::vector<std::unique_ptr<Worker>> workers;
  for (int i = 0; i < settings.connections; ++i) workers.push_back(std::make_unique<Worker>(i, shared));
  const auto seconds = [](double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
  };
  shared.measureStart = Clock::now() + seconds(settings.warmupSeconds);
  shared.end = shared.measureStart + seconds(settings.durationSeconds);
  shared.active = settings.connections;
  for (auto& worker : workers) worker->Begin();

  // Every call ends within the client's timeout; the clean-up adds one call
  // per leftover entry, three at most in practice.
  const Clock::time_point giveUp = shared.end + seconds(4 * settings.timeoutSeconds + 5);
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    while (shared.active > 0 && Clock::now() < giveUp) {
      shared.finished.wait_for(lock, std::chrono::milliseconds(100));
      lock.unlock();
      measurements.clientSocketsPeak = std::max(measurements.clientSocketsPeak, CountOwnSockets());
      lock.lock();
    }
  }
  if (shared.active > 0) {
    // Only when the client broke its own deadline. A worker answered just
    // now may still be sending its next call: give it a moment to see
    // `closing` before its client goes.
    shared.closing.store(true);
    measurements.unanswered = static_cast<std::uint64_t>(std::max(0, shared.inFlight.load()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // Closing a client answers its calls still in flight; the workers then
  // send nothing more.
  for (auto& worker : workers) worker->Close();
  measurements.measuredSeconds = static_cast<double>(shared.lastMeasuredAnswer.load()) / 1e9;
  return R::Success(Done{});
}

}  // namespace Trustload
