// Properties of reading primitives from dynamic values: parsing a string
// value (DataValue::ToPrimitive<T>) and reading a value of exactly T's kind
// (DataValue::Value<T>), for every primitive T.
//
// Input: the whole input is the text of a string value; it is also decoded
// as a free-form value tree, and its first bytes as primitive values.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <list>
#include <string>
#include <type_traits>

#include <tovri/core/result_types.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/value.hpp>

#include "byte_reader.hpp"
#include "value_decoder.hpp"
#include "verdict.hpp"

namespace DralFuzz {
namespace PrimitiveFuzz {

using namespace Tovri::Data;
using Tovri::BaseMessage;
using Tovri::SecretString;
using Tovri::Void;

template <class T>
struct Traits;

// Per type: its value kind, the class holding it, two distinct sentinels
// (an output left untouched must keep either) and equality.
template <>
struct Traits<std::string> {
  static constexpr int kCode = kString;
  using Class = StringValue;
  static std::string A() { return std::string("sentinel\0a", 10); }
  static std::string B() { return std::string(); }
  static bool Same(const std::string& a, const std::string& b) { return a == b; }
};
template <>
struct Traits<long long> {
  static constexpr int kCode = kInteger;
  using Class = IntegerValue;
  static long long A() { return 0x5a5a5a5a5a5a5a5aLL; }
  static long long B() { return -1; }
  static bool Same(long long a, long long b) { return a == b; }
};
template <>
struct Traits<bool> {
  static constexpr int kCode = kBoolean;
  using Class = BooleanValue;
  static bool A() { return true; }
  static bool B() { return false; }
  static bool Same(bool a, bool b) { return a == b; }
};
template <>
struct Traits<double> {
  static constexpr int kCode = kDouble;
  using Class = DoubleValue;
  static double A() { return -1234.5; }
  static double B() { return std::nan("7"); }
  static bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
};
template <>
struct Traits<Blob> {
  static constexpr int kCode = kBlob;
  using Class = BlobValue;
  static Blob A() { return Blob{0xde, 0xad}; }
  static Blob B() { return Blob(); }
  static bool Same(const Blob& a, const Blob& b) { return a == b; }
};
template <>
struct Traits<SecretString> {
  static constexpr int kCode = kSecret;
  using Class = SecretValue;
  static SecretString A() { return SecretString("sentinel"); }
  static SecretString B() { return SecretString(); }
  static bool Same(const SecretString& a, const SecretString& b) { return a == b; }
};
template <>
struct Traits<Void> {
  static constexpr int kCode = kVoid;
  static Void A() { return Void{}; }
  static Void B() { return Void{}; }
  static bool Same(const Void&, const Void&) { return true; }
};

// Runs a read with each sentinel in `out`; checks that it returns false iff
// it appended a message, leaves the output untouched on failure, and gives
// the same answer both times. Leaves the result of the first run in `out`.
template <class T>
bool Read(bool (*read)(const DataValue&, T&, std::list<BaseMessage>&), const DataValue& value, T& out,
          Verdict& verdict, const std::string& what) {
  bool ok = false;
  T first = Traits<T>::A();
  for (int run = 0; run < 2; ++run) {
    const T sentinel = run == 0 ? Traits<T>::A() : Traits<T>::B();
    T result = sentinel;
    std::list<BaseMessage> messages{BaseMessage("earlier", "earlier", {})};
    const bool okNow = read(value, result, messages);
    verdict.Require(okNow == (messages.size() == 1), "returns false iff a message was appended", what);
    verdict.Require(messages.front().id == "earlier", "earlier messages are kept", what);
    if (!okNow)
      verdict.Require(Traits<T>::Same(result, sentinel), "the output is untouched on failure", what);
    if (run == 0) {
      ok = okNow;
      first = result;
    } else {
      verdict.Require(okNow == ok && (!ok || Traits<T>::Same(result, first)), "reads are repeatable", what);
    }
  }
  out = first;
  return ok;
}

inline std::string Base64(const Blob& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += n > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += n > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

template <class T>
bool Parse(const std::string& text, T& out, Verdict& verdict) {
  return Read<T>(&DataValue::ToPrimitive<T>, *StringValue::GetInstance(text), out, verdict,
                 "parsing " + Printable(text));
}

inline void CheckTextParsing(const std::string& text, Verdict& verdict) {
  const std::string what = Printable(text);
  std::string s;
  verdict.Require(Parse(text, s, verdict) && s == text, "a string parses as itself", what);
  SecretString secret;
  verdict.Require(Parse(text, secret, verdict) && secret.Reveal() == text, "a secret parses as the text",
                  what);
  Void nothing;
  verdict.Require(Parse(text, nothing, verdict) == text.empty(), "only the empty text is void", what);
  bool flag = false;
  const bool isBool = Parse(text, flag, verdict);
  verdict.Require(isBool == (text == "true" || text == "false") && (!isBool || flag == (text == "true")),
                  "booleans are exactly \"true\" and \"false\"", what);

  long long integer = 0;
  const bool isInteger = Parse(text, integer, verdict);
  long long expected = 0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), expected);
  const bool accepted = !text.empty() && parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
  verdict.Require(isInteger == accepted && (!accepted || integer == expected),
                  "integers are an optional minus and decimal digits within 64 bits", what);
  if (isInteger) {
    long long again = 0;
    verdict.Require(Parse(std::to_string(integer), again, verdict) && again == integer,
                    "an integer's decimal text parses back to it", what);
  }

  double number = 0;
  if (Parse(text, number, verdict)) {
    char printed[64];
    const auto end = std::to_chars(printed, printed + sizeof printed, number).ptr;
    double again = 0;
    verdict.Require(Parse(std::string(printed, end), again, verdict) &&
                        (again == number || (std::isnan(again) && std::isnan(number))),
                    "a double's shortest text parses back to it", what);
    if (text[0] == '+') {
      double withoutPlus = 0;
      verdict.Require(
          Parse(text.substr(1), withoutPlus, verdict) && Traits<double>::Same(withoutPlus, number),
          "a leading plus changes nothing", what);
    }
  }

  Blob blob;
  if (Parse(text, blob, verdict)) {
    verdict.Require(Base64(blob) == text, "only canonical base64 parses, and to its bytes", what);
  }
  const Blob bytes(text.begin(), text.end());
  Blob decoded;
  verdict.Require(Parse(Base64(bytes), decoded, verdict) && decoded == bytes,
                  "base64 of any bytes parses back", what);

  // A string value holds no other kind.
  const ValuePtr value = StringValue::GetInstance(text);
  std::string exact;
  verdict.Require(
      Read<std::string>(&DataValue::Value<std::string>, *value, exact, verdict, what) && exact == text,
      "a string value reads as its text", what);
  verdict.Require(!Read<long long>(&DataValue::Value<long long>, *value, integer, verdict, what) &&
                      !Read<bool>(&DataValue::Value<bool>, *value, flag, verdict, what) &&
                      !Read<double>(&DataValue::Value<double>, *value, number, verdict, what) &&
                      !Read<Blob>(&DataValue::Value<Blob>, *value, blob, verdict, what) &&
                      !Read<SecretString>(&DataValue::Value<SecretString>, *value, secret, verdict, what) &&
                      !Read<Void>(&DataValue::Value<Void>, *value, nothing, verdict, what),
                  "a string value is of no other kind", what);
}

// Value<T> succeeds exactly on T's kind, giving the content; ToPrimitive<T>
// fails on anything but a string value.
template <class T>
void CheckExactRead(const DataValue& value, Verdict& verdict) {
  const std::string what =
      std::string("reading a ") + TypeName(value.GetType()) + " as " + TypeName(Traits<T>::kCode);
  T out = Traits<T>::A();
  const bool ok = Read<T>(&DataValue::Value<T>, value, out, verdict, what);
  verdict.Require(ok == (value.GetType() == Traits<T>::kCode), "Value reads exactly its kind", what);
  if constexpr (!std::is_same<T, Void>::value) {
    if (ok) {
      verdict.Require(Traits<T>::Same(out, static_cast<const typename Traits<T>::Class&>(value).GetValue()),
                      "Value gives the content", what);
    }
  }
  if (value.GetType() != kString) {
    verdict.Require(!Read<T>(&DataValue::ToPrimitive<T>, value, out, verdict, what),
                    "only strings are parsed", what);
  }
}

template <class T>
void CheckCreate(const T& native, Verdict& verdict) {
  const ValuePtr value = DataValue::Create<T>(native);
  const std::string what = std::string("creating a ") + TypeName(Traits<T>::kCode);
  if (!verdict.Require(value && value->GetType() == Traits<T>::kCode, "Create makes T's kind", what)) return;
  T out = Traits<T>::A();
  verdict.Require(Read<T>(&DataValue::Value<T>, *value, out, verdict, what) && Traits<T>::Same(out, native),
                  "Create and Value round trip", what);
  verdict.Require(Equal(*value, *DataValue::Create<T>(native)), "created values compare equal", what);
}

}  // namespace PrimitiveFuzz

inline void CheckPrimitiveCase(const std::uint8_t* data, std::size_t size, Verdict& verdict) {
  using namespace PrimitiveFuzz;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckTextParsing(text, verdict);

  ByteReader in(data, size);
  static const Dictionary kTexts{{"s"}, {"f"}, {"12", "-0", "true", "nan", "AAAA", ""}};
  DecodeLimits limits;
  limits.maxValueNodes = 64;
  if (const ValuePtr value = ValueDecoder(in, kTexts, limits).Decode()) {
    CheckExactRead<std::string>(*value, verdict);
    CheckExactRead<long long>(*value, verdict);
    CheckExactRead<bool>(*value, verdict);
    CheckExactRead<double>(*value, verdict);
    CheckExactRead<Blob>(*value, verdict);
    CheckExactRead<SecretString>(*value, verdict);
    CheckExactRead<Void>(*value, verdict);
  }

  ByteReader bits(data, size);
  std::uint64_t raw = bits.Number(8);
  long long integer = 0;
  double number = 0;
  std::memcpy(&integer, &raw, sizeof integer);
  std::memcpy(&number, &raw, sizeof number);
  CheckCreate<long long>(integer, verdict);
  CheckCreate<double>(number, verdict);
  CheckCreate<bool>((raw & 1) != 0, verdict);
  CheckCreate<Blob>(Blob(text.begin(), text.end()), verdict);
  CheckCreate<std::string>(text, verdict);
  CheckCreate<SecretString>(SecretString(text), verdict);
  CheckCreate<Void>(Void{}, verdict);

  // The shortest text of any double parses back to it.
  char printed[64];
  const auto end = std::to_chars(printed, printed + sizeof printed, number).ptr;
  double again = 0;
  verdict.Require(Parse(std::string(printed, end), again, verdict) &&
                      (Traits<double>::Same(again, number) || (std::isnan(again) && std::isnan(number))),
                  "every double's shortest text parses", Printable(std::string(printed, end)));
}

}  // namespace DralFuzz
