// Errors that cross the API: ids of the standard errors, native errors raised
// by implementations, and their localisation into error values.
#pragma once

#include <list>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <tovri/core/l10n.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Errors {
// Wire ids of the standard errors ("com.corvane.tovri.std.errors." followed
// by the snake-case name).
extern const char* const kError;
extern const char* const kAlreadyExists;
extern const char* const kInvalidArgument;
extern const char* const kNotAllowedInCurrentState;
extern const char* const kNotFound;
extern const char* const kUnableToAllocateResource;
extern const char* const kUnauthenticated;
extern const char* const kUnauthorized;
extern const char* const kUnsupported;
// Raised by the framework and the bindings themselves, never declared.
extern const char* const kInternalServerError;
}  // namespace Errors

namespace Data {

// An error as an implementation raises it natively: an id and messages,
// not yet localised.
struct NativeError {
  std::string id;
  std::list<BaseMessage> messages;
};

struct NativeErrorHelper {
  // The error value to answer with. A set `error` wins over `nativeError`;
  // either is returned with every message that has no localised text yet
  // localised through `localizer` (messages the localizer has no template
  // for keep their default text only). Neither set: null.
  static std::shared_ptr<const ErrorValue> GetError(const std::shared_ptr<const ErrorValue>& error,
                                                    const boost::optional<NativeError>& nativeError,
                                                    const L10n::RequestLocalizer& localizer);
};

}  // namespace Data
}  // namespace Tovri
