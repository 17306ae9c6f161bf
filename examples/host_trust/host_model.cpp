#include "host_model.hpp"

#include <cstdio>
#include <utility>

namespace host_trust {
namespace {

bool SameAddress(const Endpoint& a, const Endpoint& b) {
  return a.hostname == b.hostname && a.port == b.port;
}

std::string NextId(const char* prefix, int& last) {
  char id[32];
  std::snprintf(id, sizeof id, "%s-%04d", prefix, ++last);
  return id;
}

template <class Map>
std::vector<typename Map::mapped_type> Values(const Map& map) {
  std::vector<typename Map::mapped_type> out;
  out.reserve(map.size());
  for (const auto& entry : map) out.push_back(entry.second);
  return out;
}

template <class Map>
std::optional<typename Map::mapped_type> Find(const Map& map, const std::string& id) {
  const auto found = map.find(id);
  if (found == map.end()) return std::nullopt;
  return found->second;
}

}  // namespace

void HostModel::AddTpm(Tpm tpm) {
  const std::lock_guard<std::mutex> lock(mutex_);
  tpms_.push_back(std::move(tpm));
}

void HostModel::AddAttestationReport(AttestationReport report) {
  const std::lock_guard<std::mutex> lock(mutex_);
  reports_.push_back(std::move(report));
}

std::vector<Tpm> HostModel::Tpms() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return tpms_;
}

std::optional<Tpm> HostModel::FindTpm(const std::string& id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const Tpm& tpm : tpms_) {
    if (tpm.id == id) return tpm;
  }
  return std::nullopt;
}

std::vector<AttestationService> HostModel::AttestationServices() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Values(attestationServices_);
}

std::optional<AttestationService> HostModel::FindAttestationService(const std::string& id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Find(attestationServices_, id);
}

Change HostModel::AddAttestationService(AttestationService service, std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : attestationServices_) {
    if (SameAddress(entry.second.address, service.address)) {
      id = entry.first;
      return Change::kAlreadyExists;
    }
  }
  id = service.id = NextId("as", lastAttestationService_);
  attestationServices_.emplace(id, std::move(service));
  return Change::kDone;
}

Change HostModel::RemoveAttestationService(const std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return attestationServices_.erase(id) ? Change::kDone : Change::kNotFound;
}

std::vector<AttestationReport> HostModel::AttestationReports() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::vector<KeyProvider> HostModel::KeyProviders() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Values(keyProviders_);
}

std::optional<KeyProvider> HostModel::FindKeyProvider(const std::string& id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Find(keyProviders_, id);
}

Change HostModel::AddKeyProvider(KeyProvider provider) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string id = provider.id;
  return keyProviders_.emplace(id, std::move(provider)).second ? Change::kDone : Change::kAlreadyExists;
}

Change HostModel::SetKeyProviderKeyId(const std::string& id, const std::string& keyId) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = keyProviders_.find(id);
  if (found == keyProviders_.end()) return Change::kNotFound;
  if (found->second.kind != KeyProvider::Kind::kNative) return Change::kUnsupported;
  found->second.keyId = keyId;
  return Change::kDone;
}

Change HostModel::RemoveKeyProvider(const std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return keyProviders_.erase(id) ? Change::kDone : Change::kNotFound;
}

std::vector<KeyServer> HostModel::KeyServers() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Values(keyServers_);
}

std::optional<KeyServer> HostModel::FindKeyServer(const std::string& id) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Find(keyServers_, id);
}

Change HostModel::AddKeyServer(KeyServer server, std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& entry : keyServers_) {
    if (SameAddress(entry.second.address, server.address)) {
      id = entry.first;
      return Change::kAlreadyExists;
    }
  }
  id = server.id = NextId("ks", lastKeyServer_);
  keyServers_.emplace(id, std::move(server));
  return Change::kDone;
}

Change HostModel::RemoveKeyServer(const std::string& id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return keyServers_.erase(id) ? Change::kDone : Change::kNotFound;
}

}  // namespace host_trust
