#include <dral/runtime/value_to_native.hpp>

#include <algorithm>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>

#include "runtime/all_kinds_fixture.hpp"

namespace Dral {
namespace TestTypes {
namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;
using namespace ::Dral::TestValues;

// A copy of a structure value with some fields replaced (or removed when
// given null).
ValuePtr With(const ValuePtr& value, std::initializer_list<std::pair<const char*, ValuePtr>> changes) {
  const auto& source = dynamic_cast<const StructValue&>(*value);
  auto copy = StructValue::GetInstance(source.GetName());
  for (const auto& field : source.GetFields()) copy->SetField(field.first, field.second);
  for (const auto& change : changes) {
    if (change.second) {
      copy->SetField(change.first, change.second);
    } else {
      auto rebuilt = StructValue::GetInstance(copy->GetName());
      for (const auto& field : copy->GetFields()) {
        if (field.first != change.first) rebuilt->SetField(field.first, field.second);
      }
      copy = rebuilt;
    }
  }
  return copy;
}

ValuePtr BankValue(ValuePtr pcrs) {
  return Struct("com.corvane.test.pcr_bank", {{"algorithm", Str("sha256")}, {"pcrs", std::move(pcrs)}});
}

class ValueToNative : public ::testing::Test {
 protected:
  template <class T>
  bool Convert(const ValuePtr& value, T& out) {
    return ValueToNativeAdapter::Adapt(value, out, messages_);
  }
  // Converts AllKindsValue() with `changes` applied.
  AllKinds ConvertAllKinds(std::initializer_list<std::pair<const char*, ValuePtr>> changes) {
    AllKinds all;
    ok_ = Convert(With(AllKindsValue(), changes), all);
    return all;
  }

  std::list<BaseMessage> messages_;
  bool ok_ = false;
};

TEST_F(ValueToNative, AllKindsValueGivesTheObject) {
  const AllKinds all = ConvertAllKinds({});
  ASSERT_TRUE(ok_) << (messages_.empty() ? "" : messages_.front().defaultMessage);
  ExpectAllKinds(all);
}

// --- Looser input shapes -------------------------------------------------------

TEST_F(ValueToNative, OptionalTakesABareValueAsItsContent) {
  const AllKinds all = ConvertAllKinds({{"comment", Str("direct")},
                                        {"limit", Int(5)},
                                        {"tint", Str("RED")},
                                        {"backup", EndpointValue("bare", 9)},
                                        {"aliases", Str("solo")}});
  ASSERT_TRUE(ok_);
  EXPECT_TRUE(all.comment == std::string("direct"));
  EXPECT_TRUE(all.limit == 5LL);
  EXPECT_TRUE(all.tint == Color(Color::RED));
  ExpectSameEndpoint(all.backup, "bare", 9);
  EXPECT_TRUE(all.aliases == (std::list<std::string>{"solo"}));
}

TEST_F(ValueToNative, OptionalGivenAnEmptyStringOrUnsetValueOrNothingStaysUnset) {
  const AllKinds all = ConvertAllKinds({{"comment", Str("")},
                                        {"backup", Str("")},
                                        {"limit", Unset()},
                                        {"tint", Unset()},
                                        {"digest", nullptr}});
  ASSERT_TRUE(ok_);
  EXPECT_FALSE(all.comment);
  EXPECT_EQ(all.backup, nullptr);
  EXPECT_FALSE(all.limit);
  EXPECT_FALSE(all.tint);
  EXPECT_FALSE(all.digest);
}

TEST_F(ValueToNative, ListOrSetGivenOneStringHoldsIt) {
  AllKinds all = ConvertAllKinds(
      {{"tags", Str("one")}, {"names", Str("n")}, {"numbers", Str("5")}, {"colors", Str("PURPLE")}});
  ASSERT_TRUE(ok_);
  EXPECT_EQ(all.tags, std::list<std::string>{"one"});
  EXPECT_EQ(all.names, std::set<std::string>{"n"});
  EXPECT_EQ(all.numbers, std::set<long long>{5});
  EXPECT_EQ(all.colors, std::set<Color>{Color(std::string("PURPLE"))});

  all = ConvertAllKinds({{"tags", Str("")}, {"names", Str("")}, {"numbers", Str("")}, {"colors", Str("")}});
  ASSERT_TRUE(ok_);
  EXPECT_TRUE(all.tags.empty());
  EXPECT_TRUE(all.names.empty());
  EXPECT_TRUE(all.numbers.empty());
  EXPECT_TRUE(all.colors.empty());
}

TEST_F(ValueToNative, PrimitivesAreParsedFromStrings) {
  const AllKinds all = ConvertAllKinds({{"number", Str("12")},
                                        {"flag", Str("false")},
                                        {"secret", Str("pw")},
                                        {"numbers", List(2, {Str("4")})}});
  ASSERT_TRUE(ok_);
  EXPECT_EQ(all.number, 12);
  EXPECT_FALSE(all.flag);
  EXPECT_EQ(all.secret, ::Tovri::SecretString("pw"));
  EXPECT_EQ(all.numbers, std::set<long long>{4});
}

TEST_F(ValueToNative, EnumerationsKeepUnrecognisedText) {
  ProviderInfo info;
  ASSERT_TRUE(Convert(Struct("p", {{"type", Str("TRUST_AUTHORITY")}}), info));
  EXPECT_EQ(info.type.raw(), ProviderType::TRUST_AUTHORITY);
  EXPECT_TRUE(info.type.text().empty());

  ASSERT_TRUE(Convert(Struct("p", {{"type", Str("HSM")}}), info));
  EXPECT_EQ(info.type.raw(), ProviderType::_UNKNOWN);
  EXPECT_EQ(info.type.text(), "HSM");
}

TEST_F(ValueToNative, EmptyStringForAStructureGivesDefaultsAllTheWayDown) {
  AllKinds all;
  all.number = 99;
  all.text = "kept";
  all.color = Color::GREEN;
  ASSERT_TRUE(Convert(Str(""), all));
  EXPECT_EQ(all.number, 99);  // primitives keep their state
  EXPECT_EQ(all.text, "kept");
  EXPECT_EQ(all.color.raw(), Color::_UNKNOWN);  // enumerations are reset
  EXPECT_TRUE(all.color.text().empty());
  ExpectSameEndpoint(all.endpoint, "", 0);
  ASSERT_NE(all.bank, nullptr);
  EXPECT_TRUE(all.bank->pcrs.empty());
  ASSERT_NE(all.provider, nullptr);
  EXPECT_EQ(all.provider->type.raw(), ProviderType::_UNKNOWN);
  EXPECT_EQ(all.provider->nativeInfo, nullptr);
  ASSERT_NE(all.note, nullptr);
  EXPECT_EQ(all.backup, nullptr);
  EXPECT_TRUE(all.mirrors.empty());
}

TEST_F(ValueToNative, UndeclaredFieldsAreKeptNotReported) {
  const ValuePtr zone = Str("eu");
  Endpoint endpoint;
  ASSERT_TRUE(Convert(Struct("e", {{"host", Str("h")}, {"port", Int(1)}, {"zone", zone}}), endpoint));
  ASSERT_NE(endpoint.unknownFields, nullptr);
  EXPECT_EQ(endpoint.unknownFields->GetName(), "unknownFields");
  EXPECT_EQ(endpoint.unknownFields->GetFields().size(), 1u);
  EXPECT_EQ(endpoint.unknownFields->FindField("zone"), zone);

  Endpoint plain;
  ASSERT_TRUE(Convert(EndpointValue("h", 1), plain));
  EXPECT_EQ(plain.unknownFields, nullptr);
}

TEST_F(ValueToNative, StructuresArriveAsErrorsAndDynamicStructures) {
  ::Com::Corvane::Tovri::Std::Errors::InvalidArgument error;
  const auto errorValue =
      ::Tovri::Data::ErrorValue::Create("com.corvane.tovri.std.errors.invalid_argument",
                                        std::list<BaseMessage>{BaseMessage("some.id", "text", {"a"})});
  ASSERT_TRUE(Convert(errorValue, error));
  ASSERT_EQ(error.messages.size(), 1u);
  EXPECT_EQ(*error.messages.front(),
            ::Com::Corvane::Tovri::Std::LocalizableMessage(BaseMessage("some.id", "text", {"a"})));

  auto dynamic = ::Tovri::Data::DynamicStructValue::GetInstance("anything");
  dynamic->SetField("host", Str("d"));
  dynamic->SetField("port", Int(4));
  Endpoint endpoint;
  ASSERT_TRUE(Convert(dynamic, endpoint));
  EXPECT_EQ(endpoint.host, "d");
}

TEST_F(ValueToNative, OperationInputAcceptsAnyStructure) {
  ::Tovri::OperationInput input;
  EXPECT_TRUE(Convert(Struct("whatever", {{"a", Int(1)}}), input));
  EXPECT_FALSE(Convert(Str("x"), input));
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.bad.cast1"});
}

TEST_F(ValueToNative, MethodInputs) {
  WidgetsSvc::CreateMethod::Input create;
  ASSERT_TRUE(Convert(Struct("operation-input", {{"spec", EndpointValue("h", 3)}}), create));
  ExpectSameEndpoint(create.spec, "h", 3);

  WidgetsSvc::ListMethod::Input list;
  ASSERT_TRUE(Convert(Struct("operation-input", {}), list));
  EXPECT_EQ(list.filter, nullptr);
}

TEST_F(ValueToNative, SetElementsCollapse) {
  const AllKinds all = ConvertAllKinds({{"numbers", List(2, {Int(2), Int(1), Int(2)})},
                                        {"colors", List(2, {Str("RED"), Str("RED"), Str("X"), Str("Y")})}});
  ASSERT_TRUE(ok_);
  EXPECT_EQ(all.numbers, (std::set<long long>{1, 2}));
  EXPECT_EQ(all.colors,
            (std::set<Color>{Color(Color::RED), Color(std::string("X")), Color(std::string("Y"))}));
}

// --- Maps ------------------------------------------------------------------------

TEST_F(ValueToNative, MapFromListOrStructureForm) {
  const std::map<long long, std::vector<unsigned char>> expected{{0, {0xaa}}, {7, {0xbb}}};
  PcrBank listForm;
  ASSERT_TRUE(Convert(BankValue(List(3, {MapEntry(Int(0), Blob({0xaa})), MapEntry(Str("7"), Blob({0xbb}))})),
                      listForm));
  EXPECT_EQ(listForm.pcrs, expected);

  PcrBank structForm;
  ASSERT_TRUE(Convert(BankValue(Struct("pcrs", {{"0", Blob({0xaa})}, {" +7", Blob({0xbb})}})), structForm));
  EXPECT_EQ(structForm.pcrs, expected);

  PcrBank empty;
  empty.pcrs[1] = {};
  ASSERT_TRUE(Convert(BankValue(Str("")), empty));
  EXPECT_TRUE(empty.pcrs.empty());
}

TEST_F(ValueToNative, MapRepeatedKeyKeepsTheFirstValue) {
  PcrBank bank;
  ASSERT_TRUE(Convert(BankValue(List(3, {MapEntry(Int(3), Blob({1})), MapEntry(Int(3), Blob({2}))})), bank));
  EXPECT_EQ(bank.pcrs, (std::map<long long, std::vector<unsigned char>>{{3, {1}}}));
}

// --- Failure table -------------------------------------------------------------
// "text" is the first member, so it is converted last: it is filled after a
// failure that lets the conversion continue and left empty after one that
// stops it.

class ValueToNativeFailures : public ValueToNative {
 protected:
  void ExpectContinued(const AllKinds& all) {
    EXPECT_FALSE(ok_);
    EXPECT_EQ(all.text, "hello");
  }
  void ExpectStopped(const AllKinds& all) {
    EXPECT_FALSE(ok_);
    EXPECT_EQ(all.text, "");
  }
};

TEST_F(ValueToNativeFailures, StructureGivenNonEmptyStringSkipsItAndContinues) {
  const AllKinds all = ConvertAllKinds({{"endpoint", Str("oops")}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.bad.cast1"});
  EXPECT_EQ(messages_.front().args, std::list<std::string>{"oops"});
  ExpectSameEndpoint(all.endpoint, "", 0);
  ExpectContinued(all);
}

TEST_F(ValueToNativeFailures, StructureGivenNonCompoundSkipsItAndContinues) {
  const AllKinds all = ConvertAllKinds({{"endpoint", Int(3)}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.invalid.type"});
  ExpectContinued(all);
}

TEST_F(ValueToNativeFailures, MissingRequiredFieldSkipsLaterFieldsAndContinues) {
  AllKinds all = ConvertAllKinds({{"endpoint", Struct("e", {{"port", Int(8)}})}});
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_.front().id.find("missing"), std::string::npos) << messages_.front().id;
  ExpectSameEndpoint(all.endpoint, "", 0);  // "port" came after the missing "host"
  ExpectContinued(all);

  // Two missing fields: one message, for the first in member order.
  messages_.clear();
  Endpoint endpoint;
  EXPECT_FALSE(Convert(Struct("e", {}), endpoint));
  ASSERT_EQ(messages_.size(), 1u);
  const auto& args = messages_.front().args;
  EXPECT_NE(std::find(args.begin(), args.end(), "host"), args.end()) << messages_.front().defaultMessage;
}

TEST_F(ValueToNativeFailures, PrimitiveOfWrongKindOrUnparsableStops) {
  AllKinds all = ConvertAllKinds({{"number", Bool(true)}});
  EXPECT_EQ(messages_.size(), 1u);
  ExpectStopped(all);

  messages_.clear();
  all = ConvertAllKinds({{"number", Str("twelve")}});
  EXPECT_EQ(messages_.size(), 1u);
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, EnumerationNotAStringStops) {
  const AllKinds all = ConvertAllKinds({{"color", Int(1)}});
  EXPECT_EQ(messages_.size(), 1u);
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, ListOrSetOfAnotherKindStops) {
  AllKinds all = ConvertAllKinds({{"tags", Int(1)}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.invalid.type"});
  ExpectStopped(all);

  messages_.clear();
  all = ConvertAllKinds({{"names", EndpointValue("h", 1)}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.invalid.type"});
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, FailedSetElementStops) {
  AllKinds all = ConvertAllKinds({{"numbers", List(2, {Int(1), Bool(true)})}});
  EXPECT_EQ(messages_.size(), 1u);
  ExpectStopped(all);

  messages_.clear();
  all = ConvertAllKinds({{"colors", List(2, {Str("RED"), Int(1)})}});
  EXPECT_EQ(messages_.size(), 1u);
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, MapGivenNonEmptyStringStops) {
  const AllKinds all = ConvertAllKinds({{"bank", BankValue(Str("pcr"))}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.bad.cast1"});
  EXPECT_EQ(messages_.front().args, std::list<std::string>{"pcr"});
  EXPECT_EQ(all.bank->algorithm, "");
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, MapElementNotAStructureStops) {
  const AllKinds all = ConvertAllKinds({{"bank", BankValue(List(3, {MapEntry(Int(1), Blob({})), Int(2)}))}});
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.invalid.type"});
  ExpectStopped(all);
}

TEST_F(ValueToNativeFailures, MapElementWithoutKeyOrValueOrWithBadKeyStops) {
  for (const ValuePtr& element : std::vector<ValuePtr>{
           Struct("map-entry", {{"value", Blob({})}}), Struct("map-entry", {{"key", Int(1)}}),
           MapEntry(Str("one"), Blob({})), MapEntry(Bool(true), Blob({}))}) {
    messages_.clear();
    const AllKinds all = ConvertAllKinds({{"bank", BankValue(List(3, {element}))}});
    EXPECT_EQ(messages_.size(), 1u);
    ExpectStopped(all);
  }
}

TEST_F(ValueToNativeFailures, MapOfAnotherKindOrBadFieldNameStopsWithInvalidType) {
  for (const ValuePtr& pcrs :
       std::vector<ValuePtr>{Int(5), Unset(), Struct("pcrs", {{"algorithm", Blob({})}}),
                             Struct("pcrs", {{"7", Blob({})}, {"x7", Blob({})}}),
                             Struct("pcrs", {{"99999999999999999999", Blob({})}})}) {
    messages_.clear();
    const AllKinds all = ConvertAllKinds({{"bank", BankValue(pcrs)}});
    EXPECT_EQ(Ids(messages_), std::vector<std::string>{"tovri.data.invalid.type"});
    ExpectStopped(all);
  }
}

TEST_F(ValueToNativeFailures, FailuresInSeveralStructuresAreAllCollected) {
  const AllKinds all = ConvertAllKinds({{"endpoint", Str("a")}, {"provider", Str("b")}});
  EXPECT_EQ(Ids(messages_), (std::vector<std::string>{"tovri.data.bad.cast1", "tovri.data.bad.cast1"}));
  ExpectContinued(all);
}

TEST_F(ValueToNativeFailures, AdaptCountsOnlyItsOwnMessages) {
  messages_.emplace_back("earlier", "earlier", std::list<std::string>{});
  Endpoint endpoint;
  EXPECT_TRUE(Convert(EndpointValue("h", 1), endpoint));
}

// --- Secrets ---------------------------------------------------------------------

TEST_F(ValueToNative, SecretContentNeverReachesAMessage) {
  const std::string secret = "TOPSECRET-4711";
  for (const char* field : {"text", "number", "flag", "blob", "color", "endpoint", "tags", "names", "numbers",
                            "colors", "comment", "limit", "tint", "backup", "mirrors", "bank"}) {
    messages_.clear();
    ConvertAllKinds({{field, Secret(secret)}});
    EXPECT_FALSE(ok_) << field;
    for (const BaseMessage& message : messages_) {
      EXPECT_EQ(message.defaultMessage.find(secret), std::string::npos) << field;
      for (const std::string& arg : message.args) EXPECT_EQ(arg.find(secret), std::string::npos) << field;
    }
  }
  for (const ValuePtr& pcrs :
       std::vector<ValuePtr>{Secret(secret), List(3, {MapEntry(Secret(secret), Blob({}))})}) {
    messages_.clear();
    ConvertAllKinds({{"bank", BankValue(pcrs)}});
    ASSERT_FALSE(messages_.empty());
    for (const BaseMessage& message : messages_) {
      EXPECT_EQ(message.defaultMessage.find(secret), std::string::npos);
      for (const std::string& arg : message.args) EXPECT_EQ(arg.find(secret), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace TestTypes
}  // namespace Dral
