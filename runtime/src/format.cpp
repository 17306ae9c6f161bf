#include <dral/runtime/format.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace Tovri {

FormatCategory::~FormatCategory() = default;

const char* FormatCategory::name() const noexcept { return "Tovri Format Error"; }

std::string FormatCategory::message(int code) const {
  switch (code) {
    case 1:
      return "Named argument not found.";
    case 2:
      return "Empty Named specifier found.";
    case 3:
      return "More specifiers than expected.";
    default:
      return "format error";
  }
}

const FormatCategory& GetFormatCategory() {
  static const FormatCategory instance;
  return instance;
}

namespace Detail {
namespace {

// "%" + spec + "s" + NUL must fit 16 bytes.
constexpr std::size_t kMaxSpec = 13;
// Keeps a width from asking for gigabytes of padding.
constexpr unsigned long kMaxWidth = 65536;

bool IsFlag(char c) noexcept { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Reads a run of digits starting at `i`; false when its value exceeds `max`.
bool ReadNumber(boost::string_view spec, std::size_t& i, unsigned long max) noexcept {
  unsigned long value = 0;
  for (; i < spec.size() && IsDigit(spec[i]); ++i) {
    value = value * 10 + static_cast<unsigned long>(spec[i] - '0');
    if (value > max) return false;
  }
  return true;
}

// True for a spec of the form flags* width? (.precision?)? of at most
// kMaxSpec characters with a bounded width. Only such specs reach snprintf:
// any other character could form another conversion ("n", "*", "d", ...)
// that would read or write through the wrong argument.
bool IsPrintfSpec(boost::string_view spec) noexcept {
  if (spec.size() > kMaxSpec) return false;
  std::size_t i = 0;
  while (i < spec.size() && IsFlag(spec[i])) ++i;
  if (!ReadNumber(spec, i, kMaxWidth)) return false;
  if (i < spec.size() && spec[i] == '.') {
    ++i;
    if (!ReadNumber(spec, i, INT_MAX)) return false;
  }
  return i == spec.size();
}

void WriteText(std::ostream& out, const char* text) {
  out.write(text, static_cast<std::streamsize>(std::strlen(text)));
}

// strtoull in base 10 over at most the first 20 characters of `index`;
// errno is left as it was.
unsigned long long ParseIndex(boost::string_view index) noexcept {
  char buffer[21] = {};
  const std::size_t n = index.size() < 20 ? index.size() : 20;
  if (n != 0) std::memcpy(buffer, index.data(), n);
  const int savedErrno = errno;
  const unsigned long long value = std::strtoull(buffer, nullptr, 10);
  errno = savedErrno;
  return value;
}

}  // namespace

// A spec that is not flags, width and precision (or is longer than 13
// characters, or has a width above 65536) is not an error: the text is
// written as with an empty spec, so the argument is never lost.
void formatter<const char*, false>::call(std::ostream& out, boost::string_view spec, const void* value) {
  const char* text = static_cast<const char*>(value);
  if (text == nullptr) {
    out.setstate(std::ios_base::badbit);
    return;
  }
  if (spec.empty() || spec == "s" || !IsPrintfSpec(spec)) {
    WriteText(out, text);
    return;
  }
  char conversion[16] = {};
  conversion[0] = '%';
  std::memcpy(conversion + 1, spec.data(), spec.size());
  conversion[spec.size() + 1] = 's';
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  const int length = std::snprintf(nullptr, 0, conversion, text);
  if (length < 0) {
    WriteText(out, text);
    return;
  }
  std::vector<char> printed(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(printed.data(), printed.size(), conversion, text);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  out.write(printed.data(), length);
}

void formatter<std::string, false>::call(std::ostream& out, boost::string_view spec, const void* value) {
  const std::string& text = *static_cast<const std::string*>(value);
  if (spec.empty() || spec == "s") {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return;
  }
  formatter<const char*, false>::call(out, spec, text.c_str());
}

// A "}" that is neither doubled nor closes a field is written as it is.
void FormatTo(std::ostream& out, boost::string_view fmt, const format_arg* args, std::size_t count,
              std::error_code& ec) {
  std::size_t next = 0;
  std::size_t i = 0;
  const std::size_t size = fmt.size();
  while (i < size) {
    std::size_t run = i;
    while (run < size && fmt[run] != '{' && fmt[run] != '}') ++run;
    if (run > i) out.write(fmt.data() + i, static_cast<std::streamsize>(run - i));
    if (run == size) return;

    const char brace = fmt[run];
    if (run + 1 < size && fmt[run + 1] == brace) {
      out.put(brace);
      i = run + 2;
      continue;
    }
    if (brace == '}') {
      out.put(brace);
      i = run + 1;
      continue;
    }

    const std::size_t start = run + 1;
    const std::size_t close = fmt.find('}', start);
    const std::size_t end = close == boost::string_view::npos ? size : close;
    const boost::string_view content = fmt.substr(start, end - start);
    const std::size_t colon = content.find(':');
    const boost::string_view index = colon == boost::string_view::npos ? content : content.substr(0, colon);
    const boost::string_view spec =
        colon == boost::string_view::npos ? boost::string_view() : content.substr(colon + 1);

    const unsigned long long number = ParseIndex(index);
    const unsigned long long position = number == 0 ? next : number - 1;
    if (position >= count) {
      ec = std::error_code(3, GetFormatCategory());
      return;
    }
    const format_arg& arg = args[position];
    if (arg.format == nullptr) {
      out.setstate(std::ios_base::badbit);
    } else {
      arg.format(out, spec, arg.value);
    }
    ++next;
    i = close == boost::string_view::npos ? size : close + 1;
  }
}

std::string Format(boost::string_view fmt, const format_arg* args, std::size_t count, std::error_code& ec) {
  std::ostringstream out;
  FormatTo(out, fmt, args, count, ec);
  return out.str();
}

}  // namespace Detail
}  // namespace Tovri
