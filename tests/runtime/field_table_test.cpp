// Field tables against the hand-written field lists of the test types: what
// the adapters and the validator derive from a table must be exactly what the
// lower-level helper calls give, value for value and message for message.
#include <dral/runtime/field_table.hpp>

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/runtime/value_to_native.hpp>

#include "runtime/all_kinds_fixture.hpp"
#include "runtime/test_types.hpp"
#include "runtime/test_types_validation.hpp"
#include "runtime/value_builders.hpp"

namespace {

namespace T = ::Dral::TestTypes;
using namespace ::Dral::TestValues;  // NOLINT(google-build-using-namespace)
using ::Tovri::BaseMessage;
using ::Tovri::NativeConstPtr;
using ::Tovri::NativePtr;
using ::Tovri::Data::Field;
using ::Tovri::Data::FieldTable;
using ::Tovri::Data::NativeToValueAdapter;
using ::Tovri::Data::UnionCase;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;
using ::Tovri::Data::Validator::Checker;
using ::Tovri::Data::Validator::Policy;
using ::Tovri::Data::Validator::REJECT_EXTRA_FIELDS;
using Annotations = T::ProviderInfoAnnotations;

constexpr FieldTable kEndpoint{Field{"host", &T::Endpoint::host}, Field{"port", &T::Endpoint::port}};
constexpr FieldTable kProviderInfo{
    Field{"type", &T::ProviderInfo::type},
    UnionCase<Annotations::UnionTags, 0, Annotations::NativeInfoUnionCases>(
        "native_info", &T::ProviderInfo::nativeInfo, &T::ProviderInfo::type, "nativeInfo"),
    UnionCase<Annotations::UnionTags, 0, Annotations::TrustAuthorityUrlUnionCases>(
        "trust_authority_url", &T::ProviderInfo::trustAuthorityUrl, &T::ProviderInfo::type,
        "trustAuthorityUrl")};
constexpr FieldTable kAllKinds{
    Field{"text", &T::AllKinds::text},         Field{"number", &T::AllKinds::number},
    Field{"flag", &T::AllKinds::flag},         Field{"blob", &T::AllKinds::blob},
    Field{"secret", &T::AllKinds::secret},     Field{"color", &T::AllKinds::color},
    Field{"endpoint", &T::AllKinds::endpoint}, Field{"backup", &T::AllKinds::backup},
    Field{"comment", &T::AllKinds::comment},   Field{"limit", &T::AllKinds::limit},
    Field{"enabled", &T::AllKinds::enabled},   Field{"digest", &T::AllKinds::digest},
    Field{"tint", &T::AllKinds::tint},         Field{"aliases", &T::AllKinds::aliases},
    Field{"mirrors", &T::AllKinds::mirrors},   Field{"tags", &T::AllKinds::tags},
    Field{"names", &T::AllKinds::names},       Field{"numbers", &T::AllKinds::numbers},
    Field{"colors", &T::AllKinds::colors},     Field{"bank", &T::AllKinds::bank},
    Field{"provider", &T::AllKinds::provider}, Field{"note", &T::AllKinds::note}};
constexpr FieldTable kRoute{Field{"from", &T::Route::from}, Field{"to", &T::Route::to},
                            Field{"labels", &T::Route::labels}};
constexpr FieldTable kCreateInput{Field{"spec", &T::WidgetsSvc::CreateMethod::Input::spec}};
constexpr FieldTable kListInput{Field{"filter", &T::WidgetsSvc::ListMethod::Input::filter}};

template <class X>
constexpr const auto& TableOf() {
  if constexpr (std::is_same<X, T::Endpoint>::value) return kEndpoint;
  if constexpr (std::is_same<X, T::ProviderInfo>::value) return kProviderInfo;
  if constexpr (std::is_same<X, T::AllKinds>::value) return kAllKinds;
  if constexpr (std::is_same<X, T::Route>::value) return kRoute;
  if constexpr (std::is_same<X, T::WidgetsSvc::CreateMethod::Input>::value) return kCreateInput;
  if constexpr (std::is_same<X, T::WidgetsSvc::ListMethod::Input>::value) return kListInput;
}

// Structure methods that read the top-level structure through its table;
// nested structures go through their AdapterHelper as usual.
template <class X>
void TableToValue(const NativeConstPtr& source, const NativeToValueAdapter::Destination& destination,
                  NativeToValueAdapter::WorkList& work, std::list<BaseMessage>&) {
  ::Tovri::Data::N2VHelper helper(::Tovri::Data::TypeInfo<X>::name(), destination, work);
  helper.AddTable(source.As<X>(), TableOf<X>());
}

template <class X>
void TableFromValue(const ValueToNativeAdapter::Source& value, const NativePtr& destination,
                    ValueToNativeAdapter::WorkList& work, std::list<BaseMessage>& messages) {
  ::Tovri::Data::V2NHelper reader(value, work, messages);
  if (reader.IsReadable()) reader.AddTable(destination.As<X>(), TableOf<X>());
}

struct Converted {
  ValuePtr value;
  std::list<BaseMessage> messages;
};

template <class X>
Converted ToValue(const X& native, NativeToValueAdapter::Method method) {
  Converted out;
  const ::Tovri::L10n::RequestLocalizer localizer;
  NativeToValueAdapter::Adapt(NativeConstPtr(&native), method, &out.value, out.messages, localizer);
  return out;
}

template <class X>
void ExpectSameValue(const X& native) {
  const Converted hand = ToValue(native, NativeToValueAdapter::AdaptMethod<X>::Get());
  const Converted table = ToValue(native, &TableToValue<X>);
  EXPECT_EQ(table.messages, hand.messages);
  if (hand.messages.empty()) {
    ASSERT_TRUE(table.value && hand.value);
    EXPECT_TRUE(::Tovri::Data::Equal(*table.value, *hand.value));
  }
}

TEST(FieldTableToValue, MatchesTheHandWrittenFieldLists) {
  ExpectSameValue(T::MakeAllKinds());
  T::AllKinds nullEndpoint = T::MakeAllKinds();
  nullEndpoint.endpoint = nullptr;  // fails naming the structure
  ExpectSameValue(nullEndpoint);
  T::Endpoint extra = *T::MakeEndpoint("h", 1);
  extra.unknownFields = Struct("unknownFields", {{"zeta", Int(1)}, {"alpha", Str("a")}});
  ExpectSameValue(extra);  // written back after the declared fields
  T::ProviderInfo info;
  info.type = T::ProviderType::NATIVE;
  info.nativeInfo = ::Tovri::MakeOptionalPtr<const T::NativeDetails>();
  ExpectSameValue(info);
}

template <class X>
Converted FromValue(const ValuePtr& value, ValueToNativeAdapter::Method method) {
  X native;
  Converted out;
  if (ValueToNativeAdapter::Adapt(value, method, NativePtr(&native), out.messages)) {
    const Converted back = ToValue(native, NativeToValueAdapter::AdaptMethod<X>::Get());
    out.value = back.value;
  }
  return out;
}

template <class X>
void ExpectSameNative(const ValuePtr& value, const char* label) {
  SCOPED_TRACE(label);
  const Converted hand = FromValue<X>(value, ValueToNativeAdapter::AdaptMethod<X>::Get());
  const Converted table = FromValue<X>(value, &TableFromValue<X>);
  EXPECT_EQ(table.messages, hand.messages);
  ASSERT_EQ(static_cast<bool>(table.value), static_cast<bool>(hand.value));
  // Converted back, the undeclared fields kept are written too.
  if (hand.value) {
    EXPECT_TRUE(::Tovri::Data::Equal(*table.value, *hand.value));
  }
}

TEST(FieldTableFromValue, MatchesTheHandWrittenFieldLists) {
  const struct {
    const char* label;
    ValuePtr value;
  } endpoints[] = {
      {"declared fields only", T::EndpointValue("h", 1)},
      {"undeclared fields around and between the declared ones",
       Struct("e",
              {{"a", Int(1)}, {"host", Str("h")}, {"m", Str("x")}, {"port", Int(2)}, {"zz", Bool(true)}})},
      {"required field missing", Struct("e", {{"host", Str("h")}})},
      {"primitive of the wrong kind", Struct("e", {{"host", Str("h")}, {"port", Bool(true)}})},
      {"empty string", Str("")},
      {"non-empty string", Str("text")},
      {"not a structure", Int(3)},
  };
  for (const auto& c : endpoints) ExpectSameNative<T::Endpoint>(c.value, c.label);
  ExpectSameNative<T::AllKinds>(T::AllKindsValue(), "every kind");
  ExpectSameNative<T::ProviderInfo>(Struct("p", {{"type", Str("NATIVE")}, {"x", Int(1)}}), "union");
}

// Validation rules of the top-level structure from its table; nested
// structures are checked by their hand-written rules.
bool ProviderInfoRules(const void* object, Checker& c) {
  return c.CheckTable(*static_cast<const T::ProviderInfo*>(object), kProviderInfo,
                      "::Dral::TestTypes::ProviderInfo");
}
bool RouteRules(const void* object, Checker& c) {
  return c.CheckTable(*static_cast<const T::Route*>(object), kRoute, "::Dral::TestTypes::Route");
}
bool CreateInputRules(const void* object, Checker& c) {
  return c.CheckInputTable(*static_cast<const T::WidgetsSvc::CreateMethod::Input*>(object), kCreateInput,
                           "::Dral::TestTypes::WidgetsSvc::CreateMethod::Input",
                           "::Dral::TestTypes::WidgetsSvc::Create");
}
bool ListInputRules(const void* object, Checker& c) {
  return c.CheckInputTable(*static_cast<const T::WidgetsSvc::ListMethod::Input*>(object), kListInput,
                           "::Dral::TestTypes::WidgetsSvc::ListMethod::Input",
                           "::Dral::TestTypes::WidgetsSvc::List");
}

std::shared_ptr<::Tovri::Data::StructValue> Extra(const char* name) {
  return Struct("unknownFields", {{name, Str("x")}});
}

std::shared_ptr<const T::Endpoint> Endpoint(const char* extra = nullptr) {
  auto endpoint = std::make_shared<T::Endpoint>();
  if (extra != nullptr) endpoint->unknownFields = Extra(extra);
  return endpoint;
}

template <class X>
void ExpectSameVerdict(const X& value, ::Tovri::Data::Validator::Detail::ExpandFn tableRules,
                       const char* label) {
  SCOPED_TRACE(label);
  for (const Policy policy : {::Tovri::Data::Validator::ALLOW_EXTRA_FIELDS, REJECT_EXTRA_FIELDS}) {
    std::list<BaseMessage> hand;
    std::list<BaseMessage> table;
    const bool handValid = ::Tovri::Data::Validator::isValid(value, policy, hand);
    EXPECT_EQ(::Tovri::Data::Validator::Detail::Run(&value, tableRules, policy, table), handValid);
    EXPECT_EQ(table, hand);
  }
}

TEST(FieldTableValidation, MatchesTheHandWrittenRules) {
  const auto info = [](T::ProviderType type, bool native, bool url, const char* extra) {
    T::ProviderInfo value;
    value.type = type;
    if (native) value.nativeInfo = ::Tovri::MakeOptionalPtr<const T::NativeDetails>();
    if (url) value.trustAuthorityUrl = std::string("https://ta");
    if (extra != nullptr) value.unknownFields = Extra(extra);
    return value;
  };
  const struct {
    const char* label;
    T::ProviderInfo value;
  } unions[] = {
      {"case set as the tag selects", info(T::ProviderType::NATIVE, true, false, nullptr)},
      {"selected case unset", info(T::ProviderType::NATIVE, false, false, nullptr)},
      {"other case set", info(T::ProviderType::NATIVE, true, true, nullptr)},
      {"case set for another tag", info(T::ProviderType::TRUST_AUTHORITY, true, false, nullptr)},
      {"unknown tag, nothing set", info(T::ProviderType(), false, false, nullptr)},
      {"undeclared field before the union checks", info(T::ProviderType::NATIVE, false, false, "z")},
  };
  for (const auto& c : unions) ExpectSameVerdict(c.value, &ProviderInfoRules, c.label);

  const auto route = [](std::shared_ptr<const T::Endpoint> from, std::shared_ptr<const T::Endpoint> to) {
    T::Route value;
    value.from = std::move(from);
    value.to = std::move(to);
    return value;
  };
  ExpectSameVerdict(route(Endpoint(), Endpoint()), &RouteRules, "both present");
  ExpectSameVerdict(route(nullptr, Endpoint()), &RouteRules, "first required structure null");
  ExpectSameVerdict(route(Endpoint("f"), Endpoint("t")), &RouteRules, "descents in member order");

  T::WidgetsSvc::CreateMethod::Input create;
  ExpectSameVerdict(create, &CreateInputRules, "required parameter null");
  create.spec = Endpoint("s");
  ExpectSameVerdict(create, &CreateInputRules, "required parameter with an undeclared field");
  create.unknownFields = Extra("i");
  ExpectSameVerdict(create, &CreateInputRules, "input with an undeclared field");
  T::WidgetsSvc::ListMethod::Input list;
  ExpectSameVerdict(list, &ListInputRules, "optional parameter unset");
  list.filter = ::Tovri::OptionalPtr<const T::Endpoint>(Endpoint("f"));
  ExpectSameVerdict(list, &ListInputRules, "optional parameter with an undeclared field");
}

// The undeclared-field collection a table drives takes declared names in
// member order, not sorted.
TEST(CollectUndeclaredFields, KeepsExactlyTheFieldsNotDeclared) {
  using ::Tovri::Data::BaseNative;
  const std::string_view declared[] = {"port", "host", "a"};
  const struct {
    std::vector<const char*> fields;
    std::vector<std::string> kept;
  } cases[] = {
      {{}, {}},
      {{"host", "port", "a"}, {}},
      {{"b", "host", "ho", "hosts", "z"}, {"b", "ho", "hosts", "z"}},
      {{"", "A", "port"}, {"", "A"}},
  };
  for (const auto& c : cases) {
    auto source = ::Tovri::Data::StructValue::GetInstance("s");
    for (const char* name : c.fields) source->SetField(name, Int(1));
    std::shared_ptr<::Tovri::Data::StructValue> holder;
    BaseNative::AdapterHelper::CollectUndeclaredFields(declared, 3, source, holder);
    std::vector<std::string> kept;
    if (holder) {
      EXPECT_EQ(holder->GetName(), "unknownFields");
      for (const auto& field : holder->GetFields()) kept.push_back(field.first);
    }
    EXPECT_EQ(kept, c.kept);
  }
}

}  // namespace
