// What the transport puts on the wire besides values: the paths, the media
// types, the HTTP status an error id maps to, and the error and message ids
// the transport itself raises. docs/wire.md tells the whole story.
#pragma once

#include <string>

namespace Tovri {
namespace Http {

// A call is POST kCallPrefix + <service id> + "/" + <operation>.
constexpr const char* kCallPrefix = "/v1/";
constexpr const char* kHealthPath = "/v1/health";
// GET: the services served, their operations and the definitions of what
// they take, give and raise.
constexpr const char* kServicesPath = "/v1/services";
// Bodies in the natural shape, read and written against the operation's
// definitions: what people and programs in other languages send.
constexpr const char* kJsonMediaType = "application/json";
// Bodies in the lossless shape: what this library's client sends and asks
// for, readable without definitions.
constexpr const char* kLosslessMediaType = "application/vnd.tovri.lossless+json";
// Asked for in Accept, it makes the server stream the progress reports
// before the final answer, one JSON object a line.
constexpr const char* kNdjsonMediaType = "application/x-ndjson";

// Error ids the transport raises. The first two are not among the
// framework's standard errors: they name failures no provider can cause.
constexpr const char* kServiceUnavailableId = "com.corvane.tovri.std.errors.service_unavailable";
constexpr const char* kTimedOutId = "com.corvane.tovri.std.errors.timed_out";
constexpr const char* kInvalidArgumentId = "com.corvane.tovri.std.errors.invalid_argument";
constexpr const char* kNotFoundId = "com.corvane.tovri.std.errors.not_found";
constexpr const char* kUnsupportedId = "com.corvane.tovri.std.errors.unsupported";
constexpr const char* kInternalServerErrorId = "com.corvane.tovri.std.errors.internal_server_error";
constexpr const char* kUnauthenticatedId = "com.corvane.tovri.std.errors.unauthenticated";
constexpr const char* kUnauthorizedId = "com.corvane.tovri.std.errors.unauthorized";

// Message ids carried by the transport's errors; the first argument of each
// is the detail in words.
constexpr const char* kConnectFailedMessage = "tovri.http.connect.failed";
constexpr const char* kConnectionLostMessage = "tovri.http.connection.lost";
constexpr const char* kTimedOutMessage = "tovri.http.timed.out";
constexpr const char* kMalformedAnswerMessage = "tovri.http.malformed.answer";
constexpr const char* kClientClosedMessage = "tovri.http.client.closed";
constexpr const char* kBadRequestMessage = "tovri.http.bad.request";
constexpr const char* kProviderFailedMessage = "tovri.http.provider.failed";
constexpr const char* kTlsFailedMessage = "tovri.http.tls.failed";
constexpr const char* kAccessDeniedMessage = "tovri.http.access.denied";
constexpr const char* kUnknownOperationMessage = "tovri.http.unknown.operation";
constexpr const char* kUnsupportedMediaMessage = "tovri.http.unsupported.media";
constexpr const char* kBadOutputMessage = "tovri.http.bad.output";

// The HTTP status of a final answer carrying the error `errorId`.
int HttpStatusForError(const std::string& errorId) noexcept;

}  // namespace Http
}  // namespace Tovri
