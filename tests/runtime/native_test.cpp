#include <dral/runtime/native.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Tovri::Data::BaseNative;
using Tovri::Data::StructValue;
using Tovri::Data::ValuePtr;

// The shape the generator emits for an enumeration.
class ProviderType : public ::Tovri::Data::Enumeration<ProviderType> {
 public:
  enum Value : std::int32_t { NATIVE = 0, TRUST_AUTHORITY = 1, _UNKNOWN = 2 };
  struct Strings {
    static constexpr const char* values[] = {"NATIVE", "TRUST_AUTHORITY", "_UNKNOWN", nullptr};
  };
  using Enumeration::Enumeration;
  ProviderType(Value v) noexcept : Enumeration(v) {}  // NOLINT(google-explicit-constructor)
  Value value() const noexcept { return static_cast<Value>(raw()); }
};

// The shape of a union case table.
struct NativeInfoUnionCases {
  enum Value : std::int32_t { NATIVE = 0, _UNKNOWN = 1 };
  struct Strings {
    static constexpr const char* values[] = {"NATIVE", "_UNKNOWN", nullptr};
  };
};

TEST(NativeEnumeration, FromWireStrings) {
  const ProviderType trust(std::string("TRUST_AUTHORITY"));
  EXPECT_EQ(trust.value(), ProviderType::TRUST_AUTHORITY);
  EXPECT_EQ(trust.text(), "");
  EXPECT_EQ(trust.ToString(), "TRUST_AUTHORITY");

  const ProviderType unknown(std::string("_UNKNOWN"));
  EXPECT_EQ(unknown.value(), ProviderType::_UNKNOWN);
  EXPECT_EQ(unknown.text(), "");
  EXPECT_EQ(unknown.ToString(), "_UNKNOWN");
}

TEST(NativeEnumeration, UnrecognisedTextRoundTrips) {
  for (const std::string& wire : {std::string("HARDWARE"), std::string("native"), std::string("NATIVE ", 7),
                                  std::string("NATIVE\0", 7)}) {
    const ProviderType e(wire);
    EXPECT_EQ(e.value(), ProviderType::_UNKNOWN);
    EXPECT_EQ(e.text(), wire);
    EXPECT_EQ(e.ToString(), wire);
  }
  // The empty string matches nothing, and converts back as "_UNKNOWN".
  const ProviderType empty(std::string{});
  EXPECT_EQ(empty.value(), ProviderType::_UNKNOWN);
  EXPECT_EQ(empty.ToString(), "_UNKNOWN");
}

TEST(NativeEnumeration, DefaultAndConstants) {
  const ProviderType byDefault;
  EXPECT_EQ(byDefault.value(), ProviderType::_UNKNOWN);
  EXPECT_EQ(byDefault.ToString(), "_UNKNOWN");

  const ProviderType native = ProviderType::NATIVE;
  EXPECT_EQ(native.value(), ProviderType::NATIVE);
  EXPECT_EQ(native.ToString(), "NATIVE");
  EXPECT_EQ(native, ProviderType(std::string("NATIVE")));

  // Numbers outside the table cannot index past it.
  EXPECT_EQ(ProviderType(7).ToString(), "_UNKNOWN");
  EXPECT_EQ(ProviderType(-1).value(), ProviderType::_UNKNOWN);
}

TEST(NativeEnumeration, SetOrdersByValueThenText) {
  const std::set<ProviderType> set = {ProviderType(std::string("zeta")),
                                      ProviderType(std::string("alpha")),
                                      ProviderType::TRUST_AUTHORITY,
                                      ProviderType(),
                                      ProviderType::NATIVE,
                                      ProviderType(std::string("_UNKNOWN"))};
  std::vector<std::string> order;
  for (const ProviderType& e : set) order.push_back(e.ToString());
  EXPECT_EQ(order, (std::vector<std::string>{"NATIVE", "TRUST_AUTHORITY", "_UNKNOWN", "alpha", "zeta"}));
}

TEST(NativeUnionCase, MatchesDeclaredCasesOnly) {
  const Tovri::Data::UnionCaseAnyEnumValue<NativeInfoUnionCases> predicate;
  const auto copy = predicate;
  EXPECT_TRUE(static_cast<bool>(copy("NATIVE")));
  for (const char* tag : {"TRUST_AUTHORITY", "_UNKNOWN", "", "native"}) {
    const boost::logic::tribool r = predicate(tag);
    EXPECT_FALSE(boost::logic::indeterminate(r)) << tag;
    EXPECT_FALSE(static_cast<bool>(r)) << tag;
  }
  EXPECT_FALSE(static_cast<bool>(predicate(std::string("NATIVE\0", 7))));
}

std::shared_ptr<StructValue> Source(const std::vector<std::string>& names) {
  auto value = StructValue::GetInstance("source");
  for (const std::string& name : names) value->SetField(name, Tovri::Data::StringValue::GetInstance(name));
  return value;
}

std::vector<std::string> Names(const std::shared_ptr<StructValue>& holder) {
  std::vector<std::string> names;
  for (const auto& field : holder->GetFields()) names.push_back(field.first);
  return names;
}

TEST(NativeUnknownFields, OnlyDeclaredFieldsLeaveHolderNull) {
  const boost::string_view declared[] = {"a", "ab", "b"};
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source({"a", "ab", "b"}), holder);
  EXPECT_EQ(holder, nullptr);
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source({"ab"}), holder);
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source({}), holder);
  EXPECT_EQ(holder, nullptr);
}

TEST(NativeUnknownFields, NullSourceLeavesHolderAlone) {
  const boost::string_view declared[] = {"a"};
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, nullptr, holder);
  EXPECT_EQ(holder, nullptr);
  const auto existing = StructValue::GetInstance("unknownFields");
  holder = existing;
  BaseNative::AdapterHelper::AddUnknownFields(declared, nullptr, holder);
  EXPECT_EQ(holder, existing);
  EXPECT_TRUE(holder->GetFields().empty());
}

TEST(NativeUnknownFields, ExtrasInterleavedWithPrefixNames) {
  const boost::string_view declared[] = {"b", "bb", "d"};
  const auto source = Source({"", "a", "b", "ba", "bb", "bbb", "c", "d", "e"});
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, source, holder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->GetName(), "unknownFields");
  EXPECT_EQ(Names(holder), (std::vector<std::string>{"", "a", "ba", "bbb", "c", "e"}));
  // Shared, not copied.
  for (const auto& field : holder->GetFields()) EXPECT_EQ(field.second, source->FindField(field.first));
}

TEST(NativeUnknownFields, ExtrasAfterLastDeclaredName) {
  const boost::string_view declared[] = {"a", "b"};
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source({"a", "b", "c", "d"}), holder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(Names(holder), (std::vector<std::string>{"c", "d"}));
}

TEST(NativeUnknownFields, ComparesBytesUnsigned) {
  // 0xC3 sorts after 'z' byte-wise; a signed comparison would misplace it.
  const boost::string_view declared[] = {"a", "\xC3\xA9"};
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source({"a", "z", "\xC3\xA9", "\xC3\xA9x"}), holder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(Names(holder), (std::vector<std::string>{"z", "\xC3\xA9x"}));
}

TEST(NativeUnknownFields, NoDeclaredFields) {
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(Source({}), holder);
  EXPECT_EQ(holder, nullptr);
  BaseNative::AdapterHelper::AddUnknownFields(Source({"x", "y"}), holder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(Names(holder), (std::vector<std::string>{"x", "y"}));
}

TEST(NativeUnknownFields, WriteBackSharesValues) {
  BaseNative native;
  native.unknownFields = StructValue::GetInstance("unknownFields");
  const ValuePtr extra = Tovri::Data::StringValue::GetInstance("v");
  native.unknownFields->SetField("extra", extra);

  auto out = StructValue::GetInstance("out");
  out->SetField("declared", Tovri::Data::StringValue::GetInstance("d"));
  BaseNative::AdapterHelper::AddUnknownFields(native, out);
  EXPECT_EQ(Names(out), (std::vector<std::string>{"declared", "extra"}));
  EXPECT_EQ(out->FindField("extra"), extra);

  // A copy shares the holder.
  const BaseNative copy = native;
  EXPECT_EQ(copy.unknownFields, native.unknownFields);
}

TEST(NativeUnknownFields, WriteBackWithoutHolderOrTarget) {
  const BaseNative empty;
  auto out = StructValue::GetInstance("out");
  BaseNative::AdapterHelper::AddUnknownFields(empty, out);
  EXPECT_TRUE(out->GetFields().empty());
  std::shared_ptr<StructValue> none;
  BaseNative withHolder;
  withHolder.unknownFields = Source({"x"});
  BaseNative::AdapterHelper::AddUnknownFields(withHolder, none);
  EXPECT_EQ(none, nullptr);
}

struct Leaf : BaseNative {
  int n = 0;
};

TEST(NativeOptionalPtr, ConstructionAndConversion) {
  const Tovri::OptionalPtr<const Leaf> unset;
  EXPECT_FALSE(unset);
  Tovri::OptionalPtr<Leaf> made = Tovri::MakeOptionalPtr<Leaf>();
  ASSERT_TRUE(made);
  made->n = 4;
  const Tovri::OptionalPtr<const Leaf> asConst = made;
  EXPECT_EQ(asConst->n, 4);
  EXPECT_EQ(made.use_count(), 2);
  const std::shared_ptr<Leaf> shared = std::make_shared<Leaf>();
  const Tovri::OptionalPtr<const Leaf> fromShared = shared;
  EXPECT_EQ(fromShared.get(), shared.get());
  Tovri::OptionalPtr<const Leaf> reset = nullptr;
  EXPECT_FALSE(reset);
}

}  // namespace
