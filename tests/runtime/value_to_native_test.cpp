#include <dral/runtime/value_to_native.hpp>

#include <algorithm>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>
#include <tovri/core/message_ids.hpp>

#include <dral/test/routes.hpp>

#include "runtime/fixtures.hpp"

namespace Dral {
namespace Test {
namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;
using namespace ::Dral::TestValues;

// A copy of a structure value with one field replaced, or removed when given
// null.
ValuePtr With(const ValuePtr& value, const char* name, const ValuePtr& replacement) {
  const auto& source = dynamic_cast<const StructValue&>(*value);
  auto copy = StructValue::GetInstance(source.GetName());
  for (const auto& field : source.GetFields()) {
    if (field.first != name) copy->SetField(field.first, field.second);
  }
  if (replacement) copy->SetField(name, replacement);
  return copy;
}

// `entry` with a valid key and value, whatever kind of compound it is.
ValuePtr FilledEntry(std::shared_ptr<::Tovri::Data::CompoundValue> entry) {
  entry->SetField("key", Int(1));
  entry->SetField("value", Blob({}));
  return entry;
}

class ValueToNative : public ::testing::Test {
 protected:
  template <class T>
  bool Convert(const ValuePtr& value, T& out) {
    return ValueToNativeAdapter::Adapt(value, out, messages_);
  }
  // Converts AllKindsValue() with `field` replaced by `replacement`.
  AllKinds ConvertAllKinds(const char* field, const ValuePtr& replacement) {
    AllKinds all;
    messages_.clear();
    ok_ = Convert(With(AllKindsValue(), field, replacement), all);
    return all;
  }

  std::list<BaseMessage> messages_;
  bool ok_ = false;
};

TEST_F(ValueToNative, AllKindsValueGivesTheObject) {
  AllKinds all;
  ASSERT_TRUE(Convert(AllKindsValue(), all)) << (messages_.empty() ? "" : messages_.front().defaultMessage);
  ExpectAllKinds(all);
  EXPECT_EQ(all.unknownFields, nullptr);  // no holder without undeclared fields
}

// Looser input shapes the reader accepts, each checked by writing the
// result back: the field must come out as `written`.
TEST_F(ValueToNative, LooserInputShapes) {
  struct Case {
    const char* field;
    ValuePtr given;
    ValuePtr written;
  };
  const ValuePtr pcrs = List(3, {MapEntry(Int(0), Blob({0xaa})), MapEntry(Int(7), Blob({0xbb}))});
  const Case cases[] = {
      // An optional takes a bare value as its content...
      {"comment", Str("direct"), Opt(Str("direct"))},
      {"limit", Int(5), Opt(Int(5))},
      {"tint", Str("RED"), Opt(Str("RED"))},
      {"backup", EndpointValue("bare", 9), Opt(EndpointValue("bare", 9))},
      {"aliases", Str("solo"), Opt(List({Str("solo")}))},
      {"password", Str("pw2"), Opt(Secret("pw2"))},
      {"spare_pcrs", List(3, {MapEntry(Int(2), Blob({2}))}), Opt(List(3, {MapEntry(Int(2), Blob({2}))}))},
      // ...and stays unset given an empty string, an unset value or nothing.
      {"comment", Str(""), Unset()},
      {"backup", Str(""), Unset()},
      {"limit", Unset(), Unset()},
      {"digest", nullptr, Unset()},
      {"spare_pcrs", Unset(), Unset()},
      // A list or set given one string holds it; given "" it is empty.
      {"tags", Str("one"), List({Str("one")})},
      {"names", Str("n"), List(2, {Str("n")})},
      {"numbers", Str("5"), List(2, {Int(5)})},
      {"colors", Str("PURPLE"), List(2, {Str("PURPLE")})},
      {"tags", Str(""), List({})},
      {"names", Str(""), List(2, {})},
      {"numbers", Str(""), List(2, {})},
      {"colors", Str(""), List(2, {})},
      // Primitives are parsed from strings; enumerations keep unknown text.
      {"number", Str("12"), Int(12)},
      {"flag", Str("false"), Bool(false)},
      {"secret", Str("pw"), Secret("pw")},
      {"numbers", List(2, {Str("4")}), List(2, {Int(4)})},
      {"color", Str("HSM"), Str("HSM")},
      // Set elements collapse.
      {"numbers", List(2, {Int(2), Int(1), Int(2)}), List(2, {Int(1), Int(2)})},
      {"colors", List(2, {Str("RED"), Str("RED"), Str("X"), Str("Y")}),
       List(2, {Str("RED"), Str("X"), Str("Y")})},
      // Maps come as entries with parsed keys, as a structure of keys, or as
      // ""; a repeated key keeps its first value.
      {"pcrs", List(3, {MapEntry(Int(0), Blob({0xaa})), MapEntry(Str("7"), Blob({0xbb}))}), pcrs},
      {"pcrs", Struct("pcrs", {{"0", Blob({0xaa})}, {" +7", Blob({0xbb})}}), pcrs},
      {"pcrs", Str(""), List(3, {})},
      {"pcrs", List(3, {MapEntry(Int(3), Blob({1})), MapEntry(Int(3), Blob({2}))}),
       List(3, {MapEntry(Int(3), Blob({1}))})},
  };
  for (const Case& c : cases) {
    const AllKinds all = ConvertAllKinds(c.field, c.given);
    ASSERT_TRUE(ok_) << c.field;
    ValuePtr back;
    ASSERT_TRUE(
        ::Tovri::Data::NativeToValueAdapter::Adapt(all, back, messages_, ::Tovri::L10n::RequestLocalizer()));
    EXPECT_TRUE(::Tovri::Data::Equal(*back, *With(AllKindsValue(), c.field, c.written))) << c.field;
  }
}

TEST_F(ValueToNative, EmptyStringForAStructureGivesDefaultsAllTheWayDown) {
  AllKinds all;
  all.number = 99;
  all.color = Color::GREEN;
  ASSERT_TRUE(Convert(Str(""), all));
  EXPECT_EQ(all.number, 99);                    // primitives keep their state
  EXPECT_EQ(all.color.raw(), Color::_UNKNOWN);  // enumerations are reset
  ExpectSameEndpoint(all.endpoint, "", 0);
  ASSERT_NE(all.provider, nullptr);
  EXPECT_EQ(all.provider->nativeInfo, nullptr);
  ASSERT_NE(all.note, nullptr);
  EXPECT_EQ(all.backup, nullptr);
}

TEST_F(ValueToNative, StructuresArriveAsErrorsAndDynamicStructures) {
  ::Com::Corvane::Tovri::Std::Errors::InvalidArgument error;
  const BaseMessage carried("some.id", "text", {"a"});
  ASSERT_TRUE(Convert(::Tovri::Data::ErrorValue::Create("com.corvane.tovri.std.errors.invalid_argument",
                                                        std::list<BaseMessage>{carried}),
                      error));
  ASSERT_EQ(error.messages.size(), 1u);
  EXPECT_EQ(*error.messages.front(), ::Com::Corvane::Tovri::Std::LocalizableMessage(carried));

  auto dynamic = ::Tovri::Data::DynamicStructValue::GetInstance("anything");
  dynamic->SetField("host", Str("d"));
  dynamic->SetField("port", Int(4));
  Endpoint endpoint;
  ASSERT_TRUE(Convert(dynamic, endpoint));
  EXPECT_EQ(endpoint.host, "d");
}

TEST_F(ValueToNative, OperationInputs) {
  ::Tovri::OperationInput input;
  EXPECT_TRUE(Convert(Struct("whatever", {{"a", Int(1)}}), input));
  EXPECT_FALSE(Convert(Str("x"), input));
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{::Tovri::MessageIds::kBadCast1});

  RoutesSvc::ListMethod::Input list;
  const ValuePtr route =
      Struct("com.corvane.test.route", {{"from", EndpointValue("h", 3)}, {"to", EndpointValue("i", 4)}});
  ASSERT_TRUE(Convert(Struct("operation-input", {{"filter", route}}), list));
  ASSERT_NE(list.filter, nullptr);
  ExpectSameEndpoint(list.filter->to, "i", 4);
  RoutesSvc::ListMethod::Input unfiltered;
  ASSERT_TRUE(Convert(Struct("operation-input", {}), unfiltered));
  EXPECT_EQ(unfiltered.filter, nullptr);
}

// "text" is the first member, so it is converted last: it is filled after a
// failure that lets the conversion continue and left empty after one that
// stops it.
TEST_F(ValueToNative, FailuresReportAndContinueOrStop) {
  struct Case {
    const char* field;
    ValuePtr given;
    const ::Tovri::MessageId* id;  // null: one message of any id
    bool stops;
  };
  const ::Tovri::MessageId* const kBadCast = &::Tovri::MessageIds::kBadCast1;
  const ::Tovri::MessageId* const kInvalidType = &::Tovri::MessageIds::kInvalidType;
  const Case cases[] = {
      {"endpoint", Str("oops"), kBadCast, false},
      {"endpoint", Int(3), kInvalidType, false},
      {"number", Bool(true), nullptr, true},
      {"number", Str("twelve"), nullptr, true},
      {"color", Int(1), nullptr, true},
      {"tags", Int(1), kInvalidType, true},
      {"names", EndpointValue("h", 1), kInvalidType, true},
      {"numbers", List(2, {Int(1), Bool(true)}), nullptr, true},
      {"colors", List(2, {Str("RED"), Int(1)}), nullptr, true},
      {"pcrs", Str("pcr"), kBadCast, true},
      {"pcrs", List(3, {MapEntry(Int(1), Blob({})), Int(2)}), kInvalidType, true},
      // A map entry is a structure value, even where a structure may come
      // as an error or a dynamic structure.
      {"pcrs", List(3, {FilledEntry(::Tovri::Data::ErrorValue::GetInstance("map-entry"))}), kInvalidType,
       true},
      {"pcrs",
       List(3, {MapEntry(Int(0), Blob({})),
                FilledEntry(::Tovri::Data::DynamicStructValue::GetInstance("map-entry"))}),
       kInvalidType, true},
      {"pcrs", List(3, {Struct("map-entry", {{"value", Blob({})}})}), nullptr, true},
      {"pcrs", List(3, {Struct("map-entry", {{"key", Int(1)}})}), nullptr, true},
      {"pcrs", List(3, {MapEntry(Str("one"), Blob({}))}), nullptr, true},
      {"pcrs", List(3, {MapEntry(Bool(true), Blob({}))}), nullptr, true},
      {"pcrs", Int(5), kInvalidType, true},
      {"pcrs", Unset(), kInvalidType, true},
      {"pcrs", Struct("pcrs", {{"algorithm", Blob({})}}), kInvalidType, true},
      {"pcrs", Struct("pcrs", {{"7", Blob({})}, {"x7", Blob({})}}), kInvalidType, true},
      {"pcrs", Struct("pcrs", {{"99999999999999999999", Blob({})}}), kInvalidType, true},
  };
  for (const Case& c : cases) {
    const AllKinds all = ConvertAllKinds(c.field, c.given);
    EXPECT_FALSE(ok_) << c.field;
    ASSERT_EQ(messages_.size(), 1u) << c.field;
    if (c.id) {
      EXPECT_EQ(messages_.front().id, *c.id) << c.field;
    }
    EXPECT_EQ(all.text, c.stops ? "" : "hello") << c.field;
  }
  // A bad-cast message quotes the text; the skipped structure is default.
  const AllKinds all = ConvertAllKinds("endpoint", Str("oops"));
  EXPECT_EQ(messages_.front().args, std::list<std::string>{"oops"});
  ExpectSameEndpoint(all.endpoint, "", 0);
}

TEST_F(ValueToNative, FailuresInSeveralStructuresAreAllCollected) {
  AllKinds all;
  ASSERT_FALSE(Convert(With(With(AllKindsValue(), "endpoint", Str("a")), "provider", Str("b")), all));
  EXPECT_EQ(Ids(messages_),
            (std::vector<std::string>{::Tovri::MessageIds::kBadCast1, ::Tovri::MessageIds::kBadCast1}));
  EXPECT_EQ(all.text, "hello");
}

TEST_F(ValueToNative, MissingRequiredFieldSkipsLaterFieldsAndContinues) {
  AllKinds all = ConvertAllKinds("endpoint", Struct("e", {{"port", Int(8)}}));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_.front().id.find("missing"), std::string::npos) << messages_.front().id;
  ExpectSameEndpoint(all.endpoint, "", 0);  // "port" came after the missing "host"
  EXPECT_EQ(all.text, "hello");

  // Two missing fields: one message, for the first in member order.
  messages_.clear();
  Endpoint endpoint;
  EXPECT_FALSE(Convert(Struct("e", {}), endpoint));
  ASSERT_EQ(messages_.size(), 1u);
  const auto& args = messages_.front().args;
  EXPECT_NE(std::find(args.begin(), args.end(), "host"), args.end()) << messages_.front().defaultMessage;
}

TEST_F(ValueToNative, AdaptCountsOnlyItsOwnMessages) {
  messages_.emplace_back("earlier", "earlier", std::list<std::string>{});
  Endpoint endpoint;
  EXPECT_TRUE(Convert(EndpointValue("h", 1), endpoint));
}

TEST_F(ValueToNative, SecretContentNeverReachesAMessage) {
  const std::string secret = "TOPSECRET-4711";
  auto expectNoSecret = [&](const std::string& context) {
    EXPECT_FALSE(ok_) << context;
    EXPECT_FALSE(messages_.empty()) << context;
    for (const BaseMessage& message : messages_) {
      EXPECT_EQ(message.defaultMessage.find(secret), std::string::npos) << context;
      for (const std::string& arg : message.args) EXPECT_EQ(arg.find(secret), std::string::npos) << context;
    }
  };
  for (const char* field :
       {"text", "number", "flag", "blob", "color", "endpoint", "tags", "names", "numbers", "colors",
        "comment", "limit", "tint", "backup", "mirrors", "pcrs", "spare_pcrs"}) {
    ConvertAllKinds(field, Secret(secret));
    expectNoSecret(field);
  }
  ConvertAllKinds("pcrs", List(3, {MapEntry(Secret(secret), Blob({}))}));
  expectNoSecret("map key");
}

}  // namespace
}  // namespace Test
}  // namespace Dral
