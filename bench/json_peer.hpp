// The nlohmann::json contestant: to_json / from_json of the plain structs,
// written the way the library's documentation shows. Blobs are binary
// values and maps lists of {"key", "value"} objects, as in the value trees;
// an unset optional is null.
#pragma once

#include <nlohmann/json.hpp>

#include "data.hpp"

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

void to_json(nlohmann::json& j, const PcrBank& bank);
void from_json(const nlohmann::json& j, PcrBank& bank);
void to_json(nlohmann::json& j, const TpmInfo& info);
void from_json(const nlohmann::json& j, TpmInfo& info);
void to_json(nlohmann::json& j, const LocalizableMessage& message);
void from_json(const nlohmann::json& j, LocalizableMessage& message);
void to_json(nlohmann::json& j, const Summary& summary);
void from_json(const nlohmann::json& j, Summary& summary);

}  // namespace Plain
}  // namespace DralBench
