// The positional text formatter behind every message's default text and
// arguments, and its error category.
//
// Replacement fields are "{index:spec}", numbered from 1; an empty or zero
// index takes the next argument. "{{" and "}}" write one brace. A spec is a
// printf-style flags/width/precision prefix for a "%s" conversion ("-10",
// ".3", "5"); "s" or nothing writes the text as is. The framework reads the
// grammar (tovri/core/message_template.hpp), for this formatter and for
// L10n::RenderTemplate alike, so a message's default text and its localised
// renderings agree.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <system_error>

#include <boost/utility/string_view.hpp>

namespace Tovri {

// Errors of the formatter. The positional formatter only produces code 3
// (a field selects an argument that does not exist); codes 1 and 2 belong to
// named-argument formatting.
class FormatCategory : public std::error_category {
 public:
  ~FormatCategory() override;
  const char* name() const noexcept override;
  std::string message(int code) const override;
};

// The one instance, built on first use.
const FormatCategory& GetFormatCategory();

namespace Detail {

// One formatter argument: the argument's address (a text's first character,
// or the std::string object) and the formatter of its type.
struct format_arg {
  const void* value;
  void (*format)(std::ostream& out, boost::string_view spec, const void* value);
};

// Argument formatters by argument type. Only text and std::string arguments
// exist; any other type fails to compile.
template <class T, bool Custom = false>
struct formatter;

template <>
struct formatter<const char*, false> {
  // `value` is a NUL-terminated text. Empty spec or "s": the text as is; a
  // null text writes nothing and sets badbit. Other specs go through
  // snprintf as "%<spec>s" when they are flags, width and precision only;
  // anything else is written as if no option were given
  // (MessageTemplate::AppendField).
  static void call(std::ostream& out, boost::string_view spec, const void* value);
};

template <>
struct formatter<std::string, false> {
  // `value` is a std::string. Empty spec or "s": every byte, NULs included;
  // other specs: the text formatter on its NUL-terminated data.
  static void call(std::ostream& out, boost::string_view spec, const void* value);
};

inline format_arg MakeFormatArg(const std::string& arg) noexcept {
  return format_arg{&arg, &formatter<std::string, false>::call};
}
// Text literals and NUL-terminated texts.
inline format_arg MakeFormatArg(const char* arg) noexcept {
  return format_arg{arg, &formatter<const char*, false>::call};
}

// Formats `fmt` with `count` arguments into `out`. On a field selecting a
// missing argument, sets `ec` to code 3 of GetFormatCategory() and stops,
// leaving the text produced so far; never clears `ec`.
void FormatTo(std::ostream& out, boost::string_view fmt, const format_arg* args, std::size_t count,
              std::error_code& ec);

// As FormatTo, returning the (possibly partial) text.
std::string Format(boost::string_view fmt, const format_arg* args, std::size_t count, std::error_code& ec);

}  // namespace Detail

// Formats with exactly N arguments, dropping any formatting error.
template <std::size_t N>
struct FormatImpl {
  template <class... Args>
  static std::string call(boost::string_view fmt, const Args&... args) {
    static_assert(sizeof...(Args) == N, "argument count must match N");
    const Detail::format_arg list[] = {Detail::MakeFormatArg(args)..., Detail::format_arg{nullptr, nullptr}};
    std::error_code ec;
    return Detail::Format(fmt, list, N, ec);
  }
};

}  // namespace Tovri
