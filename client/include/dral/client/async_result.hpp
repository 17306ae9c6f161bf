// Single-completion result objects: every operation, on the client and the
// provider side, reports its outcome through one of these instead of a
// return value.
//
// An AsyncResult<T> delivers any number of progress reports, then exactly one
// final outcome (a value or an error). It holds two callback slots, tried in
// this order on every delivery:
//   simple: (const boost::optional<T>& value, const ErrorPtr& error, const Progress& progress)
//   full:   (value, error, const boost::optional<Data::NativeError>& nativeError, progress)
// the full one receiving an empty native error; both empty throws
// std::bad_function_call. After the final outcome the policy replaces both
// slots by callbacks that call std::terminate(), so completing twice, or
// reporting progress after completion, ends the process. A callback that
// throws leaves the result open. Copies are independent objects.
//
// Threads: no locking. One result is driven from one thread at a time;
// callbacks run synchronously on the thread that completes it.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include <boost/optional.hpp>

#include <dral/runtime/native.hpp>
#include <tovri/core/error.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {

// Replaces both slots, simple first, by callbacks whose only action is
// std::terminate(); the old callbacks are destroyed as they are replaced.
struct AsyncResultTerminateCbPolicy {
  template <class Cb>
  static void Terminate(Cb& cb) {
    cb.simple = [](const auto&...) { std::terminate(); };
    cb.full = [](const auto&...) { std::terminate(); };
  }
};

// The same termination for stream results.
struct AsyncStreamResultTerminateCbPolicy {
  template <class Cb>
  static void Terminate(Cb& cb) {
    AsyncResultTerminateCbPolicy::Terminate(cb);
  }
};

template <class T, class Policy = AsyncStreamResultTerminateCbPolicy>
class AsyncStreamResult;

namespace AsyncDetail {

using ErrorPtr = std::shared_ptr<const Data::ErrorValue>;
using NativeErrorOpt = boost::optional<Data::NativeError>;

template <class F, class... Args>
using Fits = std::is_invocable<std::decay_t<F>&, Args...>;

template <class F, class T>
using FitsSimple = Fits<F, const boost::optional<T>&, const ErrorPtr&, const Progress&>;

// The full slot's arguments, plus `Tail` (nothing, or a continuation).
template <class F, class T, class... Tail>
using FitsFull =
    Fits<F, const boost::optional<T>&, const ErrorPtr&, const NativeErrorOpt&, const Progress&, Tail...>;

// Delivers (value, error, progress) to the first non-empty slot; the full
// slot gets an empty native error and `tail` (nothing, or a continuation).
template <class Cb, class Value, class... Tail>
void Deliver(const Cb& cb, const Value& value, const ErrorPtr& error, const Progress& progress,
             Tail&&... tail) {
  if (cb.simple) {
    cb.simple(value, error, progress);
  } else if (cb.full) {
    cb.full(value, error, NativeErrorOpt(), progress, std::forward<Tail>(tail)...);
  } else {
    throw std::bad_function_call();
  }
}

}  // namespace AsyncDetail

template <class T, class Policy = AsyncResultTerminateCbPolicy>
class AsyncResult {
 public:
  using ValueType = T;
  using StreamResult = AsyncStreamResult<T, AsyncStreamResultTerminateCbPolicy>;
  using StreamContinuation = std::function<void(OptionalPtr<StreamResult>&&)>;

  struct ResultCb {
    using Simple =
        std::function<void(const boost::optional<T>&, const AsyncDetail::ErrorPtr&, const Progress&)>;
    using Full = std::function<void(const boost::optional<T>&, const AsyncDetail::ErrorPtr&,
                                    const AsyncDetail::NativeErrorOpt&, const Progress&)>;

    // Declaration order makes destruction run full first, then simple.
    Simple simple;
    Full full;
  };

  // The callable goes into the slot whose signature it fits, simple first. A
  // provider result filter (the full signature plus a stream continuation)
  // goes into the full slot and is called there with an empty continuation.
  template <class F, class = std::enable_if_t<AsyncDetail::FitsSimple<F, T>::value ||
                                              AsyncDetail::FitsFull<F, T>::value ||
                                              AsyncDetail::FitsFull<F, T, StreamContinuation&&>::value>>
  AsyncResult(F&& callable) {  // NOLINT(google-explicit-constructor): callbacks convert implicitly
    Store(std::forward<F>(callable));
  }
  explicit AsyncResult(ResultCb cb) : cb_(std::move(cb)) {}

  // Final outcome with a value: delivered with progress 0/1/1, then terminated.
  void operator()(const T& value) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(value), nullptr, FinalProgress());
    Policy::Terminate(cb_);
  }
  // The same, moving the value in instead of copying it (a list of a
  // thousand elements is a thousand allocations to copy).
  void operator()(T&& value) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(std::move(value)), nullptr, FinalProgress());
    Policy::Terminate(cb_);
  }
  // Final outcome with an error, passed unchanged even when empty.
  void error(const AsyncDetail::ErrorPtr& error) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(), error, FinalProgress());
    Policy::Terminate(cb_);
  }
  // A progress report; the result stays open.
  void progress(const Progress& progress) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(), nullptr, progress);
  }

 private:
  template <class F>
  void Store(F&& callable) {
    using Value = const boost::optional<T>&;
    using Error = const AsyncDetail::ErrorPtr&;
    using Native = const AsyncDetail::NativeErrorOpt&;
    if constexpr (AsyncDetail::FitsSimple<F, T>::value) {
      cb_.simple = std::forward<F>(callable);
    } else if constexpr (AsyncDetail::FitsFull<F, T>::value) {
      cb_.full = std::forward<F>(callable);
    } else {
      cb_.full = [f = std::forward<F>(callable)](Value value, Error error, Native nativeError,
                                                 const Progress& progress) mutable {
        f(value, error, nativeError, progress, StreamContinuation());
      };
    }
  }

  mutable ResultCb cb_;
};

// A result that continues in further pieces. The full slot takes a fifth
// argument, the continuation through which the receiver asks for the next
// piece; it is handed a new stream result (or an empty one when there is no
// next piece). Always held through an OptionalPtr (see MakeOptionalPtr
// below). Completion and termination are those of AsyncResult.
template <class T, class Policy>
class AsyncStreamResult {
 public:
  using ValueType = T;
  using Continuation = std::function<void(OptionalPtr<AsyncStreamResult>&&)>;

  struct ResultCb {
    using Simple =
        std::function<void(const boost::optional<T>&, const AsyncDetail::ErrorPtr&, const Progress&)>;
    using Full = std::function<void(const boost::optional<T>&, const AsyncDetail::ErrorPtr&,
                                    const AsyncDetail::NativeErrorOpt&, const Progress&, Continuation&&)>;

    Simple simple;
    Full full;
  };

  // Selects the full slot whatever the callable also fits.
  struct FullSlotTag {};

  template <class F, class = std::enable_if_t<AsyncDetail::FitsSimple<F, T>::value ||
                                              AsyncDetail::FitsFull<F, T, Continuation&&>::value>>
  explicit AsyncStreamResult(F&& callable) {
    if constexpr (AsyncDetail::FitsSimple<F, T>::value) {
      cb_.simple = std::forward<F>(callable);
    } else {
      cb_.full = std::forward<F>(callable);
    }
  }
  template <class F>
  AsyncStreamResult(FullSlotTag, F&& callable) {
    cb_.full = std::forward<F>(callable);
  }
  explicit AsyncStreamResult(ResultCb cb) : cb_(std::move(cb)) {}

  // A piece with a value; `next`, when set, reaches the full slot so the
  // receiver can ask for the following piece. Terminates this result.
  void operator()(const T& value, Continuation&& next = Continuation()) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(value), nullptr, FinalProgress(), std::move(next));
    Policy::Terminate(cb_);
  }
  void operator()(T&& value, Continuation&& next = Continuation()) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(std::move(value)), nullptr, FinalProgress(),
                         std::move(next));
    Policy::Terminate(cb_);
  }
  void error(const AsyncDetail::ErrorPtr& error) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(), error, FinalProgress(), Continuation());
    Policy::Terminate(cb_);
  }
  void progress(const Progress& progress) const {
    AsyncDetail::Deliver(cb_, boost::optional<T>(), nullptr, progress, Continuation());
  }

 private:
  mutable ResultCb cb_;
};

template <class S>
struct IsAsyncStreamResult : std::false_type {};
template <class T, class Policy>
struct IsAsyncStreamResult<AsyncStreamResult<T, Policy>> : std::true_type {};

// A new shared stream result whose full slot holds `callable` (moved in) and
// whose simple slot is empty. Preferred over the generic MakeOptionalPtr
// (native.hpp) for stream results.
template <class S, class F>
std::enable_if_t<IsAsyncStreamResult<S>::value, OptionalPtr<S>> MakeOptionalPtr(F&& callable) {
  return OptionalPtr<S>(std::make_shared<S>(typename S::FullSlotTag(), std::forward<F>(callable)));
}

}  // namespace Tovri
