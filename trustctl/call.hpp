// One call through a generated stub, waited for, and what trustctl does
// with a refusal: the error's messages on stderr (localised when the server
// rendered them) and an exit status per kind of error.
#pragma once

#include <chrono>
#include <future>
#include <iostream>
#include <memory>
#include <string>

#include <boost/optional.hpp>
#include <dral/tovri_bindings.hpp>

namespace Trustctl {

// Exit statuses (docs/trustctl.md).
enum Exit : int {
  kOk = 0,
  kFailed = 1,  // anything else: a server error, a TPM that does not answer
  kUsage = 2,   // bad command line, settings or input
  kNotFound = 3,
  kAlreadyExists = 4,
  kInvalidArgument = 5,
  kDenied = 6,       // unauthenticated or unauthorized
  kUnreachable = 7,  // the server could not be reached or did not answer in time
  kNotNow = 8,       // unsupported, or not allowed in the current state
};

using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;

// The exit status for an error id.
int ExitFor(const std::string& errorId);

// Prints "trustctl: <message>" for each message of the error, and a line
// with its id, to `err`; returns ExitFor(its id).
int Report(const ErrorPtr& error, std::ostream& err);

template <class T>
struct Answer {
  boost::optional<T> value;
  ErrorPtr error;  // set when there is no value
};

// Calls `call(result)` and waits for the final answer (progress reports
// skipped). The client's own deadline ends every call, so this does not
// wait beyond it.
template <class Method, class Call>
Answer<typename Method::ResultCbType::ValueType> Await(Call&& call) {
  using T = typename Method::ResultCbType::ValueType;
  auto promise = std::make_shared<std::promise<Answer<T>>>();
  auto future = promise->get_future();
  const typename Method::ResultCbType result(
      [promise](const boost::optional<T>& value, const ErrorPtr& error, const Tovri::Progress& progress) {
        if (!value && !error && progress.current != progress.max) return;
        promise->set_value(Answer<T>{value, error});
      });
  call(result);
  return future.get();
}

}  // namespace Trustctl
