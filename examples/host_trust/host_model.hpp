// The trust configuration of one host, held in memory: what a real provider
// would read from the platform (TPM, firmware event log) and from its
// configuration store (attestation services, key providers, key servers).
//
// The model knows nothing of the wire: it has its own records, and the
// provider (provider.hpp) translates between them and the generated types.
// Every member function is safe to call from several threads at once; each
// returns copies, never references into the model.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <dral/tovri_bindings.hpp>

namespace host_trust {

using Bytes = std::vector<unsigned char>;

// ---- Platform (read-only) ----------------------------------------------

enum class HashAlgorithm { kSha256, kSha384 };

struct PcrBank {
  HashAlgorithm algorithm = HashAlgorithm::kSha256;
  std::map<int, Bytes> registers;  // index -> value, digest-sized
};

struct EndorsementKey {
  enum class Type { kRsa2048, kEccNistP256 };
  std::string id;
  Type type = Type::kRsa2048;
  std::string publicKeyPem;                               // SubjectPublicKeyInfo
  std::optional<std::string> certificatePem;              // stored in the TPM's NV
  std::optional<std::string> manufacturerCertificateUri;  // where the vendor publishes it
};

struct EventLog {
  Bytes tcgCryptoAgile;  // the raw log, TCG crypto-agile format
  bool truncated = false;
};

struct Tpm {
  std::string id;
  int majorVersion = 2;
  int minorVersion = 0;
  bool active = true;
  std::string manufacturer;
  std::string model;
  std::string firmwareVersion;
  std::vector<PcrBank> banks;
  std::vector<EndorsementKey> endorsementKeys;
  EventLog eventLog;
};

// ---- Configuration (read-write) ----------------------------------------

struct Endpoint {
  std::string hostname;
  std::optional<int> port;
};

struct AttestationService {
  std::string id;  // assigned by the model
  Endpoint address;
  std::vector<std::string> trustedCaPem;  // root first
  std::string group;
};

struct AttestationReport {
  std::string id;
  std::string serviceId;
  std::string group;
  std::string jwt;
};

struct ApiClient {
  std::string clientId;
  std::optional<std::string> name;
  std::optional<std::string> group;
  Tovri::SecretString secret;  // wiped when the record dies; never reported
};

struct KeyServer {
  std::string id;  // assigned by the model
  Endpoint address;
  std::vector<std::string> trustedCaPem;
  std::optional<ApiClient> apiClient;
  std::string group;
};

enum class Health { kNone, kOk, kWarning, kError };  // kNone: not checked yet

struct KeyProvider {
  enum class Kind { kNative, kTrustAuthority };
  std::string id;  // chosen by whoever creates it
  Kind kind = Kind::kNative;
  std::string keyId;                     // native providers only
  Tovri::SecretString keyDerivationKey;  // native providers only; never reported
  bool available = true;
  Health health = Health::kOk;
  // Why the provider is in its state, as messages a client can render in
  // its own language.
  std::vector<Tovri::BaseMessage> details;
};

// The outcome of a change to the configuration.
enum class Change { kDone, kNotFound, kAlreadyExists, kUnsupported };

class HostModel {
 public:
  HostModel() = default;
  HostModel(const HostModel&) = delete;
  HostModel& operator=(const HostModel&) = delete;

  // Seeding; used once, before the model is shared.
  void AddTpm(Tpm tpm);
  void AddAttestationReport(AttestationReport report);

  std::vector<Tpm> Tpms() const;
  std::optional<Tpm> FindTpm(const std::string& id) const;

  std::vector<AttestationService> AttestationServices() const;
  std::optional<AttestationService> FindAttestationService(const std::string& id) const;
  // Gives the service a new id ("as-0003"), returned through `id`.
  // kAlreadyExists when a service at the same address is configured.
  Change AddAttestationService(AttestationService service, std::string& id);
  Change RemoveAttestationService(const std::string& id);

  std::vector<AttestationReport> AttestationReports() const;

  std::vector<KeyProvider> KeyProviders() const;
  std::optional<KeyProvider> FindKeyProvider(const std::string& id) const;
  // kAlreadyExists when a provider of that id exists.
  Change AddKeyProvider(KeyProvider provider);
  // kUnsupported for a trust-authority provider, which has no key of its own.
  Change SetKeyProviderKeyId(const std::string& id, const std::string& keyId);
  Change RemoveKeyProvider(const std::string& id);

  std::vector<KeyServer> KeyServers() const;
  std::optional<KeyServer> FindKeyServer(const std::string& id) const;
  // As AddAttestationService, with ids "ks-0001"...
  Change AddKeyServer(KeyServer server, std::string& id);
  Change RemoveKeyServer(const std::string& id);

 private:
  mutable std::mutex mutex_;
  std::vector<Tpm> tpms_;
  std::map<std::string, AttestationService> attestationServices_;
  std::vector<AttestationReport> reports_;
  std::map<std::string, KeyProvider> keyProviders_;
  std::map<std::string, KeyServer> keyServers_;
  int lastAttestationService_ = 0;  // ids are never reused
  int lastKeyServer_ = 0;
};

// The host the example serves: one TPM 2.0 with SHA-256 and SHA-384 banks,
// two endorsement keys and a crypto-agile event log; two attestation services
// and a token report; a native and a trust-authority key provider; one key
// server with an API client. Deterministic: every run shows the same bytes.
std::shared_ptr<HostModel> MakeExampleHost();

}  // namespace host_trust
