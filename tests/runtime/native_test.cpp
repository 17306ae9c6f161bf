#include <dral/runtime/native.hpp>

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

// `text` is kept only when the wire text is unrecognised.
void ExpectEnumeration(const ProviderType& e, ProviderType::Value value, const std::string& text,
                       const std::string& wire) {
  EXPECT_EQ(e.value(), value) << wire;
  EXPECT_EQ(e.text(), text) << wire;
  EXPECT_EQ(e.ToString(), wire);
}

TEST(NativeEnumeration, WireTextAndValues) {
  using P = ProviderType;
  ExpectEnumeration(P(std::string("TRUST_AUTHORITY")), P::TRUST_AUTHORITY, "", "TRUST_AUTHORITY");
  ExpectEnumeration(P(std::string("_UNKNOWN")), P::_UNKNOWN, "", "_UNKNOWN");
  ExpectEnumeration(P(std::string("HARDWARE")), P::_UNKNOWN, "HARDWARE", "HARDWARE");
  ExpectEnumeration(P(std::string("native")), P::_UNKNOWN, "native", "native");
  const std::string withNul("NATIVE\0", 7);
  ExpectEnumeration(P(withNul), P::_UNKNOWN, withNul, withNul);
  // The empty string matches nothing, and converts back as "_UNKNOWN".
  ExpectEnumeration(P(std::string()), P::_UNKNOWN, "", "_UNKNOWN");
  ExpectEnumeration(P(), P::_UNKNOWN, "", "_UNKNOWN");
  ExpectEnumeration(P::NATIVE, P::NATIVE, "", "NATIVE");
  // Numbers outside the table cannot index past it.
  ExpectEnumeration(P(7), P::_UNKNOWN, "", "_UNKNOWN");
  ExpectEnumeration(P(-1), P::_UNKNOWN, "", "_UNKNOWN");
  EXPECT_EQ(P(P::NATIVE), P(std::string("NATIVE")));
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
  if (holder) {
    for (const auto& field : holder->GetFields()) names.push_back(field.first);
  }
  return names;
}

// The names `declared` leaves undeclared in `source`; none when no holder
// was made.
template <std::size_t N>
std::vector<std::string> Undeclared(const boost::string_view (&declared)[N],
                                    const std::vector<std::string>& source) {
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, Source(source), holder);
  EXPECT_TRUE(holder == nullptr || holder->GetName() == "unknownFields");
  EXPECT_TRUE(holder == nullptr || !holder->GetFields().empty());  // no empty holder
  return Names(holder);
}

TEST(NativeUnknownFields, CollectsUndeclaredNamesInByteOrder) {
  using V = std::vector<std::string>;
  const boost::string_view abb[] = {"a", "ab", "b"};
  EXPECT_EQ(Undeclared(abb, {"a", "ab", "b"}), V{});
  EXPECT_EQ(Undeclared(abb, {"ab"}), V{});
  EXPECT_EQ(Undeclared(abb, {}), V{});
  const boost::string_view prefixes[] = {"b", "bb", "d"};
  EXPECT_EQ(Undeclared(prefixes, {"", "a", "b", "ba", "bb", "bbb", "c", "d", "e"}),
            (V{"", "a", "ba", "bbb", "c", "e"}));
  const boost::string_view ab[] = {"a", "b"};
  EXPECT_EQ(Undeclared(ab, {"a", "b", "c", "d"}), (V{"c", "d"}));
  // 0xC3 sorts after 'z' byte-wise; a signed comparison would misplace it.
  const boost::string_view accented[] = {"a", "\xC3\xA9"};
  EXPECT_EQ(Undeclared(accented, {"a", "z", "\xC3\xA9", "\xC3\xA9x"}), (V{"z", "\xC3\xA9x"}));

  std::shared_ptr<StructValue> holder;  // a structure that declares no field
  BaseNative::AdapterHelper::AddUnknownFields(Source({}), holder);
  EXPECT_EQ(holder, nullptr);
  BaseNative::AdapterHelper::AddUnknownFields(Source({"x", "y"}), holder);
  EXPECT_EQ(Names(holder), (V{"x", "y"}));
}

TEST(NativeUnknownFields, HolderSharesValuesAndSurvivesNullSource) {
  const boost::string_view declared[] = {"b"};
  const auto source = Source({"a", "b"});
  std::shared_ptr<StructValue> holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, source, holder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->FindField("a"), source->FindField("a"));
  const auto kept = holder;
  BaseNative::AdapterHelper::AddUnknownFields(declared, nullptr, holder);
  EXPECT_EQ(holder, kept);
  EXPECT_EQ(Names(holder), std::vector<std::string>{"a"});
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
  EXPECT_EQ(BaseNative(native).unknownFields, native.unknownFields);  // copies share the holder

  // Nothing to write, or nowhere to write it.
  auto empty = StructValue::GetInstance("out");
  BaseNative::AdapterHelper::AddUnknownFields(BaseNative(), empty);
  EXPECT_TRUE(empty->GetFields().empty());
  std::shared_ptr<StructValue> none;
  BaseNative::AdapterHelper::AddUnknownFields(native, none);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
