#include "json_peer.hpp"

namespace DralBench {
namespace Plain {
namespace {

template <class T>
nlohmann::json Optional(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

template <class T>
void ReadOptional(const nlohmann::json& j, const char* name, std::optional<T>& out) {
  const auto it = j.find(name);
  if (it == j.end() || it->is_null()) {
    out.reset();
  } else {
    out = it->template get<T>();
  }
}

}  // namespace

void to_json(nlohmann::json& j, const PcrBank& bank) {
  nlohmann::json pcrs = nlohmann::json::array();
  for (const auto& pcr : bank.pcrs) {
    pcrs.push_back({{"key", pcr.first}, {"value", nlohmann::json::binary(pcr.second)}});
  }
  j = nlohmann::json{{"algorithm", bank.algorithm}, {"pcrs", std::move(pcrs)}};
}

void from_json(const nlohmann::json& j, PcrBank& bank) {
  j.at("algorithm").get_to(bank.algorithm);
  bank.pcrs.clear();
  for (const auto& entry : j.at("pcrs")) {
    bank.pcrs.emplace_hint(bank.pcrs.end(), entry.at("key").get<long long>(), entry.at("value").get_binary());
  }
}

void to_json(nlohmann::json& j, const TpmInfo& info) {
  j = nlohmann::json{{"major_version", info.majorVersion},
                     {"minor_version", info.minorVersion},
                     {"active", info.active},
                     {"manufacturer", Optional(info.manufacturer)},
                     {"model", Optional(info.model)},
                     {"firmware_version", Optional(info.firmwareVersion)},
                     {"banks", info.banks}};
}

void from_json(const nlohmann::json& j, TpmInfo& info) {
  j.at("major_version").get_to(info.majorVersion);
  j.at("minor_version").get_to(info.minorVersion);
  j.at("active").get_to(info.active);
  ReadOptional(j, "manufacturer", info.manufacturer);
  ReadOptional(j, "model", info.model);
  ReadOptional(j, "firmware_version", info.firmwareVersion);
  j.at("banks").get_to(info.banks);
}

void to_json(nlohmann::json& j, const LocalizableMessage& message) {
  j = nlohmann::json{{"id", message.id},
                     {"default_message", message.defaultMessage},
                     {"args", message.args},
                     {"localized", Optional(message.localized)}};
}

void from_json(const nlohmann::json& j, LocalizableMessage& message) {
  j.at("id").get_to(message.id);
  j.at("default_message").get_to(message.defaultMessage);
  j.at("args").get_to(message.args);
  ReadOptional(j, "localized", message.localized);
}

void to_json(nlohmann::json& j, const Summary& summary) {
  j = nlohmann::json{{"provider", summary.provider},
                     {"available", summary.available},
                     {"health", Optional(summary.health)},
                     {"details", summary.details},
                     {"type", Optional(summary.type)}};
}

void from_json(const nlohmann::json& j, Summary& summary) {
  j.at("provider").get_to(summary.provider);
  j.at("available").get_to(summary.available);
  ReadOptional(j, "health", summary.health);
  j.at("details").get_to(summary.details);
  ReadOptional(j, "type", summary.type);
}

}  // namespace Plain
}  // namespace DralBench
