// Internal: the request and answer envelopes around lossless values, shared
// by the server and the client.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <tovri/core/error.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/http/lossless_json.hpp>

namespace Tovri {
namespace Http {
namespace Detail {

using Properties = std::map<std::string, std::string>;

// {"input": <value>, "properties": {name: text, ...}}
std::string WriteRequest(const Data::DataValue& input, const Properties& properties);
bool ReadRequest(std::string_view body, const JsonLimits& limits, Data::ValuePtr& input,
                 Properties& properties, std::string& error);

// {"output": <value>} or {"error": <error value>}; "unchecked": true when
// the result's checked flag is clear.
std::string WriteAnswer(const Core::MethodResult& result);
// {"progress": [min, current, max]}
std::string WriteProgress(const Progress& progress);

// One answer object: a final result, or (result null) a progress report.
bool ReadAnswer(std::string_view text, const JsonLimits& limits,
                std::shared_ptr<const Core::MethodResult>& result, Progress& progress, std::string& error);

// An error value carrying one message.
std::shared_ptr<const Data::ErrorValue> MakeError(const std::string& id, const std::string& messageId,
                                                  const std::string& text, const std::string& detail);

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
