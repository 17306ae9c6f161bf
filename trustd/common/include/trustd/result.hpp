// The outcome of a call into the host or the store: a value, or an error
// saying what failed. Host, TPM and store failures are ordinary outcomes for
// the daemon (a TPM may be absent, a record missing), so they travel as
// values, not exceptions. The error is a message unless a unit needs more.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace Trustd {

template <class T, class E = std::string>
class Result {
 public:
  static Result Success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
  static Result Failure(E error) { return Result(std::in_place_index<1>, Wrapped{std::move(error)}); }

  bool Ok() const { return state_.index() == 0; }
  explicit operator bool() const { return Ok(); }

  // Only when Ok().
  const T& Value() const& { return std::get<0>(state_); }
  T& Value() & { return std::get<0>(state_); }
  T&& Value() && { return std::get<0>(std::move(state_)); }

  // Default-constructed (empty) when Ok().
  const E& Error() const {
    static const E none{};
    return Ok() ? none : std::get<1>(state_).error;
  }

 private:
  // Wrapped so that T and E may be the same type.
  struct Wrapped {
    E error;
  };
  template <std::size_t I, class V>
  Result(std::in_place_index_t<I> index, V&& value) : state_(index, std::forward<V>(value)) {}

  std::variant<T, Wrapped> state_;
};

}  // namespace Trustd
