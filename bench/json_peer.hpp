// The nlohmann::json contestant, coded the fast way its documentation
// shows: NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE per struct (fields assigned into
// the object one by one, read back with at().get_to()), enums through
// NLOHMANN_JSON_SERIALIZE_ENUM, maps with integer keys as the library's own
// [key, value] pairs, register contents as binary values, an unset optional
// as null (3.11.2 has no std::optional support of its own, so an
// adl_serializer supplies it, as the documentation suggests for such types).
#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "data.hpp"

namespace nlohmann {

template <class T>
struct adl_serializer<std::optional<T>> {
  static void to_json(json& j, const std::optional<T>& value) {
    if (value) {
      j = *value;
    } else {
      j = nullptr;
    }
  }
  static void from_json(const json& j, std::optional<T>& value) {
    if (j.is_null()) {
      value.reset();
    } else {
      value = j.template get<T>();
    }
  }
};

}  // namespace nlohmann

namespace DralBench {
namespace Plain {

NLOHMANN_JSON_SERIALIZE_ENUM(HashAlgorithm, {{HashAlgorithm::SHA256, "SHA256"},
                                             {HashAlgorithm::SHA384, "SHA384"},
                                             {HashAlgorithm::SHA512, "SHA512"},
                                             {HashAlgorithm::SM3_256, "SM3_256"}})
NLOHMANN_JSON_SERIALIZE_ENUM(ProviderType, {{ProviderType::NATIVE, "NATIVE"},
                                            {ProviderType::TRUST_AUTHORITY, "TRUST_AUTHORITY"}})
NLOHMANN_JSON_SERIALIZE_ENUM(Health, {{Health::NONE, "NONE"},
                                      {Health::OK, "OK"},
                                      {Health::WARNING, "WARNING"},
                                      {Health::ERROR, "ERROR"}})

inline void to_json(nlohmann::json& j, const Bytes& bytes) {
  j = nlohmann::json::binary(static_cast<const std::vector<unsigned char>&>(bytes));
}
inline void from_json(const nlohmann::json& j, Bytes& bytes) {
  const auto& binary = j.get_binary();
  bytes.assign(binary.begin(), binary.end());
}

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(PcrBank, algorithm, pcrs)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(TpmInfo, major_version, minor_version, active, manufacturer, model,
                                   firmware_version, banks)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(LocalizableMessage, id, default_message, args, localized)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Summary, provider, available, health, details, type)

}  // namespace Plain
}  // namespace DralBench
