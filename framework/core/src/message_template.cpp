#include <tovri/core/message_template.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Tovri {
namespace MessageTemplate {
namespace {

// "%" + options + "s" + NUL must fit 16 bytes.
constexpr std::size_t kMaxOptions = 13;
// Keeps a width from asking for gigabytes of padding.
constexpr unsigned long kMaxWidth = 65536;

bool IsFlag(char c) noexcept { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Reads a run of digits starting at `i`; false when its value exceeds `max`.
bool ReadNumber(boost::string_view options, std::size_t& i, unsigned long max) noexcept {
  unsigned long value = 0;
  for (; i < options.size() && IsDigit(options[i]); ++i) {
    value = value * 10 + static_cast<unsigned long>(options[i] - '0');
    if (value > max) return false;
  }
  return true;
}

// True for flags* width? (.precision?)? within the bounds above. Only such
// options reach snprintf.
bool IsPrintfOptions(boost::string_view options) noexcept {
  if (options.size() > kMaxOptions) return false;
  std::size_t i = 0;
  while (i < options.size() && IsFlag(options[i])) ++i;
  if (!ReadNumber(options, i, kMaxWidth)) return false;
  if (i < options.size() && options[i] == '.') {
    ++i;
    if (!ReadNumber(options, i, INT_MAX)) return false;
  }
  return i == options.size();
}

// strtoull in base 10 over at most the first 20 characters of `index` (up to
// a NUL among them); errno is left as it was.
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

bool Reader::Next(Piece& piece) noexcept {
  const std::size_t size = tmpl_.size();
  if (pos_ >= size) return false;

  std::size_t run = pos_;
  while (run < size && tmpl_[run] != '{' && tmpl_[run] != '}') ++run;
  if (run > pos_) {
    piece = Piece{Piece::Kind::kText, tmpl_.substr(pos_, run - pos_), 0, {}};
    pos_ = run;
    return true;
  }

  const char brace = tmpl_[pos_];
  const bool doubled = pos_ + 1 < size && tmpl_[pos_ + 1] == brace;
  if (doubled || brace == '}') {
    piece = Piece{Piece::Kind::kText, tmpl_.substr(pos_, 1), 0, {}};
    pos_ += doubled ? 2 : 1;
    return true;
  }

  const std::size_t start = pos_ + 1;
  const std::size_t close = tmpl_.find('}', start);
  const std::size_t end = close == boost::string_view::npos ? size : close;
  const boost::string_view content = tmpl_.substr(start, end - start);
  const std::size_t colon = content.find(':');
  const boost::string_view index = content.substr(0, colon);
  const boost::string_view options =
      colon == boost::string_view::npos ? boost::string_view() : content.substr(colon + 1);

  const unsigned long long number = ParseIndex(index);
  const unsigned long long argument = number == 0 ? fields_ : number - 1;
  if (argument >= argumentCount_) {
    piece = Piece{Piece::Kind::kMissingArgument, {}, 0, {}};
    pos_ = size;
    return true;
  }
  piece = Piece{Piece::Kind::kField, {}, static_cast<std::size_t>(argument), options};
  ++fields_;
  pos_ = close == boost::string_view::npos ? size : close + 1;
  return true;
}

void AppendField(std::string& out, boost::string_view text, boost::string_view options) {
  if (options.empty() || options == "s") {
    out.append(text.data(), text.size());
    return;
  }
  // The text as a C string: snprintf needs the NUL, and every other option
  // sees the text up to its first NUL as well.
  const std::string cText(text.data(), std::min(text.size(), text.find('\0')));
  if (!IsPrintfOptions(options)) {
    out += cText;
    return;
  }
  char conversion[16] = {};
  conversion[0] = '%';
  std::memcpy(conversion + 1, options.data(), options.size());
  conversion[options.size() + 1] = 's';
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  const int length = std::snprintf(nullptr, 0, conversion, cText.c_str());
  if (length < 0) {
    out += cText;
    return;
  }
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(length) + 1);
  std::snprintf(&out[at], static_cast<std::size_t>(length) + 1, conversion, cText.c_str());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  out.resize(at + static_cast<std::size_t>(length));  // drops snprintf's NUL
}

}  // namespace MessageTemplate
}  // namespace Tovri
