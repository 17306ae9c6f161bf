#include "envelope.hpp"

#include <limits>
#include <list>

#include <tovri/http/wire.hpp>

#include "json_detail.hpp"

namespace Tovri {
namespace Http {

namespace json = boost::json;

int HttpStatusForError(const std::string& errorId) noexcept {
  static const char kPrefix[] = "com.corvane.tovri.std.errors.";
  if (errorId.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return 500;
  const std::string name = errorId.substr(sizeof kPrefix - 1);
  if (name == "invalid_argument") return 400;
  if (name == "unauthenticated") return 401;
  if (name == "unauthorized") return 403;
  if (name == "not_found") return 404;
  if (name == "already_exists" || name == "not_allowed_in_current_state") return 409;
  if (name == "unsupported") return 501;
  if (name == "unable_to_allocate_resource" || name == "service_unavailable") return 503;
  if (name == "timed_out") return 504;
  return 500;
}

namespace Detail {

std::string WriteRequest(const Data::DataValue& input, const Properties& properties) {
  std::string out = "{\"input\":";
  WriteLosslessJson(input, out);
  out += ",\"properties\":{";
  bool first = true;
  for (const auto& property : properties) {
    if (!first) out.push_back(',');
    first = false;
    AppendJsonString(property.first, out);
    out.push_back(':');
    AppendJsonString(property.second, out);
  }
  out += "}}";
  return out;
}

bool ReadRequest(std::string_view body, const JsonLimits& limits, Data::ValuePtr& input,
                 Properties& properties, std::string& error) {
  json::monotonic_resource resource;
  json::storage_ptr storage(&resource);
  json::value document(storage);
  if (!ParseDocument(body, limits, storage, document, error)) return false;
  const json::object* envelope = document.if_object();
  const json::value* value = envelope ? envelope->if_contains("input") : nullptr;
  if (!value) {
    error = "the request body must be an object with \"input\"";
    return false;
  }
  for (const auto& member : *envelope) {
    if (member.key() != "input" && member.key() != "properties") {
      error = "unknown member \"" + std::string(member.key()) + "\" in the request";
      return false;
    }
  }
  if (const json::value* given = envelope->if_contains("properties")) {
    if (!given->is_object()) {
      error = "\"properties\" must be an object of strings";
      return false;
    }
    for (const auto& member : given->get_object()) {
      if (!member.value().is_string()) {
        error = "\"properties\" must be an object of strings";
        return false;
      }
      properties[std::string(member.key())] = std::string(member.value().get_string());
    }
  }
  input = ValueFromJson(*value, limits, error);
  return static_cast<bool>(input);
}

std::string WriteAnswer(const Core::MethodResult& result) {
  std::string out;
  if (result.GetError()) {
    out = "{\"error\":";
    WriteLosslessJson(*result.GetError(), out);
  } else {
    out = "{\"output\":";
    if (result.GetOutput()) {
      WriteLosslessJson(*result.GetOutput(), out);
    } else {
      out += "null";
    }
  }
  if (!result.IsChecked()) out += ",\"unchecked\":true";
  out.push_back('}');
  return out;
}

std::string WriteProgress(const Progress& progress) {
  return "{\"progress\":[" + std::to_string(progress.min) + "," + std::to_string(progress.current) + "," +
         std::to_string(progress.max) + "]}";
}

bool ReadAnswer(std::string_view text, const JsonLimits& limits,
                std::shared_ptr<const Core::MethodResult>& result, Progress& progress, std::string& error) {
  json::monotonic_resource resource;
  json::storage_ptr storage(&resource);
  json::value document(storage);
  if (!ParseDocument(text, limits, storage, document, error)) return false;
  const json::object* answer = document.if_object();
  if (!answer) {
    error = "an answer must be a JSON object";
    return false;
  }
  if (const json::value* counters = answer->if_contains("progress")) {
    const json::array* three = counters->if_array();
    if (answer->size() != 1 || !three || three->size() != 3 || !(*three)[0].is_int64() ||
        !(*three)[1].is_int64() || !(*three)[2].is_int64()) {
      error = "a progress report is {\"progress\":[min,current,max]}";
      return false;
    }
    progress = Progress{(*three)[0].get_int64(), (*three)[1].get_int64(), (*three)[2].get_int64()};
    result = nullptr;
    return true;
  }
  bool checked = true;
  if (const json::value* unchecked = answer->if_contains("unchecked")) {
    if (!unchecked->is_bool()) {
      error = "\"unchecked\" must be a boolean";
      return false;
    }
    checked = !unchecked->get_bool();
  }
  const std::size_t members = answer->size() - (answer->contains("unchecked") ? 1 : 0);
  const json::value* output = answer->if_contains("output");
  const json::value* failure = answer->if_contains("error");
  if (members != 1 || (!output && !failure)) {
    error = "an answer holds \"output\" or \"error\"";
    return false;
  }
  if (failure) {
    Data::ValuePtr value = ValueFromJson(*failure, limits, error);
    if (!value) return false;
    if (value->GetType() != Data::kError) {
      error = "\"error\" must hold an error value";
      return false;
    }
    result = Core::MethodResult::GetInstance(nullptr, std::static_pointer_cast<const Data::ErrorValue>(value),
                                             checked);
    return true;
  }
  Data::ValuePtr value;
  if (!output->is_null()) {
    value = ValueFromJson(*output, limits, error);
    if (!value) return false;
  }
  result = Core::MethodResult::GetInstance(value, nullptr, checked);
  return true;
}

std::shared_ptr<const Data::ErrorValue> MakeError(const std::string& id, const std::string& messageId,
                                                  const std::string& text, const std::string& detail) {
  return Data::ErrorValue::Create(
      id, std::list<BaseMessage>{BaseMessage(messageId, text + ": " + detail, {detail})});
}

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
