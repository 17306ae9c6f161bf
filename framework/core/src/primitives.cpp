// Creating primitive values and reading them back: exact-kind reads (Value)
// and parsing of string values (ToPrimitive). Every failure is a message.
#include <charconv>
#include <cstdint>
#include <limits>

#include <tovri/core/value.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Data {
namespace {

// Long texts are cut in messages so that a megabyte of garbage does not
// become a megabyte of message; the cut never splits a UTF-8 sequence.
std::string Excerpt(const std::string& text) {
  constexpr std::size_t kMax = 64;
  if (text.size() <= kMax) return text;
  std::size_t cut = kMax - 3;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

void KindMismatch(int expected, const DataValue& value, std::list<BaseMessage>& messages) {
  messages.push_back(
      Core::MakeCoreMessage(Core::Ids::kKindMismatch, {TypeName(expected), TypeName(value.GetType())}));
}

void ParseFailed(const std::string& text, int target, const char* reason, std::list<BaseMessage>& messages) {
  messages.push_back(
      Core::MakeCoreMessage(Core::Ids::kParseFailed, {Excerpt(text), TypeName(target), reason}));
}

void OutOfRange(const std::string& text, int target, std::list<BaseMessage>& messages) {
  messages.push_back(Core::MakeCoreMessage(Core::Ids::kOutOfRange, {Excerpt(text), TypeName(target)}));
}

// Reads the content of a value of exactly the class V.
template <class V, class T>
bool ReadExact(const DataValue& value, int code, T& out, std::list<BaseMessage>& messages) {
  if (value.GetType() != code) {
    KindMismatch(code, value, messages);
    return false;
  }
  out = static_cast<const V&>(value).GetValue();
  return true;
}

// The text of a string value, or a message.
const std::string* TextOf(const DataValue& value, std::list<BaseMessage>& messages) {
  if (value.GetType() != kString) {
    KindMismatch(kString, value, messages);
    return nullptr;
  }
  return &static_cast<const StringValue&>(value).GetValue();
}

// An optional "-", then one or more ASCII digits, nothing else.
bool ParseInteger(const std::string& text, long long& out, std::list<BaseMessage>& messages) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::size_t start = negative ? 1 : 0;
  if (text.size() == start) {
    ParseFailed(text, kInteger, text.empty() ? "the text is empty" : "no digits follow the sign", messages);
    return false;
  }
  // Magnitudes up to 2^63 fit when negative, 2^63 - 1 otherwise.
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      ParseFailed(text, kInteger, "only an optional minus sign and decimal digits are allowed", messages);
      return false;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (!overflow && magnitude > (limit - digit) / 10) overflow = true;
    if (!overflow) magnitude = magnitude * 10 + digit;
  }
  if (overflow) {
    OutOfRange(text, kInteger, messages);
    return false;
  }
  // Negating in unsigned arithmetic keeps 2^63 well-defined.
  out = negative ? static_cast<long long>(~magnitude + 1) : static_cast<long long>(magnitude);
  return true;
}

bool ParseBoolean(const std::string& text, bool& out, std::list<BaseMessage>& messages) {
  if (text == "true" || text == "false") {
    out = text == "true";
    return true;
  }
  ParseFailed(text, kBoolean, "only \"true\" and \"false\" are allowed", messages);
  return false;
}

// Decimal or scientific notation, "inf", "infinity" and "nan" in any case,
// an optional leading sign; the whole text must be consumed.
bool ParseDouble(const std::string& text, double& out, std::list<BaseMessage>& messages) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') {
    ++first;  // from_chars takes a "-" itself but not a "+"
    if (first != last && (*first == '-' || *first == '+')) first = last;
  }
  double result = 0;
  std::from_chars_result parsed{first, std::errc::invalid_argument};
  if (first != last) parsed = std::from_chars(first, last, result);
  if (parsed.ec == std::errc::result_out_of_range) {
    OutOfRange(text, kDouble, messages);
    return false;
  }
  if (parsed.ec != std::errc() || parsed.ptr != last) {
    ParseFailed(text, kDouble, text.empty() ? "the text is empty" : "not a decimal number", messages);
    return false;
  }
  out = result;
  return true;
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard alphabet, padded, canonical (unused bits zero), no white space.
bool ParseBlob(const std::string& text, Blob& out, std::list<BaseMessage>& messages) {
  if (text.size() % 4 != 0) {
    ParseFailed(text, kBlob, "base64 text must come in groups of four characters", messages);
    return false;
  }
  Blob bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool lastGroup = i + 4 == text.size();
    int padding = 0;
    if (lastGroup && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int digit = 0;
      if (k < 4u - static_cast<std::size_t>(padding)) {
        digit = Base64Digit(text[i + k]);
        if (digit < 0) {
          ParseFailed(text, kBlob, "not a base64 character, or misplaced padding", messages);
          return false;
        }
      }
      group = (group << 6) | static_cast<std::uint32_t>(digit);
    }
    const std::uint32_t unusedBits = padding == 2 ? 0xFFFFu : padding == 1 ? 0xFFu : 0u;
    if ((group & unusedBits) != 0) {
      ParseFailed(text, kBlob, "base64 text with non-zero padding bits", messages);
      return false;
    }
    bytes.push_back(static_cast<unsigned char>(group >> 16));
    if (padding < 2) bytes.push_back(static_cast<unsigned char>(group >> 8));
    if (padding < 1) bytes.push_back(static_cast<unsigned char>(group));
  }
  out = std::move(bytes);
  return true;
}

}  // namespace

// --- Create ------------------------------------------------------------------

template <>
ValuePtr DataValue::Create<std::string>(const std::string& value) {
  return StringValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<long long>(const long long& value) {
  return IntegerValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<bool>(const bool& value) {
  return BooleanValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<double>(const double& value) {
  return DoubleValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<Blob>(const Blob& value) {
  return BlobValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<SecretString>(const SecretString& value) {
  return SecretValue::GetInstance(value);
}
template <>
ValuePtr DataValue::Create<Void>(const Void&) {
  return VoidValue::GetInstance();
}

// --- Value -------------------------------------------------------------------

template <>
bool DataValue::Value<std::string>(const DataValue& value, std::string& out,
                                   std::list<BaseMessage>& messages) {
  return ReadExact<StringValue>(value, kString, out, messages);
}
template <>
bool DataValue::Value<long long>(const DataValue& value, long long& out, std::list<BaseMessage>& messages) {
  return ReadExact<IntegerValue>(value, kInteger, out, messages);
}
template <>
bool DataValue::Value<bool>(const DataValue& value, bool& out, std::list<BaseMessage>& messages) {
  return ReadExact<BooleanValue>(value, kBoolean, out, messages);
}
template <>
bool DataValue::Value<double>(const DataValue& value, double& out, std::list<BaseMessage>& messages) {
  return ReadExact<DoubleValue>(value, kDouble, out, messages);
}
template <>
bool DataValue::Value<Blob>(const DataValue& value, Blob& out, std::list<BaseMessage>& messages) {
  return ReadExact<BlobValue>(value, kBlob, out, messages);
}
template <>
bool DataValue::Value<SecretString>(const DataValue& value, SecretString& out,
                                    std::list<BaseMessage>& messages) {
  return ReadExact<SecretValue>(value, kSecret, out, messages);
}
template <>
bool DataValue::Value<Void>(const DataValue& value, Void& out, std::list<BaseMessage>& messages) {
  if (value.GetType() != kVoid) {
    KindMismatch(kVoid, value, messages);
    return false;
  }
  out = Void{};
  return true;
}

// --- ToPrimitive -------------------------------------------------------------

template <>
bool DataValue::ToPrimitive<std::string>(const DataValue& value, std::string& out,
                                         std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  if (!text) return false;
  out = *text;
  return true;
}
template <>
bool DataValue::ToPrimitive<long long>(const DataValue& value, long long& out,
                                       std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  return text && ParseInteger(*text, out, messages);
}
template <>
bool DataValue::ToPrimitive<bool>(const DataValue& value, bool& out, std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  return text && ParseBoolean(*text, out, messages);
}
template <>
bool DataValue::ToPrimitive<double>(const DataValue& value, double& out, std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  return text && ParseDouble(*text, out, messages);
}
template <>
bool DataValue::ToPrimitive<Blob>(const DataValue& value, Blob& out, std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  return text && ParseBlob(*text, out, messages);
}
template <>
bool DataValue::ToPrimitive<SecretString>(const DataValue& value, SecretString& out,
                                          std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  if (!text) return false;
  out.Assign(*text);
  return true;
}
template <>
bool DataValue::ToPrimitive<Void>(const DataValue& value, Void& out, std::list<BaseMessage>& messages) {
  const std::string* text = TextOf(value, messages);
  if (!text) return false;
  if (!text->empty()) {
    ParseFailed(*text, kVoid, "only the empty text stands for no value", messages);
    return false;
  }
  out = Void{};
  return true;
}

}  // namespace Data
}  // namespace Tovri
