// The daemon's configuration store: key providers, key servers and
// attestation services kept in a SQLite database that survives crashes, with
// their secrets sealed (AES-256-GCM) under a key held in a separate file.
// Records are plain structs; the daemon maps them to and from the bindings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tovri/core/secret_string.hpp>
#include <trustd/result.hpp>

namespace Trustd {

struct StoreError {
  enum class Kind { kNone, kAlreadyExists, kNotFound, kInvalidArgument, kNotAllowed, kFailed };
  Kind kind = Kind::kNone;
  // Names the record or file and the problem; never a secret.
  std::string message;
};

template <class T>
using StoreResult = Result<T, StoreError>;

// What a write answers with when it succeeds.
struct Done {};

struct Address {
  std::string hostname;
  std::optional<int> port;  // 1 to 65535 when present
};

// A record's times in seconds since the epoch, set by the store.
struct Stamps {
  std::int64_t created = 0;
  std::int64_t updated = 0;
};

enum class ProviderType { kNative, kTrustAuthority };

struct NativeKey {
  std::string keyId;
  // Given on create; empty in what the store reads back (see RevealSecret).
  Tovri::SecretString keyDerivationKey;
};

struct KeyProvider {
  std::string id;
  ProviderType type = ProviderType::kTrustAuthority;
  std::optional<NativeKey> native;  // present exactly for kNative
  Stamps stamps;
};

struct ApiClient {
  std::string clientId;
  std::optional<std::string> name;
  std::optional<std::string> group;
  // Given on create and update; empty in what the store reads back.
  Tovri::SecretString secret;
};

struct KeyServer {
  std::string id;
  Address address;
  std::vector<std::string> trustedCa;  // PEM texts, at least one
  std::optional<ApiClient> apiClient;
  std::string group;
  Stamps stamps;
};

struct AttestationService {
  std::string id;
  Address address;
  std::vector<std::string> trustedCa;
  std::string group;
  Stamps stamps;
};

// The sealed fields RevealSecret can open.
enum class SecretField { kKeyDerivationKey, kApiClientSecret };

class Store {
 public:
  struct Options {
    // Create the database and a fresh key when neither file exists.
    bool create = true;
    int busyTimeoutMs = 5000;
  };

  // The schema version this build writes; older databases are migrated.
  static constexpr int kSchemaVersion = 2;
  static constexpr std::size_t kKeySize = 32;

  // `directory`/trustd.db and `directory`/store.key.
  static StoreResult<std::unique_ptr<Store>> Open(const std::string& directory, const Options& options);
  static StoreResult<std::unique_ptr<Store>> Open(const std::string& databasePath, const std::string& keyPath,
                                                  const Options& options);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Identifiers: 1 to 64 letters, digits, '.', '-' or '_'.
  static bool IsIdentifier(const std::string& id);

  StoreResult<Done> CreateKeyProvider(const KeyProvider& provider);
  // Only a native provider has a key to change (kNotAllowed otherwise).
  StoreResult<Done> UpdateKeyProviderKeyId(const std::string& id, const std::string& keyId);
  StoreResult<KeyProvider> GetKeyProvider(const std::string& id);
  StoreResult<std::vector<KeyProvider>> ListKeyProviders();
  StoreResult<Done> DeleteKeyProvider(const std::string& id);

  // Two key servers may not share an address (kAlreadyExists).
  StoreResult<Done> CreateKeyServer(const KeyServer& server);
  // Replaces everything but the id and the creation time.
  StoreResult<Done> UpdateKeyServer(const KeyServer& server);
  StoreResult<KeyServer> GetKeyServer(const std::string& id);
  StoreResult<std::vector<KeyServer>> ListKeyServers();
  StoreResult<Done> DeleteKeyServer(const std::string& id);

  StoreResult<Done> CreateAttestationService(const AttestationService& service);
  StoreResult<Done> UpdateAttestationService(const AttestationService& service);
  StoreResult<AttestationService> GetAttestationService(const std::string& id);
  StoreResult<std::vector<AttestationService>> ListAttestationServices();
  StoreResult<Done> DeleteAttestationService(const std::string& id);

  // Opens a sealed field of the record `id`: kKeyDerivationKey of a key
  // provider, kApiClientSecret of a key server. kFailed when it does not
  // open (tampered with, or sealed for another row).
  StoreResult<Tovri::SecretString> RevealSecret(SecretField field, const std::string& id);

  class Impl;

 private:
  explicit Store(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace Trustd
