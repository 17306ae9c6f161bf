// The two filters between a method signal and the application's
// implementation of a service interface.
//
// AsyncApiMethodFilter (the signal's handler) turns the incoming value into
// the operation's native Input, validates it and calls the implementation;
// the implementation answers through an AsyncResult whose full slot holds an
// AsyncApiMethodResultFilter, which turns the native answer back into values,
// localises errors with the call's activation and hands the answer to the
// signal.
//
// Answers handed to the signal:
//   input does not convert or validate -> "com.corvane.tovri.std.errors.invalid_argument"
//                                         with the messages; implementation not called
//   implementation error / native error -> NativeErrorHelper::GetError with the
//                                         activation's error request localizer
//   value does not convert              -> "com.corvane.tovri.std.errors.internal_server_error"
//                                         without messages
//   progress                            -> progress only; still open
// After a final answer the result filter's callback does nothing, so later
// answers through the same filter are dropped.
//
// Threads: no locks. A result filter is driven from one thread at a time;
// the implementation may complete from any thread, conversions run there.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <type_traits>
#include <utility>

#include <boost/optional.hpp>

#include <dral/client/async_result.hpp>
#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <tovri/core/error.hpp>
#include <tovri/core/invocation.hpp>
#include <tovri/core/provider.hpp>
#include <tovri/std/standard_types.hpp>

namespace Tovri {
namespace Provider {

// Binder policy of the input filter: the operation is called at once, on the
// thread of the invocation.
struct DirectFilterBinder {
  template <class Callable, class Input, class Result>
  static void Call(const Callable& callable, const Input& input,
                   const std::shared_ptr<Core::AsyncActivation>& activation, const Result& result) {
    callable(input, activation, result);
  }
};

template <class T>
class AsyncApiMethodResultFilter {
 public:
  using StreamResult = AsyncStreamResult<T, AsyncStreamResultTerminateCbPolicy>;
  using Continuation = std::function<void(OptionalPtr<StreamResult>&&)>;

  AsyncApiMethodResultFilter(AsyncApiMethod::ResultCb resultCb,
                             std::shared_ptr<Core::AsyncActivation> activation)
      : resultCb_(std::move(resultCb)), activation_(std::move(activation)) {}

  // Const in signature; replaces its own callback after a final answer.
  void operator()(const boost::optional<T>& value, const std::shared_ptr<const Data::ErrorValue>& error,
                  const boost::optional<Data::NativeError>& nativeError, const Progress& progress,
                  Continuation&& continuation) const {
    const std::shared_ptr<const Data::ErrorValue> effective =
        Data::NativeErrorHelper::GetError(error, nativeError, activation_->GetErrorRequestLocalizer());
    if (effective) {
      TakeResultCb()(boost::none, effective, progress, AsyncApiMethod::ResultContinuation());
      return;
    }
    if (value) {
      const L10n::RequestLocalizer localizer{activation_->localizer, activation_->localeSpec};
      Data::ValuePtr output;
      std::list<BaseMessage> messages;
      if (!Data::NativeToValueAdapter::Adapt(*value, output, messages, localizer)) {
        TakeResultCb()(boost::none, Data::ErrorValue::GetInstance(Errors::kInternalServerError), progress,
                       AsyncApiMethod::ResultContinuation());
        return;
      }
      AsyncApiMethod::ResultContinuation wrapped;
      if (continuation) wrapped = WrappedContinuation{std::move(continuation), activation_};
      TakeResultCb()(boost::optional<Data::ValuePtr>(std::move(output)), nullptr, progress,
                     std::move(wrapped));
      return;
    }
    resultCb_(boost::none, nullptr, progress, AsyncApiMethod::ResultContinuation());
  }

 private:
  // Hands a new stream result, answering through a new result filter, to
  // the implementation's continuation; an empty one when the signal side
  // gives no callback.
  struct WrappedContinuation {
    Continuation continuation;
    std::shared_ptr<Core::AsyncActivation> activation;

    void operator()(std::shared_ptr<AsyncApiMethod::ResultCb>&& nextCb) const {
      if (!nextCb) {
        continuation(OptionalPtr<StreamResult>());
        return;
      }
      continuation(MakeOptionalPtr<StreamResult>(AsyncApiMethodResultFilter(*nextCb, activation)));
    }
  };

  AsyncApiMethod::ResultCb TakeResultCb() const {
    AsyncApiMethod::ResultCb taken = std::move(resultCb_);
    resultCb_ = [](const boost::optional<Data::ValuePtr>&, const std::shared_ptr<const Data::ErrorValue>&,
                   const Progress&, AsyncApiMethod::ResultContinuation&&) {};
    return taken;
  }

  mutable AsyncApiMethod::ResultCb resultCb_;
  std::shared_ptr<Core::AsyncActivation> activation_;
};

// The input filter of one operation. `Callable` calls the implementation
// with (const Input&, activation, const AsyncResult<T>&); see MethodCall in
// binder.hpp.
template <class Callable, class T, class Input, class Binder = DirectFilterBinder>
class AsyncApiMethodFilter {
 public:
  using Result = AsyncResult<T, AsyncResultTerminateCbPolicy>;

  explicit AsyncApiMethodFilter(Callable callable) : callable_(std::move(callable)) {}

  void operator()(const Data::ValuePtr& inputValue, const std::shared_ptr<Core::AsyncActivation>& activation,
                  const AsyncApiMethod::ResultCb& resultCb) const {
    Input input{};
    std::list<BaseMessage> messages;
    bool accepted = Data::ValueToNativeAdapter::Adapt(inputValue, input, messages);
    if constexpr (!std::is_same<Input, OperationInput>::value) {
      accepted =
          accepted && Data::Validator::isValid<Input>(input, Data::Validator::REJECT_EXTRA_FIELDS, messages);
    }
    if (!accepted) {
      resultCb(boost::none, Data::ErrorValue::Create(Errors::kInvalidArgument, messages), FinalProgress(),
               AsyncApiMethod::ResultContinuation());
      return;
    }
    const Result result(AsyncApiMethodResultFilter<T>(resultCb, activation));
    Binder::Call(callable_, input, activation, result);
  }

 private:
  Callable callable_;
};

}  // namespace Provider
}  // namespace Tovri
