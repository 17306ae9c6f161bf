#include <tovri/core/definition.hpp>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/error.hpp>
#include <tovri/core/message_ids.hpp>

namespace {

using namespace Tovri;
using namespace Tovri::Data;

ValuePtr Str(const std::string& text) { return StringValue::GetInstance(text); }
ValuePtr Int(long long i) { return IntegerValue::GetInstance(i); }

std::vector<std::string> Ids(const std::list<BaseMessage>& messages) {
  std::vector<std::string> ids;
  for (const auto& m : messages) ids.push_back(m.id);
  return ids;
}

// "item" { name: string, size: optional integer, tags: list of string }
std::shared_ptr<const StructDefinition> ItemDef() {
  return StructDefinition::GetInstance(
      "com.example.item", {{"name", DataDefinition::Create<std::string>()},
                           {"size", OptionalDefinition::GetInstance(DataDefinition::Create<long long>())},
                           {"tags", ListDefinition::GetInstance(DataDefinition::Create<std::string>())}});
}

std::shared_ptr<StructValue> Item(const std::string& name) {
  auto item = StructValue::GetInstance("com.example.item");
  item->SetField("name", Str(name));
  item->SetField("size", OptionalValue::GetInstance(Int(3)));
  auto tags = ListValue::GetInstance();
  tags->Append(Str("a"));
  item->SetField("tags", tags);
  return item;
}

TEST(FwCheckValue, PrimitivesMatchOnlyTheirOwnKind) {
  std::list<BaseMessage> messages;
  EXPECT_TRUE(
      CheckValue(*DataDefinition::Create<SecretString>(), DataValue::Create(SecretString("s")), messages));
  EXPECT_TRUE(CheckValue(*DataDefinition::Create<Void>(), VoidValue::GetInstance(), messages));
  EXPECT_TRUE(messages.empty());

  EXPECT_FALSE(CheckValue(*DataDefinition::Create<long long>(), Str("1"), messages));
  EXPECT_FALSE(CheckValue(*DataDefinition::Create<std::string>(), nullptr, messages));
  EXPECT_EQ(Ids(messages),
            (std::vector<std::string>{MessageIds::kCheckKind, MessageIds::kCheckMissingValue}));
}

TEST(FwPrimitiveDefinition, OnlyKindsWithoutAShapeOfTheirOwn) {
  // A primitive definition with a shaped code would make the check read it
  // as the class that code names.
  for (int code :
       std::initializer_list<int>{kOptional, kList, kStruct, kStructRef, kUnionCase, -1, 13, 14, 16, 1000}) {
    EXPECT_EQ(PrimitiveDefinition::GetInstance(code), nullptr) << code;
  }
  for (int code : std::initializer_list<int>{kVoid, kInteger, kDouble, kBoolean, kBlob, kString, kError,
                                             kSecret, kDynamicStruct}) {
    auto definition = PrimitiveDefinition::GetInstance(code);
    ASSERT_NE(definition, nullptr) << code;
    EXPECT_EQ(definition->GetType(), code);
  }
  std::list<BaseMessage> messages;
  EXPECT_TRUE(CheckValue(*PrimitiveDefinition::GetInstance(kDynamicStruct), Item("x"), messages));
  EXPECT_FALSE(CheckValue(*PrimitiveDefinition::GetInstance(kDynamicStruct), Str("x"), messages));
}

TEST(FwCheckValue, StructuresNeedTheirNameAndRequiredFieldsButAllowExtras) {
  std::list<BaseMessage> messages;
  auto item = Item("n");
  item->SetField("undeclared", Int(1));
  EXPECT_TRUE(CheckValue(*ItemDef(), item, messages));

  // An optional field may be absent or unset; a required one may not.
  auto sparse = StructValue::GetInstance("com.example.item");
  sparse->SetField("tags", ListValue::GetInstance());
  sparse->SetField("size", OptionalValue::GetInstance());
  EXPECT_FALSE(CheckValue(*ItemDef(), sparse, messages));
  EXPECT_EQ(messages.back().args, (std::list<std::string>{"value", "com.example.item", "name"}));
  EXPECT_FALSE(CheckValue(*ItemDef(), StructValue::GetInstance("com.example.other"), messages));
  EXPECT_FALSE(CheckValue(*ItemDef(), ListValue::GetInstance(), messages));
  EXPECT_EQ(Ids(messages), (std::vector<std::string>{MessageIds::kCheckFieldMissing,
                                                     MessageIds::kCheckStructName, MessageIds::kCheckKind}));

  // A dynamic structure is not held to the name.
  auto dynamic = DynamicStructValue::GetInstance("whatever");
  dynamic->SetField("name", Str("n"));
  dynamic->SetField("tags", ListValue::GetInstance());
  messages.clear();
  EXPECT_TRUE(CheckValue(*ItemDef(), dynamic, messages));
}

TEST(FwCheckValue, ReportsEveryMismatchWithItsPosition) {
  // "box" { items: list of item, best: optional item }
  auto boxDef = StructDefinition::GetInstance("com.example.box",
                                              {{"items", ListDefinition::GetInstance(ItemDef())},
                                               {"best", OptionalDefinition::GetInstance(ItemDef())}});
  auto box = StructValue::GetInstance("com.example.box");
  auto items = ListValue::GetInstance();
  items->Append(Item("ok"));
  auto badName = Item("x");
  badName->SetField("name", Int(5));
  items->Append(badName);
  auto badTag = Item("y");
  auto tags = ListValue::GetInstance();
  tags->Append(Str("fine"));
  tags->Append(Int(1));
  badTag->SetField("tags", tags);
  items->Append(badTag);
  box->SetField("items", items);
  auto best = Item("z");
  best->SetField("size", Int(3));  // not wrapped in an optional
  box->SetField("best", OptionalValue::GetInstance(best));

  std::list<BaseMessage> messages;
  EXPECT_FALSE(CheckValue(*boxDef, box, messages));
  std::vector<std::string> where;
  for (const auto& m : messages) where.push_back(m.args.front());
  EXPECT_EQ(where,
            (std::vector<std::string>{"value.best.size", "value.items[1].name", "value.items[2].tags[1]"}));
  EXPECT_EQ(messages.back().defaultMessage,
            "At value.items[2].tags[1]: expected a value of type string, got one of type integer.");
}

// "info" { type: string, native: union case (type == "NATIVE") of string }
std::shared_ptr<const StructDefinition> UnionDef() {
  auto predicate = [](const std::string& tag) -> boost::logic::tribool { return tag == "NATIVE"; };
  return StructDefinition::GetInstance(
      "com.example.info", {{"type", DataDefinition::Create<std::string>()},
                           {"native", UnionCaseDefinition::GetInstance(DataDefinition::Create<std::string>(),
                                                                       "type", predicate)}});
}

ValuePtr UnionValue(const std::string* tag, ValuePtr native) {
  auto info = StructValue::GetInstance("com.example.info");
  if (tag) info->SetField("type", Str(*tag));
  if (native) info->SetField("native", std::move(native));
  return info;
}

TEST(FwCheckValue, UnionCaseMayBeSetOnlyWhenTheTagSelectsIt) {
  const std::string native = "NATIVE";
  const std::string other = "OTHER";
  const auto def = UnionDef();
  std::list<BaseMessage> messages;
  EXPECT_TRUE(CheckValue(*def, UnionValue(&native, OptionalValue::GetInstance(Str("x"))), messages));
  EXPECT_TRUE(CheckValue(*def, UnionValue(&other, OptionalValue::GetInstance()), messages));
  EXPECT_TRUE(CheckValue(*def, UnionValue(&other, nullptr), messages));
  EXPECT_TRUE(messages.empty());

  EXPECT_FALSE(CheckValue(*def, UnionValue(&other, OptionalValue::GetInstance(Str("x"))), messages));
  ASSERT_EQ(Ids(messages), std::vector<std::string>{MessageIds::kCheckUnionNotSelected});
  EXPECT_EQ(messages.front().defaultMessage,
            "At value.native: case field native is set, but tag field type holds \"OTHER\", which does not "
            "select it.");

  // Without a tag: the tag is a missing required field, and the set case
  // cannot be selected.
  messages.clear();
  EXPECT_FALSE(CheckValue(*def, UnionValue(nullptr, OptionalValue::GetInstance(Str("x"))), messages));
  EXPECT_EQ(Ids(messages),
            (std::vector<std::string>{MessageIds::kCheckUnionNoTag, MessageIds::kCheckFieldMissing}));

  // Only a definite true selects.
  EXPECT_FALSE(
      UnionCaseDefinition::GetInstance(DataDefinition::Create<bool>(), "type", [](const std::string&) {
        return boost::logic::tribool(boost::logic::indeterminate);
      })->Selects("NATIVE"));

  // The case content is checked, and a case that is not an optional is a
  // kind mismatch.
  messages.clear();
  EXPECT_FALSE(CheckValue(*def, UnionValue(&native, OptionalValue::GetInstance(Int(1))), messages));
  EXPECT_FALSE(CheckValue(*def, UnionValue(&native, Str("bare")), messages));
  EXPECT_EQ(Ids(messages), (std::vector<std::string>{MessageIds::kCheckKind, MessageIds::kCheckKind}));
}

TEST(FwCheckValue, StructReferencesFollowTheirTargetOrCheckTheNameOnly) {
  // "node" { label: string, next: optional node }
  auto ref = StructRefDefinition::GetInstance("com.example.node");
  auto nodeDef = StructDefinition::GetInstance(
      "com.example.node",
      {{"label", DataDefinition::Create<std::string>()}, {"next", OptionalDefinition::GetInstance(ref)}});

  auto inner = StructValue::GetInstance("com.example.node");  // lacks "label"
  auto outer = StructValue::GetInstance("com.example.node");
  outer->SetField("label", Str("outer"));
  outer->SetField("next", OptionalValue::GetInstance(inner));

  std::list<BaseMessage> messages;
  EXPECT_TRUE(CheckValue(*nodeDef, outer, messages)) << "unbound: any node is accepted";
  ref->Bind(nodeDef);
  EXPECT_FALSE(CheckValue(*nodeDef, outer, messages));
  ASSERT_EQ(Ids(messages), std::vector<std::string>{MessageIds::kCheckFieldMissing});
  EXPECT_EQ(messages.front().args.front(), "value.next");

  messages.clear();
  auto stranger = StructValue::GetInstance("com.example.stranger");
  EXPECT_FALSE(CheckValue(*StructRefDefinition::GetInstance("com.example.node"), stranger, messages));
  EXPECT_EQ(Ids(messages), std::vector<std::string>{MessageIds::kCheckStructName});
}

TEST(FwCheckValue, DeepSelfReferringValueIsWalkedIteratively) {
  auto ref = StructRefDefinition::GetInstance("com.example.node");
  auto nodeDef =
      StructDefinition::GetInstance("com.example.node", {{"next", OptionalDefinition::GetInstance(ref)}});
  ref->Bind(nodeDef);
  ValuePtr chain = StructValue::GetInstance("com.example.node");
  for (int i = 0; i < 300000; ++i) {
    auto node = StructValue::GetInstance("com.example.node");
    node->SetField("next", OptionalValue::GetInstance(std::move(chain)));
    chain = std::move(node);
  }
  std::list<BaseMessage> messages;
  EXPECT_TRUE(CheckValue(*nodeDef, chain, messages));

  // A mismatch at the bottom reports a shortened path.
  const ValuePtr* at = &chain;
  while (auto next = static_cast<const CompoundValue&>(**at).FindField("next")) {
    at = &static_cast<const OptionalValue&>(*next).GetValue();
  }
  const_cast<CompoundValue&>(static_cast<const CompoundValue&>(**at)).SetField("next", Int(0));
  EXPECT_FALSE(CheckValue(*nodeDef, chain, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().args.front().rfind("value...", 0), 0u);
  EXPECT_LT(messages.front().args.front().size(), 200u);
}

}  // namespace
