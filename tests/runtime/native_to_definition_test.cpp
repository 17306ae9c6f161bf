#include <dral/runtime/native_to_definition.hpp>

#include <list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>

#include <dral/test/gadgets.hpp>
#include <dral/test/routes.hpp>

#include "runtime/fixtures.hpp"

namespace {

using ::Tovri::Data::DataDefinition;
using ::Tovri::Data::DefinitionPtr;
using ::Tovri::Data::ListDefinition;
using ::Tovri::Data::NativeToDefinitionAdapter;
using ::Tovri::Data::OptionalDefinition;
using ::Tovri::Data::StructDefinition;
using ::Tovri::Data::StructRefDefinition;
using ::Tovri::Data::UnionCaseDefinition;
using namespace ::Tovri::Data;  // kind codes
namespace T = ::Dral::Test;
namespace Std = ::Com::Corvane::Tovri::Std;

template <class X>
DefinitionPtr Derive() {
  return NativeToDefinitionAdapter::Derive<X>();
}

// Downcasts that fail the test instead of crashing on a wrong shape.
const StructDefinition& AsStruct(const DefinitionPtr& d) {
  auto* s = dynamic_cast<const StructDefinition*>(d.get());
  if (s == nullptr) throw std::runtime_error("not a structure definition");
  return *s;
}
const DefinitionPtr& Field(const DefinitionPtr& d, const std::string& name) {
  const auto& fields = AsStruct(d).GetFields();
  auto it = fields.find(name);
  if (it == fields.end()) throw std::runtime_error("no field " + name);
  return it->second;
}
const DefinitionPtr& Element(const DefinitionPtr& d) {
  if (auto* l = dynamic_cast<const ListDefinition*>(d.get())) return l->GetElement();
  if (auto* o = dynamic_cast<const OptionalDefinition*>(d.get())) return o->GetElement();
  if (auto* u = dynamic_cast<const UnionCaseDefinition*>(d.get())) return u->GetCase();
  throw std::runtime_error("not a composite definition");
}
int Kind(const DefinitionPtr& d) { return d ? d->GetType() : -1; }
// A definition written out: "list<int>", "optional<struct>", "case<ref>"...
std::string Shape(const DefinitionPtr& d) {
  static const std::map<int, std::string> kNames{
      {kList, "list"},     {kOptional, "optional"}, {kUnionCase, "case"}, {kStruct, "struct"},
      {kStructRef, "ref"}, {kString, "string"},     {kInteger, "int"},    {kBoolean, "bool"},
      {kBlob, "blob"},     {kSecret, "secret"},     {kVoid, "void"}};
  const int kind = Kind(d);
  const std::string name = kNames.count(kind) != 0 ? kNames.at(kind) : "?";
  const bool composite = kind == kList || kind == kOptional || kind == kUnionCase;
  return composite ? name + "<" + Shape(Element(d)) + ">" : name;
}
// The fields of a structure definition as "name=shape", in name order.
std::string Fields(const DefinitionPtr& d) {
  std::string fields;
  for (const auto& field : AsStruct(d).GetFields()) {
    fields += (fields.empty() ? "" : " ") + field.first + "=" + Shape(field.second);
  }
  return fields;
}

TEST(DefinitionShapes, EveryMemberKind) {
  const DefinitionPtr all = Derive<T::AllKinds>();
  EXPECT_EQ(AsStruct(all).GetName(), "com.corvane.test.all_kinds");
  EXPECT_EQ(
      Fields(all),
      "aliases=optional<list<string>> backup=optional<struct> blob=blob color=string colors=list<string> "
      "comment=optional<string> digest=optional<blob> enabled=optional<bool> endpoint=struct flag=bool "
      "labels=optional<list<string>> limit=optional<int> mirrors=list<struct> names=list<string> note=struct "
      "number=int numbers=list<int> password=optional<secret> pcrs=list<struct> provider=struct "
      "secret=secret spare_pcrs=optional<list<struct>> tags=list<string> text=string tint=optional<string>");
  EXPECT_EQ(AsStruct(Field(all, "endpoint")).GetName(), "com.corvane.test.endpoint");
  EXPECT_EQ(AsStruct(Field(all, "provider")).GetName(), "com.corvane.test.provider_info");
  EXPECT_EQ(AsStruct(Field(all, "note")).GetName(), "com.corvane.tovri.std.localizable_message");
  EXPECT_EQ(Fields(Derive<T::Route>()), "from=struct to=struct");
  EXPECT_EQ(Fields(Derive<T::ProviderInfo>()),
            "native_info=case<struct> trust_authority_url=case<string> type=string");
  EXPECT_EQ(Fields(Derive<T::Node>()), "children=list<ref> name=string next=optional<ref>");
  EXPECT_EQ(Fields(Derive<Std::LocalizableMessage>()),
            "args=list<string> default_message=string id=string localized=optional<string>");
  // A map is a list of map entries.
  const DefinitionPtr entry = Element(Field(all, "pcrs"));
  EXPECT_EQ(AsStruct(entry).GetName(), "map-entry");
  EXPECT_EQ(Fields(entry), "key=int value=blob");
}

TEST(DefinitionShapes, NamedRootsOfEveryKind) {
  EXPECT_EQ(Shape(Derive<::Tovri::Void>()), "void");
  EXPECT_EQ(Shape(Derive<T::Color>()), "string");
  const DefinitionPtr inputs[] = {Derive<T::GadgetsSvc::ListMethod::Input>(),
                                  Derive<T::RoutesSvc::ListMethod::Input>()};
  for (const DefinitionPtr& input : inputs) EXPECT_EQ(AsStruct(input).GetName(), "operation-input");
  EXPECT_EQ(Fields(inputs[0]), "");
  EXPECT_EQ(AsStruct(Element(Field(inputs[1], "filter"))).GetName(), "com.corvane.test.route");
}

TEST(DefinitionUnions, CaseFieldsAreUnionCasesOfTheirContent) {
  const DefinitionPtr info = Derive<T::ProviderInfo>();
  auto* native = dynamic_cast<const UnionCaseDefinition*>(Field(info, "native_info").get());
  ASSERT_NE(native, nullptr);
  EXPECT_EQ(native->GetTagField(), "type");
  EXPECT_EQ(AsStruct(native->GetCase()).GetName(), "com.corvane.test.native_details");
  EXPECT_TRUE(native->Selects("NATIVE"));
  for (const char* other : {"TRUST_AUTHORITY", "_UNKNOWN", "", "native", "NATIVEX"}) {
    EXPECT_FALSE(native->Selects(other)) << other;
  }

  auto* url = dynamic_cast<const UnionCaseDefinition*>(Field(info, "trust_authority_url").get());
  ASSERT_NE(url, nullptr);
  EXPECT_TRUE(url->Selects("TRUST_AUTHORITY"));
  EXPECT_FALSE(url->Selects("NATIVE"));
}

TEST(DefinitionSharing, TypeMetTwiceSharesOneDefinitionPerDerivation) {
  const DefinitionPtr route = Derive<T::Route>();
  EXPECT_EQ(Field(route, "from"), Field(route, "to"));
  const DefinitionPtr all = Derive<T::AllKinds>();
  EXPECT_EQ(Element(Field(all, "backup")), Field(all, "endpoint"));
  EXPECT_EQ(Element(Field(all, "mirrors")), Field(all, "endpoint"));
}

TEST(DefinitionSharing, SelfReferenceIsBoundWeaklyAfterTheWalk) {
  DefinitionPtr node = Derive<T::Node>();
  auto next = std::dynamic_pointer_cast<const StructRefDefinition>(Element(Field(node, "next")));
  auto child = std::dynamic_pointer_cast<const StructRefDefinition>(Element(Field(node, "children")));
  ASSERT_NE(next, nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(next->GetName(), "com.corvane.test.node");
  EXPECT_EQ(next->GetTarget(), node);
  EXPECT_EQ(child->GetTarget(), node);

  // No ownership cycle: dropping the caller's pointer frees the structure
  // although its own references still exist.
  const std::weak_ptr<const DataDefinition> watch = node;
  node.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(next->GetTarget(), nullptr);
}

TEST(DefinitionStandardTypes, ErrorsMatchTheFrameworkShape) {
  const std::list<::Tovri::BaseMessage> carried{::Tovri::BaseMessage("m.id", "text", {"a", "b"})};
  std::list<::Tovri::BaseMessage> found;
  const DefinitionPtr notFound = Derive<Std::Errors::NotFound>();
  EXPECT_EQ(AsStruct(Element(Field(notFound, "messages"))).GetName(),
            "com.corvane.tovri.std.localizable_message");
  EXPECT_TRUE(CheckValue(*notFound,
                         ErrorValue::Create("com.corvane.tovri.std.errors.not_found",
                                            std::vector<ErrorMessage>{{carried.front(), std::string("x")}}),
                         found));
  EXPECT_FALSE(
      CheckValue(*notFound, ErrorValue::Create("com.corvane.tovri.std.errors.unsupported", carried), found));
  EXPECT_EQ(found.size(), 1u);

  // Every standard error derives the same shape under its own id.
  EXPECT_TRUE(CheckValue(*Derive<Std::Errors::Unauthorized>(),
                         ErrorValue::Create("com.corvane.tovri.std.errors.unauthorized", carried), found));
}

// --- Derivation against conversion ---------------------------------------------------

class DefinitionAgainstConversion : public ::testing::Test {
 protected:
  template <class X>
  static ValuePtr Convert(const X& native) {
    ValuePtr value;
    std::list<::Tovri::BaseMessage> messages;
    EXPECT_TRUE(NativeToValueAdapter::Adapt(native, value, messages, ::Tovri::L10n::RequestLocalizer()));
    return value;
  }
  bool Accepts(const ValuePtr& value, const DefinitionPtr& of = Derive<T::AllKinds>()) {
    messages.clear();
    return CheckValue(*of, value, messages);
  }

  std::list<::Tovri::BaseMessage> messages;
};

TEST_F(DefinitionAgainstConversion, AcceptsWhatTheConverterWrites) {
  EXPECT_TRUE(Accepts(Convert(T::MakeAllKinds())))
      << (messages.empty() ? "" : messages.front().defaultMessage);
  EXPECT_TRUE(Accepts(T::AllKindsValue()));

  // Every optional unset, containers empty, and the other union case.
  T::AllKinds sparse;
  sparse.endpoint = T::MakeEndpoint("h", 1);
  sparse.note = std::make_shared<Std::LocalizableMessage>();
  auto trust = std::make_shared<T::ProviderInfo>();
  trust->type = T::ProviderType::TRUST_AUTHORITY;
  trust->trustAuthorityUrl = std::string("https://ta");
  sparse.provider = trust;
  EXPECT_TRUE(Accepts(Convert(sparse)));
}

TEST_F(DefinitionAgainstConversion, AcceptsSelfReferringValues) {
  auto leaf = std::make_shared<T::Node>();
  leaf->name = "leaf";
  T::Node root;
  root.next = ::Tovri::OptionalPtr<const T::Node>(std::shared_ptr<const T::Node>(leaf));
  root.children = {leaf, leaf};
  const DefinitionPtr node = Derive<T::Node>();
  EXPECT_TRUE(Accepts(Convert(root), node));

  using namespace ::Dral::TestValues;
  // Only a bound reference lets the check see the inner name's kind.
  const auto inner =
      Struct("com.corvane.test.node", {{"name", Int(1)}, {"next", Unset()}, {"children", List({})}});
  EXPECT_FALSE(Accepts(
      Struct("com.corvane.test.node", {{"name", Str("root")}, {"next", Opt(inner)}, {"children", List({})}}),
      node));
}

TEST_F(DefinitionAgainstConversion, RejectsMismatches) {
  using namespace ::Dral::TestValues;
  // Each case replaces one field of the converted value.
  const std::pair<const char*, ValuePtr> cases[] = {
      {"text", Int(1)},
      {"endpoint", Str("a.example")},
      {"endpoint", Struct("com.corvane.test.other", {{"host", Str("h")}, {"port", Int(1)}})},
      {"endpoint", Struct("com.corvane.test.endpoint", {{"host", Str("h")}})},
      {"backup", T::EndpointValue("b", 1)},
      {"mirrors", List({Str("m")})},
      {"aliases", Opt(List({Int(1)}))},
      {"pcrs", List(3, {MapEntry(Str("0"), ::Dral::TestValues::Blob({1}))})},
      {"provider",
       Struct("com.corvane.test.provider_info",
              {{"type", Str("TRUST_AUTHORITY")},
               {"native_info", Opt(Struct("com.corvane.test.native_details", {{"key_store", Str("k")}}))},
               {"trust_authority_url", Unset()}})},
      {"note", Struct("com.corvane.tovri.std.localizable_message", {{"id", Str("i")}})},
  };
  for (const auto& c : cases) {
    auto value = std::const_pointer_cast<DataValue>(Convert(T::MakeAllKinds()));
    std::static_pointer_cast<StructValue>(value)->SetField(c.first, c.second);
    EXPECT_FALSE(Accepts(value)) << c.first;
  }
}

// --- Native stack use ------------------------------------------------------------

// Distinct structure types nested N deep.
template <int N>
struct Chain : BaseNative {
  struct AdapterHelper {
    static void AddFields(NativeToDefinitionAdapter::CompoundHelper<StructDefinition>& h) {
      h.AddField<std::shared_ptr<const Chain<N - 1>>>("next");
      h.AddField<std::list<std::shared_ptr<const Chain<N - 1>>>>("more");
    }
  };
};
template <>
struct Chain<0> : BaseNative {
  struct AdapterHelper {
    static void AddFields(NativeToDefinitionAdapter::CompoundHelper<StructDefinition>& h) {
      h.AddField<long long>("leaf");
    }
  };
};

}  // namespace

namespace Tovri {
namespace Data {
template <int N>
struct TypeInfo<Chain<N>> {
  static std::string name() { return "com.corvane.test.chain" + std::to_string(N); }
};
}  // namespace Data
}  // namespace Tovri

namespace {

// Composite wrappers nested N + 1 deep. Optionals only: the debug names of
// nested std::list<X, std::allocator<X>> double with every level.
template <int N>
struct Nest {
  using type = boost::optional<typename Nest<N - 1>::type>;
};
template <>
struct Nest<0> {
  using type = std::list<long long>;
};

constexpr int kChainDepth = 100;
constexpr int kNestDepth = 200;

TEST(DefinitionStackUse, DeepTypesDeriveOnA64KiBStack) {
  DefinitionPtr chain;
  DefinitionPtr nest;
  // Results are dropped here, not on the small stack: tearing a definition
  // tree down is the framework's business.
  ::Dral::TestValues::RunOnSmallStack([&] {
    chain = Derive<Chain<kChainDepth>>();
    nest = Derive<Nest<kNestDepth>::type>();
  });

  int depth = 0;
  for (DefinitionPtr link = chain; AsStruct(link).GetFields().count("next") != 0; ++depth) {
    const DefinitionPtr next = Field(link, "next");
    EXPECT_EQ(Element(Field(link, "more")), next);
    link = next;
    if (depth == kChainDepth - 1) {
      EXPECT_EQ(AsStruct(link).GetName(), "com.corvane.test.chain0");
    }
  }
  EXPECT_EQ(depth, kChainDepth);
  std::string wrappers;
  for (int i = 0; i < kNestDepth; ++i) wrappers += "optional<";
  EXPECT_EQ(Shape(nest), wrappers + "list<int>" + std::string(kNestDepth, '>'));
}

}  // namespace
