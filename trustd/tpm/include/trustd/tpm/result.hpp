// The outcome of a call into the host: a value, or a message saying what
// failed. Host and TPM failures are ordinary outcomes for the daemon (a TPM
// may be absent, busy or gone), so they travel as values, not exceptions.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace Trustd {

template <class T>
class Result {
 public:
  static Result Success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
  static Result Failure(std::string message) {
    return Result(std::in_place_index<1>, Message{std::move(message)});
  }

  bool Ok() const { return state_.index() == 0; }
  explicit operator bool() const { return Ok(); }

  // Only when Ok().
  const T& Value() const& { return std::get<0>(state_); }
  T& Value() & { return std::get<0>(state_); }
  T&& Value() && { return std::get<0>(std::move(state_)); }

  // Empty when Ok().
  const std::string& Error() const {
    static const std::string none;
    return Ok() ? none : std::get<1>(state_).text;
  }

 private:
  struct Message {
    std::string text;
  };
  template <std::size_t I, class V>
  Result(std::in_place_index_t<I> index, V&& value) : state_(index, std::forward<V>(value)) {}

  std::variant<T, Message> state_;
};

}  // namespace Trustd
