// Waiting for an asynchronous answer, for a client that has nothing else to
// do meanwhile.
//
// A stub operation returns as soon as the call is on its way; the answer
// arrives later, on whichever thread completes it (here a provider worker),
// through the AsyncResult passed in. Await bridges that to a blocking call
// with a promise:
//
//   auto info = Await<TpmSvc::GetMethod>([&](const auto& done) { tpm.Get("tpm0", nullptr, done); });
//   if (info.value) ... else ... info.error ...
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include <boost/optional.hpp>

#include <dral/tovri_bindings.hpp>

namespace host_trust {

using ErrorPtr = std::shared_ptr<const Tovri::Data::ErrorValue>;

// The final answer of one call: a value, or else an error. The error may be
// null when the answer carried neither (a provider bug the bindings pass on).
template <class T>
struct Answer {
  boost::optional<T> value;
  ErrorPtr error;
};

// Thrown when no answer arrives in time.
class NoAnswer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Calls `call` with the AsyncResult of operation `Method` and blocks until
// its final answer; progress reports are skipped. Throws NoAnswer after
// `timeout`.
template <class Method, class Call>
Answer<typename Method::ResultCbType::ValueType> Await(
    Call&& call, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  using T = typename Method::ResultCbType::ValueType;
  // Shared: the callback may run after a timed-out Await has returned.
  auto promise = std::make_shared<std::promise<Answer<T>>>();
  std::future<Answer<T>> answer = promise->get_future();

  const typename Method::ResultCbType result(
      [promise](const boost::optional<T>& value, const ErrorPtr& error, const Tovri::Progress& progress) {
        // Neither a value nor an error, and not the final progress: a
        // progress report. The answer is still to come.
        if (!value && !error && progress.current != progress.max) return;
        promise->set_value(Answer<T>{value, error});
      });
  call(result);

  if (answer.wait_for(timeout) != std::future_status::ready)
    throw NoAnswer("no answer to " + Method::methodName() + " within " + std::to_string(timeout.count()) +
                   " ms");
  return answer.get();
}

}  // namespace host_trust
