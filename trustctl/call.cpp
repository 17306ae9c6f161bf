#include "call.hpp"

#include <map>

namespace Trustctl {

int ExitFor(const std::string& errorId) {
  static const std::map<std::string, int> kExits = {
      {Tovri::Errors::kNotFound, kNotFound},
      {Tovri::Errors::kAlreadyExists, kAlreadyExists},
      {Tovri::Errors::kInvalidArgument, kInvalidArgument},
      {Tovri::Errors::kUnauthenticated, kDenied},
      {Tovri::Errors::kUnauthorized, kDenied},
      {Tovri::Errors::kUnsupported, kNotNow},
      {Tovri::Errors::kNotAllowedInCurrentState, kNotNow},
      {"com.corvane.tovri.std.errors.service_unavailable", kUnreachable},
      {"com.corvane.tovri.std.errors.timed_out", kUnreachable},
  };
  const auto found = kExits.find(errorId);
  return found == kExits.end() ? kFailed : found->second;
}

int Report(const ErrorPtr& error, std::ostream& err) {
  if (!error) {
    err << "trustctl: the server answered with neither a result nor an error\n";
    return kFailed;
  }
  const auto messages = error->GetMessages();
  for (const auto& message : messages)
    err << "trustctl: " << (message.localized ? *message.localized : message.message.defaultMessage) << "\n";
  const std::string id = error->GetId();
  const std::string prefix = "com.corvane.tovri.std.errors.";
  err << "trustctl: (" << (id.compare(0, prefix.size(), prefix) == 0 ? id.substr(prefix.size()) : id)
      << ")\n";
  return ExitFor(id);
}

}  // namespace Trustctl
