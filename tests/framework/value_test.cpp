#include <tovri/core/value.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/error.hpp>
#include <tovri/std/standard_types.hpp>

namespace {

using namespace Tovri;
using namespace Tovri::Data;

ValuePtr Str(const std::string& text) { return StringValue::GetInstance(text); }
ValuePtr Int(long long i) { return IntegerValue::GetInstance(i); }

template <class T>
bool Parse(const std::string& text, T& out, std::list<BaseMessage>& messages) {
  return DataValue::ToPrimitive<T>(*Str(text), out, messages);
}

TEST(FwPrimitives, CreateAndReadBackEveryKind) {
  std::list<BaseMessage> messages;
  std::string s;
  long long i = 0;
  bool b = false;
  double d = 0;
  Blob blob;
  SecretString secret;
  Void v;
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<std::string>("x"), s, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<long long>(LLONG_MIN), i, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<bool>(true), b, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<double>(2.5), d, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<Blob>(Blob{0, 255}), blob, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<SecretString>(SecretString("pw")), secret, messages));
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<Void>(Void{}), v, messages));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(s, "x");
  EXPECT_EQ(i, LLONG_MIN);
  EXPECT_TRUE(b);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(blob, (Blob{0, 255}));
  EXPECT_EQ(secret.Reveal(), "pw");
  EXPECT_EQ(DataValue::Create<SecretString>(SecretString("pw"))->GetType(), kSecret);
}

TEST(FwPrimitives, ValueOfAnotherKindLeavesOutputAndReports) {
  std::list<BaseMessage> messages;
  long long i = 7;
  EXPECT_FALSE(DataValue::Value(*Str("12"), i, messages));
  EXPECT_EQ(i, 7);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.value.kind.mismatch");
  EXPECT_EQ(messages.front().args, (std::list<std::string>{"integer", "string"}));
  EXPECT_EQ(messages.front().defaultMessage, "Expected a value of type integer, got one of type string.");

  std::string s = "kept";
  EXPECT_FALSE(DataValue::Value(*DataValue::Create<SecretString>(SecretString("pw")), s, messages));
  EXPECT_EQ(s, "kept");
  Void v;
  EXPECT_FALSE(DataValue::Value(*OptionalValue::GetInstance(), v, messages));
  EXPECT_EQ(messages.size(), 3u);
}

TEST(FwPrimitives, IntegersParseStrictlyWithinRange) {
  std::list<BaseMessage> messages;
  long long out = 0;
  EXPECT_TRUE(Parse("9223372036854775807", out, messages));
  EXPECT_EQ(out, LLONG_MAX);
  EXPECT_TRUE(Parse("-9223372036854775808", out, messages));
  EXPECT_EQ(out, LLONG_MIN);
  EXPECT_TRUE(Parse("-0", out, messages));
  EXPECT_EQ(out, 0);
  EXPECT_TRUE(Parse("007", out, messages));
  EXPECT_EQ(out, 7);
  EXPECT_TRUE(messages.empty());

  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1a", "0x10", "1.0", "--1", "١"}) {
    out = 42;
    messages.clear();
    EXPECT_FALSE(Parse(bad, out, messages)) << bad;
    EXPECT_EQ(out, 42) << bad;
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_EQ(messages.front().id, "tovri.data.string.parse.failed") << bad;
  }
  for (const char* huge : {"9223372036854775808", "-9223372036854775809", "99999999999999999999999"}) {
    messages.clear();
    EXPECT_FALSE(Parse(huge, out, messages)) << huge;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().id, "tovri.data.string.out.of.range");
    EXPECT_EQ(messages.front().args.front(), huge);
  }
}

TEST(FwPrimitives, BooleansDoublesVoidAndTexts) {
  std::list<BaseMessage> messages;
  bool b = false;
  EXPECT_TRUE(Parse("true", b, messages));
  EXPECT_TRUE(b);
  EXPECT_TRUE(Parse("false", b, messages));
  EXPECT_FALSE(b);
  for (const char* bad : {"True", "1", "", " true", "yes"}) EXPECT_FALSE(Parse(bad, b, messages)) << bad;

  double d = 0;
  EXPECT_TRUE(Parse("-1.5e3", d, messages));
  EXPECT_EQ(d, -1500);
  EXPECT_TRUE(Parse("+.25", d, messages));
  EXPECT_EQ(d, 0.25);
  EXPECT_TRUE(Parse("inf", d, messages));
  EXPECT_TRUE(std::isinf(d));
  const std::size_t before = messages.size();
  for (const char* bad : {"", "1.5x", " 1", "1 ", "0x1p3", "+-1", "++1", "e5"}) {
    d = 9;
    EXPECT_FALSE(Parse(bad, d, messages)) << bad;
    EXPECT_EQ(d, 9);
  }
  EXPECT_FALSE(Parse("1e999", d, messages));
  EXPECT_EQ(messages.back().id, "tovri.data.string.out.of.range");
  EXPECT_EQ(messages.size(), before + 9);

  Void v;
  EXPECT_TRUE(Parse("", v, messages));
  EXPECT_FALSE(Parse(" ", v, messages));
  std::string s;
  EXPECT_TRUE(Parse("  any text  ", s, messages));
  EXPECT_EQ(s, "  any text  ");
  SecretString secret;
  EXPECT_TRUE(Parse("hunter2", secret, messages));
  EXPECT_EQ(secret.Reveal(), "hunter2");

  // Only string values are parsed.
  long long i = 0;
  messages.clear();
  EXPECT_FALSE(DataValue::ToPrimitive(*DataValue::Create<long long>(5), i, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.value.kind.mismatch");
}

TEST(FwPrimitives, BlobsAreStrictBase64) {
  std::list<BaseMessage> messages;
  Blob blob;
  EXPECT_TRUE(Parse("", blob, messages));
  EXPECT_TRUE(blob.empty());
  EXPECT_TRUE(Parse("TWFu", blob, messages));
  EXPECT_EQ(blob, (Blob{'M', 'a', 'n'}));
  EXPECT_TRUE(Parse("TWE=", blob, messages));
  EXPECT_EQ(blob, (Blob{'M', 'a'}));
  EXPECT_TRUE(Parse("TQ==", blob, messages));
  EXPECT_EQ(blob, (Blob{'M'}));
  EXPECT_TRUE(Parse("AP8=", blob, messages));
  EXPECT_EQ(blob, (Blob{0x00, 0xFF}));
  EXPECT_TRUE(messages.empty());
  for (const char* bad : {"TWF", "TW=u", "T===", "TWE", "TR==", "TW E", "TWFu\n", "TQ==TQ==", "-_8="}) {
    blob = Blob{1};
    EXPECT_FALSE(Parse(bad, blob, messages)) << bad;
    EXPECT_EQ(blob, Blob{1}) << bad;
  }
}

TEST(FwPrimitives, LongGarbageIsExcerptedInTheMessage) {
  std::list<BaseMessage> messages;
  long long out = 0;
  EXPECT_FALSE(Parse(std::string(100000, 'x'), out, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_LE(messages.front().args.front().size(), 64u);
  EXPECT_LT(messages.front().defaultMessage.size(), 300u);
}

TEST(FwCompound, GetFieldReportsTheMissingFieldAndStructure) {
  auto s = StructValue::GetInstance("com.example.thing");
  s->SetField("name", Str("a"));
  std::list<BaseMessage> messages;
  ValuePtr out;
  EXPECT_TRUE(s->GetField("name", out, messages));
  EXPECT_EQ(out, s->FindField("name"));
  out = nullptr;
  EXPECT_FALSE(s->GetField("size", out, messages));
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, "tovri.data.compound.field.missing");
  EXPECT_EQ(messages.front().defaultMessage, "Structure com.example.thing has no field size.");
  EXPECT_EQ(s->FindField("size"), nullptr);
}

TEST(FwCompound, SlotsStayPutWhileContainersGrow) {
  auto list = ListValue::GetInstance(ListValue::kSetKind);
  EXPECT_TRUE(list->GetElements().empty());
  // Every slot keeps its address across the block boundaries that follow
  // (4, 12, 28, ... elements), and index, iteration and slots agree.
  std::vector<ValuePtr*> slots;
  for (int i = 0; i < 1000; ++i) slots.push_back(list->AppendSlot());
  for (int i = 0; i < 1000; ++i) *slots[i] = Int(i);
  const ListValue::Elements& elements = list->GetElements();
  ASSERT_EQ(elements.size(), 1000u);
  long long expected = 0;
  for (const ValuePtr& element : elements) {
    ASSERT_EQ(&element, slots[static_cast<std::size_t>(expected)]);
    EXPECT_EQ(static_cast<const IntegerValue&>(*element).GetValue(), expected++);
  }
  EXPECT_EQ(&elements[999], slots[999]);
  EXPECT_EQ(elements.end() - elements.begin(), 1000);
  EXPECT_EQ(std::find(elements.begin(), elements.end(), *slots[600]) - elements.begin(), 600);
  EXPECT_EQ(elements.front(), *slots[0]);
  EXPECT_EQ(elements.back(), *slots[999]);
  EXPECT_EQ(list->GetKind(), ListValue::kSetKind);

  auto s = StructValue::GetInstance("s");
  ValuePtr* slot = s->ReserveField("m");
  for (int i = 0; i < 100; ++i) s->SetField("f" + std::to_string(i), Str("x"));
  *slot = Str("y");
  EXPECT_EQ(s->FindField("m"), *slot);
  EXPECT_EQ(s->ReserveField("m"), slot);
  EXPECT_EQ(s->GetFields().begin()->first, "f0");  // byte order of names

  auto optional = OptionalValue::GetInstance();
  EXPECT_FALSE(optional->IsSet());
  optional->value() = Str("z");
  EXPECT_TRUE(optional->IsSet());
}

TEST(FwPrimitives, CommonPrimitivesAreSharedOthersAreNew) {
  EXPECT_EQ(IntegerValue::GetInstance(0), IntegerValue::GetInstance(0));
  EXPECT_EQ(IntegerValue::GetInstance(255), IntegerValue::GetInstance(255));
  EXPECT_NE(IntegerValue::GetInstance(256), IntegerValue::GetInstance(256));
  EXPECT_NE(IntegerValue::GetInstance(-1), IntegerValue::GetInstance(-1));
  EXPECT_EQ(IntegerValue::GetInstance(-1)->GetValue(), -1);
  EXPECT_EQ(IntegerValue::GetInstance(200)->GetValue(), 200);
  EXPECT_EQ(BooleanValue::GetInstance(true), BooleanValue::GetInstance(true));
  EXPECT_TRUE(BooleanValue::GetInstance(true)->GetValue());
  EXPECT_FALSE(BooleanValue::GetInstance(false)->GetValue());
  EXPECT_EQ(VoidValue::GetInstance(), VoidValue::GetInstance());
  // A tree holding a shared instance tears down without touching it.
  {
    auto list = ListValue::GetInstance();
    list->Append(IntegerValue::GetInstance(7));
  }
  EXPECT_EQ(IntegerValue::GetInstance(7)->GetValue(), 7);
}

TEST(FwEquality, ComparesWholeTrees) {
  auto build = [](const std::string& leaf, int kind) {
    auto s = StructValue::GetInstance("s");
    auto list = ListValue::GetInstance(kind);
    list->Append(OptionalValue::GetInstance(Str(leaf)));
    list->Append(OptionalValue::GetInstance());
    s->SetField("l", list);
    s->SetField("d", DataValue::Create<double>(NAN));
    return s;
  };
  EXPECT_TRUE(Equal(*build("a", 1), *build("a", 1)));
  EXPECT_FALSE(Equal(*build("a", 1), *build("b", 1)));
  EXPECT_FALSE(Equal(*build("a", 1), *build("a", 2)));
  EXPECT_FALSE(Equal(*StructValue::GetInstance("s"), *DynamicStructValue::GetInstance("s")));
  EXPECT_FALSE(Equal(*ErrorValue::GetInstance("e"), *ErrorValue::GetInstance("f")));
  EXPECT_FALSE(Equal(*OptionalValue::GetInstance(), *OptionalValue::GetInstance(Str(""))));
}

// Each of these would overflow the call stack if any step recursed.
TEST(FwDeepTrees, TearDownAndCompareWithoutRecursion) {
  constexpr int kDepth = 1000000;
  auto nest = [] {
    ValuePtr value = Str("leaf");
    for (int i = 0; i < kDepth / 4; ++i) {
      if (i % 3 == 0) {
        value = OptionalValue::GetInstance(std::move(value));
      } else if (i % 3 == 1) {
        auto list = ListValue::GetInstance();
        list->Append(std::move(value));
        value = std::move(list);
      } else {
        auto s = StructValue::GetInstance("n");
        s->SetField("c", std::move(value));
        value = std::move(s);
      }
    }
    return value;
  };
  ValuePtr a = nest();
  ValuePtr b = nest();
  EXPECT_TRUE(Equal(*a, *b));
  a.reset();
  b.reset();

  ValuePtr optionals = Str("leaf");
  for (int i = 0; i < kDepth; ++i) optionals = OptionalValue::GetInstance(std::move(optionals));
  optionals.reset();

  ValuePtr lists = Str("leaf");
  for (int i = 0; i < kDepth; ++i) {
    auto list = ListValue::GetInstance();
    list->Append(std::move(lists));
    lists = std::move(list);
  }
  lists.reset();
}

TEST(FwDeepTrees, SharedSubtreesSurviveTheirParents) {
  auto leaf = ListValue::GetInstance();
  leaf->Append(Str("kept"));
  {
    auto parent = OptionalValue::GetInstance(leaf);
    auto grand = ListValue::GetInstance();
    grand->Append(parent);
  }
  ASSERT_EQ(leaf->GetElements().size(), 1u);
  EXPECT_TRUE(Equal(*leaf->GetElements().front(), *Str("kept")));
}

TEST(FwErrors, CreateBuildsTheStandardShapeAndReadsBack) {
  auto empty = ErrorValue::GetInstance(Errors::kNotFound);
  EXPECT_EQ(empty->GetType(), kError);
  EXPECT_EQ(empty->GetId(), "com.corvane.tovri.std.errors.not_found");
  auto* list = dynamic_cast<const ListValue*>(empty->FindField("messages").get());
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->GetElements().empty());
  EXPECT_TRUE(empty->GetMessages().empty());

  BaseMessage message("some.id", "Some text x.", {"x"});
  auto error = ErrorValue::Create(Errors::kInvalidArgument, std::list<BaseMessage>{message});
  auto* messages = dynamic_cast<const ListValue*>(error->FindField("messages").get());
  ASSERT_NE(messages, nullptr);
  EXPECT_EQ(messages->GetKind(), ListValue::kListKind);
  ASSERT_EQ(messages->GetElements().size(), 1u);
  auto* entry = dynamic_cast<const StructValue*>(messages->GetElements().front().get());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->GetName(), "com.corvane.tovri.std.localizable_message");
  EXPECT_TRUE(Equal(*entry->FindField("id"), *Str("some.id")));
  EXPECT_TRUE(Equal(*entry->FindField("default_message"), *Str("Some text x.")));
  auto args = ListValue::GetInstance();
  args->Append(Str("x"));
  EXPECT_TRUE(Equal(*entry->FindField("args"), *args));
  EXPECT_TRUE(Equal(*entry->FindField("localized"), *OptionalValue::GetInstance()));

  auto read = error->GetMessages();
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].message, message);
  EXPECT_FALSE(read[0].localized);

  auto localized = ErrorValue::Create("e", std::vector<ErrorMessage>{{message, std::string("Ein Text.")}});
  EXPECT_EQ(localized->GetMessages().at(0).localized, std::string("Ein Text."));
}

TEST(FwSecrets, NeverPrintAndCompareByContent) {
  SecretString secret("topsecret");
  std::ostringstream out;
  out << secret;
  EXPECT_EQ(out.str(), "<secret>");
  SecretString copy = secret;
  EXPECT_EQ(copy, secret);
  SecretString moved = std::move(copy);
  EXPECT_EQ(moved.Reveal(), "topsecret");
  EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from secret is wiped and empty
  moved.Assign("other");
  EXPECT_EQ(moved.Reveal(), "other");
  moved.Clear();
  EXPECT_TRUE(moved.empty());
  SecretString fromNull(static_cast<const char*>(nullptr));
  EXPECT_TRUE(fromNull.empty());
}

TEST(FwSecrets, ClearWipesTheWholeBuffer) {
  SecretString secret(std::string(100, 'k'));
  const char* buffer = secret.Reveal().data();
  secret.Clear();
  // The buffer is kept (capacity unchanged), so it can be inspected.
  ASSERT_EQ(secret.Reveal().data(), buffer);
  for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

TEST(FwStandardTypes, NamesAndFreshDefaults) {
  using namespace Com::Corvane::Tovri::Std;
  namespace StdErrors = Com::Corvane::Tovri::Std::Errors;
  EXPECT_EQ(TypeInfo<LocalizableMessage>::name(), "com.corvane.tovri.std.localizable_message");
  EXPECT_EQ(TypeInfo<OperationInput>::name(), "operation-input");
  EXPECT_EQ(TypeInfo<StdErrors::NotAllowedInCurrentState>::name(), Tovri::Errors::kNotAllowedInCurrentState);
  EXPECT_EQ(TypeInfo<StdErrors::UnableToAllocateResource>::name(), Tovri::Errors::kUnableToAllocateResource);
  EXPECT_EQ(TypeInfo<StdErrors::Error>::name(), Tovri::Errors::kError);
  EXPECT_EQ(TypeInfo<StdErrors::Unsupported>::name(), Tovri::Errors::kUnsupported);
  auto a = TypeInfo<LocalizableMessage>::defaultInstance(nullptr);
  auto b = TypeInfo<LocalizableMessage>::defaultInstance(nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(*a, *b);
  b->localized = std::string("x");
  EXPECT_FALSE(*a == *b);
  EXPECT_EQ(LocalizableMessage(BaseMessage("i", "t", {"a"})).args, std::list<std::string>{"a"});
  EXPECT_NE(TypeInfo<StdErrors::NotFound>::defaultInstance(nullptr),
            TypeInfo<StdErrors::NotFound>::defaultInstance(nullptr));
}

}  // namespace
