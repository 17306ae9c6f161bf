// The lossless JSON shape: every kind comes back as an equal tree, depth
// costs no native stack, and bad input is refused with a reason.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/http/lossless_json.hpp>

#include "support/test_support.hpp"

namespace {

using namespace Tovri::Data;
using Tovri::Http::JsonLimits;
using Tovri::Http::ReadLosslessJson;
using Tovri::Http::ToLosslessJson;

ValuePtr RoundTrip(const DataValue& value, const JsonLimits& limits = JsonLimits()) {
  std::string error;
  ValuePtr back = ReadLosslessJson(ToLosslessJson(value), limits, error);
  EXPECT_TRUE(back) << error;
  return back;
}

ValuePtr Struct(const std::string& name, std::vector<std::pair<std::string, ValuePtr>> fields) {
  auto s = StructValue::GetInstance(name);
  for (auto& field : fields) s->SetField(field.first, field.second);
  return s;
}

ValuePtr List(int kind, std::vector<ValuePtr> elements) {
  auto list = ListValue::GetInstance(kind);
  for (auto& e : elements) list->Append(e);
  return list;
}

TEST(LosslessJson, EveryKindRoundTrips) {
  auto dynamic = DynamicStructValue::GetInstance("dyn");
  dynamic->SetField("x", IntegerValue::GetInstance(1));
  const std::vector<std::pair<const char*, ValuePtr>> table = {
      {"void", VoidValue::GetInstance()},
      {"int max", IntegerValue::GetInstance(std::numeric_limits<long long>::max())},
      {"int min", IntegerValue::GetInstance(std::numeric_limits<long long>::min())},
      {"double", DoubleValue::GetInstance(0.1)},
      {"double integral", DoubleValue::GetInstance(3.0)},
      {"double tiny", DoubleValue::GetInstance(std::numeric_limits<double>::denorm_min())},
      {"double max", DoubleValue::GetInstance(std::numeric_limits<double>::max())},
      {"+inf", DoubleValue::GetInstance(std::numeric_limits<double>::infinity())},
      {"-inf", DoubleValue::GetInstance(-std::numeric_limits<double>::infinity())},
      {"bool", BooleanValue::GetInstance(true)},
      {"blob empty", BlobValue::GetInstance({})},
      {"blob 1", BlobValue::GetInstance({0xff})},
      {"blob 2", BlobValue::GetInstance({0, 1})},
      {"blob 3", BlobValue::GetInstance({0, 0xfe, 7})},
      {"string with controls and bytes", StringValue::GetInstance(std::string("a\"\\\n\0\x7f\xff", 8))},
      {"secret", SecretValue::GetInstance(Tovri::SecretString("pw\"1"))},
      {"optional unset", OptionalValue::GetInstance()},
      {"optional set", OptionalValue::GetInstance(StringValue::GetInstance("x"))},
      {"optional of optional", OptionalValue::GetInstance(OptionalValue::GetInstance())},
      {"list", List(ListValue::kListKind, {IntegerValue::GetInstance(1), StringValue::GetInstance("b")})},
      {"set", List(ListValue::kSetKind, {IntegerValue::GetInstance(1), IntegerValue::GetInstance(2)})},
      {"map", List(ListValue::kMapKind, {Struct("map-entry", {{"key", StringValue::GetInstance("k")},
                                                              {"value", VoidValue::GetInstance()}})})},
      {"empty list", List(ListValue::kListKind, {})},
      {"odd list kind", List(7, {VoidValue::GetInstance()})},
      {"struct", Struct("a.b", {{"f", BooleanValue::GetInstance(false)}, {"", VoidValue::GetInstance()}})},
      {"dynamic", dynamic},
      {"error",
       ErrorValue::Create("com.corvane.tovri.std.errors.not_found",
                          std::list<Tovri::BaseMessage>{Tovri::BaseMessage("m", "text {1}", {"x"})})},
  };
  for (const auto& row : table) {
    ValuePtr back = RoundTrip(*row.second);
    ASSERT_TRUE(back) << row.first;
    EXPECT_EQ(back->GetType(), row.second->GetType()) << row.first;
    EXPECT_TRUE(Equal(*back, *row.second)) << row.first << ": " << ToLosslessJson(*row.second);
  }
}

// Equal cannot tell these apart; the bits must survive.
TEST(LosslessJson, DoublesWithoutJsonLiteralKeepTheirBits) {
  for (double d : {std::nan(""), -0.0, 0.0, -1e-300}) {
    ValuePtr back = RoundTrip(*DoubleValue::GetInstance(d));
    ASSERT_TRUE(back);
    const double got = static_cast<const DoubleValue&>(*back).GetValue();
    EXPECT_EQ(std::isnan(got), std::isnan(d));
    EXPECT_EQ(std::signbit(got), std::signbit(d));
    if (!std::isnan(d)) {
      EXPECT_EQ(got, d);
    }
  }
}

// Doubles whose shortest text Boost.JSON's own conversion reads one unit in
// the last place off (found by fuzzing), then random bit patterns: each must
// come back as the very value written, and its text must read as written.
TEST(LosslessJson, EveryDoubleReadsBackExactly) {
  std::vector<double> doubles;
  for (const char* text : {"7.976931348623156E306", "1.3927926388013963E-143", "5.409760742964738E124",
                           "-2.128409656321987E-239", "1E-323"}) {
    double d = 0;
    ASSERT_EQ(std::from_chars(text, text + std::strlen(text), d).ec, std::errc()) << text;
    doubles.push_back(d);
  }
  std::mt19937_64 random(20261207);
  while (doubles.size() < 5000) {
    const std::uint64_t bits = random();
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) doubles.push_back(d);
  }
  for (double d : doubles) {
    ValuePtr back = RoundTrip(*DoubleValue::GetInstance(d));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->GetType(), kDouble);
    EXPECT_EQ(static_cast<const DoubleValue&>(*back).GetValue(), d)
        << ToLosslessJson(*DoubleValue::GetInstance(d));
  }
}

// 100,000 levels of each container kind on a 256 KiB stack: neither the
// writer, the parser, the reader nor the teardown may recurse per level.
TEST(LosslessJson, DeepNestingNeedsNoNativeStack) {
  constexpr int kDepth = 100000;
  JsonLimits limits;
  limits.maxDepth = kDepth + 1;
  Dral::TestSupport::RunOnStack(256 * 1024, [&] {
    for (int shape = 0; shape < 3; ++shape) {
      ValuePtr value = IntegerValue::GetInstance(7);
      for (int i = 0; i < kDepth; ++i) {
        if (shape == 0) value = OptionalValue::GetInstance(value);
        if (shape == 1) value = List(ListValue::kListKind, {value});
        if (shape == 2) value = Struct("s", {{"f", value}});
      }
      const std::string text = ToLosslessJson(*value);
      std::string error;
      ValuePtr back = ReadLosslessJson(text, limits, error);
      ASSERT_TRUE(back) << error;
      EXPECT_TRUE(Equal(*back, *value));
      JsonLimits shallow = limits;
      shallow.maxDepth = kDepth;
      EXPECT_FALSE(ReadLosslessJson(text, shallow, error));
      EXPECT_NE(error.find("deeper"), std::string::npos) << error;
    }
  });
}

TEST(LosslessJson, MalformedInputIsRefusedWithAReason) {
  JsonLimits small;
  small.maxBytes = 64;
  small.maxElements = 3;
  const std::vector<std::pair<const char*, const char*>> table = {
      {"", "malformed JSON"},
      {"[\"int\",1", "malformed JSON"},
      {"{\"int\":1}", "JSON array"},
      {"[]", "value tag"},
      {"[\"int\"]", "operand of int"},
      {"[\"int\",1.5]", "64-bit range"},
      {"[\"int\",18446744073709551615]", "64-bit range"},
      {"[\"int\",1,\"void\"]", "end of the value"},
      // One spelling for both shapes: the older lower-case one is refused.
      {"[\"double\",\"nan\"]", "\"NaN\""},
      {"[\"double\",\"inf\"]", "\"Infinity\""},
      {"[\"bool\",1]", "true or false"},
      {"[\"blob\",\"abc\"]", "base64"},
      {"[\"blob\",\"a=bc\"]", "base64"},
      {"[\"blob\",\"ab=c\"]", "base64"},
      {"[\"string\",5]", "JSON string"},
      {"[\"optional\"]", "value tag"},
      {"[\"list\",-1]", "count"},
      {"[\"list\",2,\"void\"]", "as many items"},
      {"[\"listkind\",\"x\",0]", "list kind"},
      {"[\"struct\",\"s\",1,5,\"void\"]", "field name"},
      {"[\"struct\",\"s\",2,\"a\",\"void\",\"a\",\"void\"]", "not given before"},
      {"[\"struct\",1,0]", "a name"},
      {"[\"tuple\",0]", "known value tag at item 0"},
      {"[\"list\",3,\"void\",\"void\",\"void\"]", "more than 3"},
      {"[\"string\",\"0123456789012345678901234567890123456789012345678901234567890\"]", "larger than 64"},
  };
  for (const auto& row : table) {
    std::string error;
    EXPECT_FALSE(ReadLosslessJson(row.first, small, error)) << row.first;
    EXPECT_NE(error.find(row.second), std::string::npos) << row.first << " -> " << error;
  }
}

}  // namespace
