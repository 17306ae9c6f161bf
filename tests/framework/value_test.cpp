#include <tovri/core/value.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include <tovri/core/error.hpp>
#include <tovri/core/message_ids.hpp>

namespace {

using namespace Tovri;
using namespace Tovri::Data;

ValuePtr Str(const std::string& text) { return StringValue::GetInstance(text); }
ValuePtr Int(long long i) { return IntegerValue::GetInstance(i); }

template <class T>
bool Parse(const std::string& text, T& out, std::list<BaseMessage>& messages) {
  return DataValue::ToPrimitive<T>(*Str(text), out, messages);
}

template <class T>
T RoundTrip(const T& in) {
  std::list<BaseMessage> messages;
  T out{};
  EXPECT_TRUE(DataValue::Value(*DataValue::Create<T>(in), out, messages));
  EXPECT_TRUE(messages.empty());
  return out;
}

TEST(FwPrimitives, ValueOfAnotherKindLeavesOutputAndReports) {
  std::list<BaseMessage> messages;
  long long i = 7;
  EXPECT_FALSE(DataValue::Value(*Str("12"), i, messages));
  EXPECT_EQ(i, 7);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, MessageIds::kKindMismatch);
  EXPECT_EQ(messages.front().defaultMessage, "Expected a value of type integer, got one of type string.");

  // A secret is not a string, and only string values are parsed.
  std::string s = "kept";
  EXPECT_FALSE(DataValue::Value(*DataValue::Create<SecretString>(SecretString("pw")), s, messages));
  EXPECT_EQ(s, "kept");
  EXPECT_FALSE(DataValue::ToPrimitive(*DataValue::Create<long long>(5), i, messages));
  EXPECT_EQ(messages.back().id, MessageIds::kKindMismatch);
  EXPECT_EQ(messages.size(), 3u);
}

TEST(FwPrimitives, IntegersParseStrictlyWithinRange) {
  std::list<BaseMessage> messages;
  for (const auto& [text, value] : std::initializer_list<std::pair<const char*, long long>>{
           {"9223372036854775807", LLONG_MAX}, {"-9223372036854775808", LLONG_MIN}, {"-0", 0}, {"007", 7}}) {
    long long out = 1;
    EXPECT_TRUE(Parse(text, out, messages)) << text;
    EXPECT_EQ(out, value);
  }
  EXPECT_TRUE(messages.empty());

  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1a", "0x10", "1.0", "--1", "١"}) {
    long long out = 42;
    messages.clear();
    EXPECT_FALSE(Parse(bad, out, messages)) << bad;
    EXPECT_EQ(out, 42) << bad;
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_EQ(messages.front().id, MessageIds::kParseFailed) << bad;
  }
  for (const char* huge : {"9223372036854775808", "-9223372036854775809", "99999999999999999999999"}) {
    long long out = 0;
    messages.clear();
    EXPECT_FALSE(Parse(huge, out, messages)) << huge;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().id, MessageIds::kOutOfRange);
    EXPECT_EQ(messages.front().args.front(), huge);
  }
  // Long garbage is excerpted, not copied whole into the message.
  long long out = 0;
  messages.clear();
  EXPECT_FALSE(Parse(std::string(100000, 'x'), out, messages));
  EXPECT_LE(messages.front().args.front().size(), 64u);
  EXPECT_LT(messages.front().defaultMessage.size(), 300u);
}

TEST(FwPrimitives, BooleansDoublesVoidAndTexts) {
  std::list<BaseMessage> messages;
  bool b = false;
  EXPECT_TRUE(Parse("true", b, messages) && b);
  EXPECT_TRUE(Parse("false", b, messages) && !b);
  for (const char* bad : {"True", "1", "", " true", "yes"}) EXPECT_FALSE(Parse(bad, b, messages)) << bad;

  double d = 0;
  EXPECT_TRUE(Parse("-1.5e3", d, messages) && d == -1500);
  EXPECT_TRUE(Parse("+.25", d, messages) && d == 0.25);
  EXPECT_TRUE(Parse("inf", d, messages) && std::isinf(d));
  for (const char* bad : {"", "1.5x", " 1", "1 ", "0x1p3", "+-1", "++1", "e5"}) {
    d = 9;
    EXPECT_FALSE(Parse(bad, d, messages)) << bad;
    EXPECT_EQ(d, 9);
  }
  EXPECT_FALSE(Parse("1e999", d, messages));
  EXPECT_EQ(messages.back().id, MessageIds::kOutOfRange);

  Void v;
  EXPECT_TRUE(Parse("", v, messages));
  EXPECT_FALSE(Parse(" ", v, messages));
  std::string s;
  EXPECT_TRUE(Parse("  any text  ", s, messages) && s == "  any text  ");
}

TEST(FwPrimitives, BlobsAreStrictBase64) {
  std::list<BaseMessage> messages;
  for (const auto& [text, bytes] :
       std::initializer_list<std::pair<const char*, Blob>>{{"", {}},
                                                           {"TWFu", {'M', 'a', 'n'}},
                                                           {"TWE=", {'M', 'a'}},
                                                           {"TQ==", {'M'}},
                                                           {"AP8=", {0x00, 0xFF}}}) {
    Blob blob{1};
    EXPECT_TRUE(Parse(text, blob, messages)) << text;
    EXPECT_EQ(blob, bytes) << text;
  }
  EXPECT_TRUE(messages.empty());
  for (const char* bad : {"TWF", "TW=u", "T===", "TWE", "TR==", "TW E", "TWFu\n", "TQ==TQ==", "-_8="}) {
    Blob blob{1};
    EXPECT_FALSE(Parse(bad, blob, messages)) << bad;
    EXPECT_EQ(blob, Blob{1}) << bad;
  }
}

TEST(FwCompound, GetFieldReportsTheMissingFieldAndStructure) {
  auto s = StructValue::GetInstance("com.example.thing");
  std::list<BaseMessage> messages;
  ValuePtr out;
  EXPECT_FALSE(s->GetField("size", out, messages));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages.front().id, MessageIds::kFieldMissing);
  EXPECT_EQ(messages.front().defaultMessage, "Structure com.example.thing has no field size.");
}

TEST(FwCompound, SlotsStayPutWhileContainersGrow) {
  // Every slot keeps its address across the block boundaries that follow
  // (4, 12, 28, ... elements), and index, iteration and slots agree.
  auto list = ListValue::GetInstance(ListValue::kSetKind);
  std::vector<ValuePtr*> slots;
  for (int i = 0; i < 1000; ++i) slots.push_back(list->AppendSlot());
  for (int i = 0; i < 1000; ++i) *slots[i] = Int(i);
  const ListValue::Elements& elements = list->GetElements();
  ASSERT_EQ(elements.size(), 1000u);
  EXPECT_EQ(elements.end() - elements.begin(), 1000);
  std::size_t index = 0;
  for (const ValuePtr& element : elements) {
    ASSERT_EQ(&element, slots[index]);
    ASSERT_EQ(&elements[index], slots[index]);
    EXPECT_EQ(static_cast<const IntegerValue&>(*element).GetValue(), static_cast<long long>(index++));
  }

  auto s = StructValue::GetInstance("s");
  ValuePtr* slot = s->ReserveField("m");
  for (int i = 0; i < 100; ++i) s->SetField("f" + std::to_string(i), Str("x"));
  *slot = Str("y");
  EXPECT_EQ(s->FindField("m"), *slot);
  EXPECT_EQ(s->ReserveField("m"), slot);
  EXPECT_EQ(s->GetFields().begin()->first, "f0");  // byte order of names
}

TEST(FwCompound, FieldsReadInByteOrderHoweverTheyWereAdded) {
  // Around the size where look-up switches from a scan to a binary search,
  // with names given as copies (of texts that die at once) and as static
  // texts, in shuffled order; one slot reserved and never filled.
  static const std::string& kStatic = *new std::string("m-static");
  for (int count : {1, 8, 9, 40}) {
    auto s = StructValue::GetInstance(StaticName(kStatic), 3);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("f" + std::to_string((i * 7) % count));
    for (const std::string& name : names) s->SetField(std::string(name), Str(name));
    s->SetField(StaticName(kStatic), Int(1));
    s->ReserveField("a-empty");
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), "a-empty");
    names.insert(std::upper_bound(names.begin(), names.end(), kStatic), kStatic);
    const auto& fields = s->GetFields();
    ASSERT_EQ(fields.size(), names.size()) << count;
    std::size_t i = 0;
    for (const auto& [name, value] : fields) EXPECT_EQ(name, names[i++]) << count;
    for (const std::string& name : names) {
      ASSERT_NE(fields.find(name), fields.end()) << name;
      EXPECT_EQ(fields.find(name)->first, name);
    }
    EXPECT_EQ(fields.find("f"), fields.end());
    EXPECT_EQ(fields.count("zz"), 0u);
    EXPECT_EQ(fields.at("a-empty"), nullptr);
    EXPECT_THROW(fields.at("zz"), std::out_of_range);
    EXPECT_EQ(&s->GetName(), &kStatic);  // referred to, not copied
    EXPECT_EQ(std::prev(fields.rend())->first, "a-empty");
  }
}

TEST(FwArena, ValuesOutliveTheirScopeAndDieOnAnyThread) {
  ValuePtr kept;
  std::vector<ValuePtr> halves[2];
  {
    ValueArenaScope scope;
    {
      ValueArenaScope inner;  // served by the outer arena
      auto list = ListValue::GetInstance();
      for (int i = 0; i < 2000; ++i) {  // several blocks' worth
        auto s = StructValue::GetInstance("com.example.item-with-a-long-name");
        s->SetField("index", Int(1000 + i));
        s->SetField("secret", DataValue::Create(SecretString("hunter2-" + std::to_string(i))));
        halves[i % 2].push_back(s);
        list->Append(std::move(s));
      }
      list->Append(BlobValue::GetInstance(Blob(64 * 1024, 0xab)));  // too large for a block: heap
      kept = list;
    }
  }
  // The scope is gone; the values are intact, and their last owners drop
  // them on two other threads at once.
  const auto& elements = static_cast<const ListValue&>(*kept).GetElements();
  ASSERT_EQ(elements.size(), 2001u);
  EXPECT_EQ(static_cast<const CompoundValue&>(*elements[1999]).GetName(),
            "com.example.item-with-a-long-name");
  EXPECT_EQ(static_cast<const BlobValue&>(*elements[2000]).GetValue().size(), 64u * 1024);
  kept.reset();
  std::thread a([&] { halves[0].clear(); });
  std::thread b([&] { halves[1].clear(); });
  a.join();
  b.join();
  // Outside any scope values come from the heap and behave the same.
  auto s = StructValue::GetInstance("plain");
  s->SetField("x", Int(1));
  EXPECT_TRUE(Equal(*s->FindField("x"), *Int(1)));
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
  auto nest = [](int depth, bool mixed) {
    ValuePtr value = Str("leaf");
    for (int i = 0; i < depth; ++i) {
      if (i % 3 == 0 || !mixed) {
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
  EXPECT_TRUE(Equal(*nest(kDepth / 4, true), *nest(kDepth / 4, true)));
  nest(kDepth, false).reset();

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
  ListValue::GetInstance()->Append(OptionalValue::GetInstance(leaf));
  ASSERT_EQ(leaf->GetElements().size(), 1u);
  EXPECT_TRUE(Equal(*leaf->GetElements().front(), *Str("kept")));
  // Nor does a shared small integer.
  ListValue::GetInstance()->Append(IntegerValue::GetInstance(7));
  EXPECT_EQ(IntegerValue::GetInstance(7)->GetValue(), 7);
}

TEST(FwSecrets, NeverPrintAndAreWipedOnMoveAndClear) {
  SecretString secret("topsecret");
  std::ostringstream out;
  out << secret;
  EXPECT_EQ(out.str(), "<secret>");
  SecretString copy = secret;
  SecretString moved = std::move(copy);
  EXPECT_EQ(moved, secret);
  EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from secret is wiped and empty
  EXPECT_TRUE(SecretString(static_cast<const char*>(nullptr)).empty());

  SecretString big(std::string(100, 'k'));
  const char* buffer = big.Reveal().data();
  big.Clear();
  // The buffer is kept (capacity unchanged), so it can be inspected.
  ASSERT_EQ(big.Reveal().data(), buffer);
  for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

}  // namespace
