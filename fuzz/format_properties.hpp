// Properties of the positional formatter and of message making, checked on
// an arbitrary template with up to three arguments.
//
// Input: one byte of argument count (bits 0-1) and argument kinds (two bits
// each from bit 2: std::string, const char*, char[16], std::string), then
// each argument as a length byte and its bytes, then the template (the rest).
// The template is also looked up as a catalogue message id.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <list>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include <boost/utility/string_view.hpp>

#include <dral/runtime/format.hpp>
#include <dral/runtime/message.hpp>
#include <tovri/core/message.hpp>

#include "byte_reader.hpp"
#include "verdict.hpp"

namespace DralFuzz {
namespace FormatFuzz {

using Tovri::Detail::format_arg;

enum class ArgKind { kString, kPointer, kArray };

struct Arg {
  ArgKind kind = ArgKind::kString;
  std::string bytes;
  char array[16] = {};
};

struct Input {
  std::string fmt;
  std::size_t count = 0;
  Arg args[3];
};

inline Input Parse(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  Input input;
  const std::uint8_t head = in.Byte();
  input.count = head & 3u;
  for (std::size_t i = 0; i < input.count; ++i) {
    const unsigned kind = (head >> (2 + 2 * i)) & 3u;
    Arg& arg = input.args[i];
    arg.kind = kind == 1 ? ArgKind::kPointer : kind == 2 ? ArgKind::kArray : ArgKind::kString;
    arg.bytes = in.ShortString();
    std::memcpy(arg.array, arg.bytes.data(), arg.bytes.size() < 15 ? arg.bytes.size() : 15);
  }
  input.fmt = in.Rest();
  return input;
}

// What the message records for an argument: the text a literal or pointer
// reaches up to its NUL, every byte of a std::string.
inline std::string PlainText(const std::string& arg) { return arg; }
inline std::string PlainText(const char* arg) { return arg; }

inline boost::string_view View(const std::string& text) {
  return boost::string_view(text.data(), text.size());
}

inline bool IsFormatError(const std::error_code& ec) {
  return ec.value() == 3 && &ec.category() == &Tovri::GetFormatCategory();
}
inline bool IsUntouched(const std::error_code& ec) {
  return ec.value() == 0 && &ec.category() == &std::system_category();
}

struct Formatted {
  std::string text;
  std::error_code ec;
};

inline Formatted RunFormat(boost::string_view fmt, const std::vector<format_arg>& args) {
  Formatted r{std::string(), std::error_code(0, std::system_category())};
  r.text = Tovri::Detail::Format(fmt, args.data(), args.size(), r.ec);
  return r;
}

// strtoull in base 10 over a NUL-terminated buffer: white space, a sign,
// digits; overflow gives the largest value, a minus sign negates.
inline unsigned long long ReadIndex(boost::string_view index) {
  const boost::string_view prefix = index.substr(0, 20);
  // The formatter's zero-filled buffer ends at the first NUL.
  const std::string buffer = std::string(prefix.data(), prefix.size()).c_str();
  std::size_t i = 0;
  while (i < buffer.size() && (buffer[i] == ' ' || (buffer[i] >= '\t' && buffer[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < buffer.size() && (buffer[i] == '+' || buffer[i] == '-')) negative = buffer[i++] == '-';
  unsigned long long value = 0;
  bool overflow = false;
  for (; i < buffer.size() && buffer[i] >= '0' && buffer[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(buffer[i] - '0');
    if (value > (ULLONG_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  if (overflow) return ULLONG_MAX;
  return negative ? 0 - value : value;
}

// Field options made of "-" flags, a width of at most 65536 and an
// optional precision: its output can be computed without printf.
inline bool PredictableSpec(boost::string_view spec, std::size_t& width, std::size_t& precision, bool& left,
                            bool& hasPrecision) {
  if (spec.size() > 13) return false;
  std::size_t i = 0;
  left = false;
  for (; i < spec.size() && spec[i] == '-'; ++i) left = true;
  if (i < spec.size() && spec[i] == '0') return false;  // the 0 flag is undefined for %s
  width = 0;
  for (; i < spec.size() && spec[i] >= '0' && spec[i] <= '9'; ++i) {
    width = width * 10 + static_cast<std::size_t>(spec[i] - '0');
    if (width > 65536) return false;
  }
  hasPrecision = i < spec.size() && spec[i] == '.';
  precision = 0;
  if (hasPrecision) {
    for (++i; i < spec.size() && spec[i] >= '0' && spec[i] <= '9'; ++i) {
      precision = precision * 10 + static_cast<std::size_t>(spec[i] - '0');
      if (precision > INT_MAX) return false;
    }
  }
  return i == spec.size();
}

struct FieldArg {
  format_arg arg;
  std::string plain;          // the plain text of the argument
  const std::string* string;  // the std::string argument, or null
};

// One field through the argument's own formatter, with what must hold of it.
inline std::string FormatField(const FieldArg& field, boost::string_view spec, Verdict& verdict) {
  std::ostringstream out;
  field.arg.format(out, spec, field.arg.value);
  const std::string text = out.str();
  const std::string where =
      "spec " + Printable(std::string(spec.data(), spec.size())) + " arg " + Printable(field.plain);
  if (spec.empty() || spec == "s") {
    verdict.Require(text == field.plain, "an empty or \"s\" spec writes the argument as is", where);
    return text;
  }
  const std::string cText = field.string ? field.string->c_str() : field.plain;
  if (field.string) {
    std::ostringstream viaText;
    Tovri::Detail::formatter<const char*, false>::call(viaText, spec, field.string->c_str());
    verdict.Require(text == viaText.str(), "a std::string with a spec formats as its NUL-terminated text",
                    where);
  }
  std::size_t width = 0, precision = 0;
  bool left = false, hasPrecision = false;
  if (PredictableSpec(spec, width, precision, left, hasPrecision)) {
    std::string expected = hasPrecision ? cText.substr(0, precision) : cText;
    if (expected.size() < width) {
      const std::string pad(width - expected.size(), ' ');
      expected = left ? expected + pad : pad + expected;
    }
    verdict.Require(text == expected, "width and precision pad and cut as printf's %s", where);
  }
  return text;
}

// The template walk written from the algorithm's description; the fields
// themselves go through the real argument formatters (checked above).
inline Formatted Model(boost::string_view fmt, const std::vector<FieldArg>& args, Verdict& verdict) {
  Formatted r{std::string(), std::error_code(0, std::system_category())};
  std::size_t next = 0;
  std::size_t i = 0;
  while (i < fmt.size()) {
    const char c = fmt[i];
    if (c != '{' && c != '}') {
      r.text += c;
      ++i;
    } else if (i + 1 < fmt.size() && fmt[i + 1] == c) {
      r.text += c;
      i += 2;
    } else if (c == '}') {
      r.text += c;  // a lone "}" is written as it is (the formatter's documented choice)
      ++i;
    } else {
      const std::size_t close = fmt.find('}', i + 1);
      const boost::string_view content =
          close == boost::string_view::npos ? fmt.substr(i + 1) : fmt.substr(i + 1, close - i - 1);
      const std::size_t colon = content.find(':');
      const boost::string_view index = content.substr(0, colon);
      const boost::string_view spec =
          colon == boost::string_view::npos ? boost::string_view() : content.substr(colon + 1);
      const unsigned long long n = ReadIndex(index);
      const unsigned long long position = n == 0 ? next : n - 1;
      if (position >= args.size()) {
        r.ec = std::error_code(3, Tovri::GetFormatCategory());
        return r;
      }
      r.text += FormatField(args[position], spec, verdict);
      ++next;
      i = close == boost::string_view::npos ? fmt.size() : close + 1;
    }
  }
  return r;
}

inline std::string EscapeBraces(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '{' || c == '}') out += c;
  }
  return out;
}

inline FieldArg MakeField(const std::string& arg) {
  return FieldArg{Tovri::Detail::MakeFormatArg(arg), arg, &arg};
}
inline FieldArg MakeField(const char* arg) {
  return FieldArg{Tovri::Detail::MakeFormatArg(arg), arg, nullptr};
}

template <class... Args>
void CheckWith(const Input& input, Verdict& verdict, const Args&... args) {
  constexpr std::size_t kCount = sizeof...(Args);
  const std::string& fmt = input.fmt;
  const std::string what = "template " + Printable(fmt);
  const std::vector<FieldArg> fields = {MakeField(args)...};
  std::vector<format_arg> list;
  for (const FieldArg& field : fields) list.push_back(field.arg);

  const Formatted formatted = RunFormat(View(fmt), list);
  verdict.Require(IsUntouched(formatted.ec) || IsFormatError(formatted.ec),
                  "the error is left as it was or becomes code 3 of the format category", what);

  std::ostringstream stream;
  stream << "prefix:";
  std::error_code toEc(0, std::system_category());
  Tovri::Detail::FormatTo(stream, View(fmt), list.data(), list.size(), toEc);
  verdict.Require(stream.str() == "prefix:" + formatted.text && toEc == formatted.ec,
                  "FormatTo appends what Format returns, with the same error", what);

  verdict.Require(Tovri::FormatImpl<kCount>::call(View(fmt), args...) == formatted.text,
                  "FormatImpl gives Format's text", what);

  const Formatted model = Model(View(fmt), fields, verdict);
  verdict.Require(model.text == formatted.text && model.ec == formatted.ec, "the template walk",
                  what + " gives " + Printable(formatted.text) + " expected " + Printable(model.text));

  if (fmt.find_first_of("{}") == std::string::npos) {
    verdict.Require(formatted.text == fmt && IsUntouched(formatted.ec),
                    "a template without braces is returned unchanged", what);
  }

  const Formatted escaped = RunFormat(View(EscapeBraces(fmt)), list);
  verdict.Require(escaped.text == fmt && IsUntouched(escaped.ec), "doubled braces write the text back", what);

  // One more argument never changes an error-free result, and extends a
  // partial one.
  const std::string extra("extra\0arg", 9);
  std::vector<format_arg> longer = list;
  longer.push_back(Tovri::Detail::MakeFormatArg(extra));
  const Formatted more = RunFormat(View(fmt), longer);
  if (IsUntouched(formatted.ec)) {
    verdict.Require(more.text == formatted.text && IsUntouched(more.ec), "an unused argument changes nothing",
                    what);
  } else {
    verdict.Require(more.text.compare(0, formatted.text.size(), formatted.text) == 0,
                    "a missing argument cuts the text where the field starts", what);
  }

  const std::list<std::string> plain = {PlainText(args)...};
  const Tovri::BaseMessage made = Tovri::MakeMessage(fmt, fmt, args...);
  verdict.Require(made.id == fmt, "MakeMessage keeps the id", what);
  verdict.Require(made.defaultMessage == formatted.text, "MakeMessage's text is the formatted template",
                  what);
  verdict.Require(made.args == plain, "MakeMessage records every argument's plain text", what);
  verdict.Require(Tovri::L10n::RenderTemplate(View(fmt), made.args) == made.defaultMessage,
                  "rendering the template with the recorded arguments gives the default text", what);

  std::list<std::string> appended;
  const Tovri::AppendArg append(appended);
  const int order[] = {0, (append(args), 0)...};
  static_cast<void>(order);
  verdict.Require(appended == plain, "AppendArg appends the plain text", what);

  // The template is still looked up as a catalogue id (known ids give real
  // templates, unknown ones the fallback). Messages are made from named ids
  // only: the template's length picks one of a few with different field
  // counts.
  static_cast<void>(Tovri::Message<Tovri::CoreTag>::DefaultMessageForId(fmt));
  static constexpr const Tovri::MessageId* kIds[] = {
      &Tovri::MessageIds::kInvalidType, &Tovri::MessageIds::kBadCast1, &Tovri::MessageIds::kFieldExtra,
      &Tovri::MessageIds::kCheckUnionNotSelected};
  const Tovri::MessageId id = *kIds[fmt.size() % (sizeof kIds / sizeof kIds[0])];
  const std::string catalogueTemplate = Tovri::Message<Tovri::CoreTag>::DefaultMessageForId(id);
  if constexpr (kCount == 0) {
    const Tovri::Message<Tovri::CoreTag> message(id);
    verdict.Require(message.defaultMessage == catalogueTemplate && message.args.empty(),
                    "a message without arguments keeps its template verbatim", what);
  } else if constexpr (kCount <= 2) {
    const Tovri::Message<Tovri::CoreTag> message(id, args...);
    const Tovri::BaseMessage expected = Tovri::MakeMessage(id, catalogueTemplate, args...);
    verdict.Require(
        message.id == id && message.defaultMessage == expected.defaultMessage && message.args == plain,
        "Message<CoreTag> formats the catalogue template", what);
  }
}

// Turns the runtime argument kinds into a call with the matching types.
template <class... Args>
void Expand(const Input& input, std::size_t i, Verdict& verdict, const Args&... args) {
  if constexpr (sizeof...(Args) == 3) {
    CheckWith(input, verdict, args...);
  } else {
    if (i == input.count) {
      CheckWith(input, verdict, args...);
      return;
    }
    const Arg& arg = input.args[i];
    switch (arg.kind) {
      case ArgKind::kString:
        Expand(input, i + 1, verdict, args..., arg.bytes);
        break;
      case ArgKind::kPointer:
        Expand(input, i + 1, verdict, args..., arg.bytes.c_str());
        break;
      case ArgKind::kArray:
        Expand(input, i + 1, verdict, args..., arg.array);
        break;
    }
  }
}

}  // namespace FormatFuzz

inline void CheckFormatCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  const FormatFuzz::Input input = FormatFuzz::Parse(data, size);
  FormatFuzz::Expand(input, 0, verdict);
}

}  // namespace DralFuzz
