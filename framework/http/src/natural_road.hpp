// Internal: what the server needs to serve the natural shape and the
// discovery path from the LocalProvider it serves: the definitions of an
// operation, the natural request and answer envelopes, and the listing of
// services with their definitions.
#pragma once

#include <list>
#include <map>
#include <string>
#include <string_view>

#include <tovri/core/invocation.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/http/natural_json.hpp>

namespace Tovri {
namespace Http {
namespace Detail {

// The definitions of one operation, as its binder declared them.
struct OperationDefinitions {
  Data::DefinitionPtr input;
  Data::DefinitionPtr output;
  std::list<Data::DefinitionPtr> errors;
};

// False when `service` is not registered or has no such operation.
bool FindOperation(const Core::LocalProvider& provider, const std::string& service,
                   const std::string& operation, OperationDefinitions& found);

// {"input": <natural value of `input`>, "properties": {name: text, ...}}
// ("properties" optional). On refusal returns null and the reader's
// messages, each naming the JSON path ("$.input.spec.port: ...").
Data::ValuePtr ReadNaturalRequest(std::string_view body, const Data::DefinitionPtr& input,
                                  const NaturalLimits& limits, std::map<std::string, std::string>& properties,
                                  std::list<BaseMessage>& messages);

// {"output": <natural value>} or WriteNaturalError's object. An output that
// cannot be written against `output` becomes an internal_server_error.
// `errorId` is set to the id of the error written, empty for an output.
std::string WriteNaturalAnswer(const Core::MethodResult& result, const Data::DefinitionPtr& output,
                               std::string& errorId);

// The body of GET /v1/services (docs/wire.md, "Discovery").
std::string WriteDiscovery(const Core::LocalProvider& provider);

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
