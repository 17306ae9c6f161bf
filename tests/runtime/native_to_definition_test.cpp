#include <dral/runtime/native_to_definition.hpp>

#include <pthread.h>

#include <functional>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>

#include "runtime/all_kinds_fixture.hpp"
#include "runtime/test_types.hpp"
#include "runtime/value_builders.hpp"

namespace {

using ::Tovri::Data::DataDefinition;
using ::Tovri::Data::DefinitionPtr;
using ::Tovri::Data::ListDefinition;
using ::Tovri::Data::NativeToDefinitionAdapter;
using ::Tovri::Data::OptionalDefinition;
using ::Tovri::Data::StructDefinition;
using ::Tovri::Data::StructRefDefinition;
using ::Tovri::Data::UnionCaseDefinition;
namespace T = ::Dral::TestTypes;
namespace Std = ::Com::Corvane::Tovri::Std;

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

std::list<std::string> FieldNames(const DefinitionPtr& d) {
  std::list<std::string> names;
  for (const auto& field : AsStruct(d).GetFields()) names.push_back(field.first);
  return names;
}

// --- Shapes --------------------------------------------------------------------

TEST(DefinitionShapes, EveryMemberKindOfAStructure) {
  const DefinitionPtr all = NativeToDefinitionAdapter::Derive<T::AllKinds>();
  EXPECT_EQ(AsStruct(all).GetName(), "com.corvane.test.all_kinds");
  EXPECT_EQ(FieldNames(all),
            (std::list<std::string>{"aliases", "backup", "bank",    "blob",     "color",   "colors",
                                    "comment", "digest", "enabled", "endpoint", "flag",    "limit",
                                    "mirrors", "names",  "note",    "number",   "numbers", "provider",
                                    "secret",  "tags",   "text",    "tint"}));
  using namespace ::Tovri::Data;
  EXPECT_EQ(Kind(Field(all, "text")), kString);
  EXPECT_EQ(Kind(Field(all, "number")), kInteger);
  EXPECT_EQ(Kind(Field(all, "flag")), kBoolean);
  EXPECT_EQ(Kind(Field(all, "blob")), kBlob);
  EXPECT_EQ(Kind(Field(all, "secret")), kSecret);
  EXPECT_EQ(Kind(Field(all, "color")), kString);
  EXPECT_EQ(AsStruct(Field(all, "endpoint")).GetName(), "com.corvane.test.endpoint");
  EXPECT_EQ(Kind(Field(all, "backup")), kOptional);
  EXPECT_EQ(AsStruct(Element(Field(all, "backup"))).GetName(), "com.corvane.test.endpoint");
  EXPECT_EQ(Kind(Element(Field(all, "comment"))), kString);
  EXPECT_EQ(Kind(Element(Field(all, "limit"))), kInteger);
  EXPECT_EQ(Kind(Element(Field(all, "tint"))), kString);
  EXPECT_EQ(Kind(Field(all, "aliases")), kOptional);
  EXPECT_EQ(Kind(Element(Field(all, "aliases"))), kList);
  EXPECT_EQ(Kind(Element(Element(Field(all, "aliases")))), kString);
  EXPECT_EQ(Kind(Field(all, "mirrors")), kList);
  EXPECT_EQ(AsStruct(Element(Field(all, "mirrors"))).GetName(), "com.corvane.test.endpoint");
  EXPECT_EQ(Kind(Field(all, "names")), kList);
  EXPECT_EQ(Kind(Element(Field(all, "colors"))), kString);
  EXPECT_EQ(AsStruct(Field(all, "provider")).GetName(), "com.corvane.test.provider_info");
  EXPECT_EQ(AsStruct(Field(all, "note")).GetName(), "com.corvane.tovri.std.localizable_message");
}

TEST(DefinitionShapes, MapBecomesListOfMapEntries) {
  const DefinitionPtr bank = NativeToDefinitionAdapter::Derive<T::PcrBank>();
  const DefinitionPtr& pcrs = Field(bank, "pcrs");
  ASSERT_EQ(Kind(pcrs), ::Tovri::Data::kList);
  const DefinitionPtr& entry = Element(pcrs);
  EXPECT_EQ(AsStruct(entry).GetName(), "map-entry");
  EXPECT_EQ(FieldNames(entry), (std::list<std::string>{"key", "value"}));
  EXPECT_EQ(Kind(Field(entry, "key")), ::Tovri::Data::kInteger);
  EXPECT_EQ(Kind(Field(entry, "value")), ::Tovri::Data::kBlob);
}

TEST(DefinitionShapes, OptionalSetIsOptionalList) {
  const DefinitionPtr route = NativeToDefinitionAdapter::Derive<T::Route>();
  const DefinitionPtr& labels = Field(route, "labels");
  ASSERT_EQ(Kind(labels), ::Tovri::Data::kOptional);
  ASSERT_EQ(Kind(Element(labels)), ::Tovri::Data::kList);
  EXPECT_EQ(Kind(Element(Element(labels))), ::Tovri::Data::kString);
}

TEST(DefinitionShapes, NamedRootsOfEveryKind) {
  EXPECT_EQ(Kind(NativeToDefinitionAdapter::Derive<::Tovri::Void>()), ::Tovri::Data::kVoid);
  EXPECT_EQ(Kind(NativeToDefinitionAdapter::Derive<T::Color>()), ::Tovri::Data::kString);
  for (const DefinitionPtr& input : {NativeToDefinitionAdapter::Derive<T::WidgetsSvc::GetAllMethod::Input>(),
                                     NativeToDefinitionAdapter::Derive<::Tovri::OperationInput>()}) {
    EXPECT_EQ(AsStruct(input).GetName(), "operation-input");
    EXPECT_TRUE(AsStruct(input).GetFields().empty());
  }
  const DefinitionPtr create = NativeToDefinitionAdapter::Derive<T::WidgetsSvc::CreateMethod::Input>();
  EXPECT_EQ(AsStruct(create).GetName(), "operation-input");
  EXPECT_EQ(AsStruct(Field(create, "spec")).GetName(), "com.corvane.test.endpoint");
}

// --- Unions ----------------------------------------------------------------------

TEST(DefinitionUnions, CaseFieldsAreUnionCasesOfTheirContent) {
  const DefinitionPtr info = NativeToDefinitionAdapter::Derive<T::ProviderInfo>();
  EXPECT_EQ(Kind(Field(info, "type")), ::Tovri::Data::kString);

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
  EXPECT_EQ(Kind(url->GetCase()), ::Tovri::Data::kString);
  EXPECT_TRUE(url->Selects("TRUST_AUTHORITY"));
  EXPECT_FALSE(url->Selects("NATIVE"));
}

TEST(DefinitionUnions, PredicateIsNeverIndeterminate) {
  const ::Tovri::Data::UnionCaseAnyEnumValue<T::ProviderInfoAnnotations::NativeInfoUnionCases> predicate;
  for (const char* text : {"NATIVE", "TRUST_AUTHORITY", "_UNKNOWN", ""}) {
    const boost::logic::tribool answer = predicate(text);
    EXPECT_FALSE(boost::logic::indeterminate(answer)) << text;
    EXPECT_EQ(static_cast<bool>(answer), std::string(text) == "NATIVE") << text;
  }
}

// --- Sharing and self-reference ---------------------------------------------------

TEST(DefinitionSharing, TypeMetTwiceSharesOneDefinition) {
  const DefinitionPtr route = NativeToDefinitionAdapter::Derive<T::Route>();
  EXPECT_EQ(Field(route, "from"), Field(route, "to"));

  const DefinitionPtr all = NativeToDefinitionAdapter::Derive<T::AllKinds>();
  const DefinitionPtr& endpoint = Field(all, "endpoint");
  EXPECT_EQ(Element(Field(all, "backup")), endpoint);
  EXPECT_EQ(Element(Field(all, "mirrors")), endpoint);
}

TEST(DefinitionSharing, EachDerivationBuildsAfresh) {
  const DefinitionPtr a = NativeToDefinitionAdapter::Derive<T::Route>();
  const DefinitionPtr b = NativeToDefinitionAdapter::Derive<T::Route>();
  EXPECT_NE(a, b);
  EXPECT_NE(Field(a, "from"), Field(b, "from"));
}

TEST(DefinitionSharing, SelfReferenceIsBoundWeaklyAfterTheWalk) {
  DefinitionPtr node = NativeToDefinitionAdapter::Derive<T::Node>();
  EXPECT_EQ(AsStruct(node).GetName(), "com.corvane.test.node");
  EXPECT_EQ(Kind(Field(node, "name")), ::Tovri::Data::kString);

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

// --- Work order ---------------------------------------------------------------------

TEST(DefinitionWorkOrder, StepsQueueAsDocumented) {
  using Adapter = NativeToDefinitionAdapter;
  const std::list<::Tovri::BaseMessage> messages;

  {  // Composite: end entry first, element entry on top of it.
    Adapter::StackMapCnt stack;
    DefinitionPtr out;
    Adapter::CompositeBeginMethod<std::string, Adapter::ListEnd>(Adapter::SrcType(), &out, stack, messages);
    ASSERT_EQ(stack.size(), 2u);
    EXPECT_EQ(stack.front().method, Adapter::ListEnd::Get());
    EXPECT_EQ(stack.front().destination, &out);
    EXPECT_EQ(stack.back().method, &Adapter::PrimitiveMethod<std::string>);
    EXPECT_EQ(stack.back().destination, stack.front().source.slot.get());
  }
  {  // Structure: end entry, then fields in declaration order (the last runs first).
    Adapter::StackMapCnt stack;
    DefinitionPtr out;
    Adapter::StructBeginMethod<T::Endpoint>(Adapter::SrcType(), &out, stack, messages);
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_EQ(stack[0].method, Adapter::StructEnd::Get());
    EXPECT_EQ(stack[0].source.name, "com.corvane.test.endpoint");
    EXPECT_EQ(stack[1].destination, &stack[0].source.fields->at("host"));
    EXPECT_EQ(stack[2].destination, &stack[0].source.fields->at("port"));
    DefinitionPtr state;
    EXPECT_TRUE(stack.GetDef(stack[0].source.key, state));
    EXPECT_EQ(state, nullptr);  // being derived
  }
  {  // A structure being derived: a reference now, its resolution queued last.
    Adapter::StackMapCnt stack;
    Adapter::StructBeginMethod<T::Node>(Adapter::SrcType(), nullptr, stack, messages);
    void* const key = stack.front().source.key;
    DefinitionPtr inner;
    Adapter::StructBeginMethod<T::Node>(Adapter::SrcType(), &inner, stack, messages);
    ASSERT_EQ(Kind(inner), ::Tovri::Data::kStructRef);
    EXPECT_EQ(stack.front().method, &Adapter::ResolveMethod);
    EXPECT_EQ(stack.front().source.ref, inner);
    EXPECT_EQ(stack.front().source.key, key);
  }
}

// --- Standard structures --------------------------------------------------------------

TEST(DefinitionStandardTypes, ErrorsMatchTheFrameworkShape) {
  const DefinitionPtr message = NativeToDefinitionAdapter::Derive<Std::LocalizableMessage>();
  EXPECT_EQ(FieldNames(message), (std::list<std::string>{"args", "default_message", "id", "localized"}));

  const DefinitionPtr notFound = NativeToDefinitionAdapter::Derive<Std::Errors::NotFound>();
  EXPECT_EQ(AsStruct(notFound).GetName(), "com.corvane.tovri.std.errors.not_found");
  EXPECT_EQ(AsStruct(Element(Field(notFound, "messages"))).GetName(),
            "com.corvane.tovri.std.localizable_message");

  const std::list<::Tovri::BaseMessage> carried{::Tovri::BaseMessage("m.id", "text", {"a", "b"})};
  std::list<::Tovri::BaseMessage> found;
  EXPECT_TRUE(::Tovri::Data::CheckValue(
      *notFound, ::Tovri::Data::ErrorValue::Create("com.corvane.tovri.std.errors.not_found", carried),
      found));
  EXPECT_TRUE(::Tovri::Data::CheckValue(
      *notFound,
      ::Tovri::Data::ErrorValue::Create(
          "com.corvane.tovri.std.errors.not_found",
          std::vector<::Tovri::Data::ErrorMessage>{{carried.front(), std::string("x")}}),
      found));
  EXPECT_FALSE(::Tovri::Data::CheckValue(
      *notFound, ::Tovri::Data::ErrorValue::Create("com.corvane.tovri.std.errors.unsupported", carried),
      found));

  const std::pair<DefinitionPtr, const char*> errors[] = {
      {NativeToDefinitionAdapter::Derive<Std::Errors::Error>(), "error"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::AlreadyExists>(), "already_exists"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::InvalidArgument>(), "invalid_argument"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::NotAllowedInCurrentState>(),
       "not_allowed_in_current_state"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::UnableToAllocateResource>(),
       "unable_to_allocate_resource"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::Unauthenticated>(), "unauthenticated"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::Unauthorized>(), "unauthorized"},
      {NativeToDefinitionAdapter::Derive<Std::Errors::Unsupported>(), "unsupported"}};
  for (const auto& error : errors) {
    const std::string id = std::string("com.corvane.tovri.std.errors.") + error.second;
    EXPECT_EQ(AsStruct(error.first).GetName(), id);
    EXPECT_TRUE(
        ::Tovri::Data::CheckValue(*error.first, ::Tovri::Data::ErrorValue::Create(id, carried), found))
        << id;
  }
  EXPECT_EQ(found.size(), 1u);  // the one mismatch above
}

// --- Derivation against conversion ---------------------------------------------------

class DefinitionAgainstConversion : public ::testing::Test {
 protected:
  ::Tovri::Data::ValuePtr Convert(const T::AllKinds& all) {
    ::Tovri::Data::ValuePtr value;
    std::list<::Tovri::BaseMessage> messages;
    EXPECT_TRUE(::Tovri::Data::NativeToValueAdapter::Adapt(
        all, value, messages, ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer()));
    return value;
  }
  bool Accepts(const ::Tovri::Data::ValuePtr& value) {
    messages.clear();
    return ::Tovri::Data::CheckValue(*definition, value, messages);
  }

  DefinitionPtr definition = NativeToDefinitionAdapter::Derive<T::AllKinds>();
  std::list<::Tovri::BaseMessage> messages;
};

TEST_F(DefinitionAgainstConversion, AcceptsWhatTheConverterWrites) {
  EXPECT_TRUE(Accepts(Convert(T::MakeAllKinds())))
      << (messages.empty() ? "" : messages.front().defaultMessage);
  EXPECT_TRUE(Accepts(T::AllKindsValue()));

  T::AllKinds sparse = T::MakeAllKinds();  // every optional unset, containers empty
  sparse.backup = nullptr;
  sparse.comment = boost::none;
  sparse.limit = boost::none;
  sparse.enabled = boost::none;
  sparse.digest = boost::none;
  sparse.tint = boost::none;
  sparse.aliases = boost::none;
  sparse.mirrors.clear();
  sparse.tags.clear();
  sparse.names.clear();
  sparse.numbers.clear();
  sparse.colors.clear();
  EXPECT_TRUE(Accepts(Convert(sparse)));

  auto trust = std::make_shared<T::ProviderInfo>();  // the other union case
  trust->type = T::ProviderType::TRUST_AUTHORITY;
  trust->trustAuthorityUrl = std::string("https://ta");
  T::AllKinds other = T::MakeAllKinds();
  other.provider = trust;
  EXPECT_TRUE(Accepts(Convert(other)));
}

TEST_F(DefinitionAgainstConversion, AcceptsSelfReferringValues) {
  auto leaf = std::make_shared<T::Node>();
  leaf->name = "leaf";
  auto root = std::make_shared<T::Node>();
  root->name = "root";
  root->next = ::Tovri::OptionalPtr<const T::Node>(std::shared_ptr<const T::Node>(leaf));
  root->children = {leaf, leaf};
  ::Tovri::Data::ValuePtr value;
  std::list<::Tovri::BaseMessage> converted;
  ASSERT_TRUE(::Tovri::Data::NativeToValueAdapter::Adapt(
      *root, value, converted, ::Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer()));
  const DefinitionPtr node = NativeToDefinitionAdapter::Derive<T::Node>();
  EXPECT_TRUE(::Tovri::Data::CheckValue(*node, value, messages));

  using namespace ::Dral::TestValues;
  // Only a bound reference lets the check see the inner name's kind.
  const auto inner =
      Struct("com.corvane.test.node", {{"name", Int(1)}, {"next", Unset()}, {"children", List({})}});
  const auto bad =
      Struct("com.corvane.test.node", {{"name", Str("root")}, {"next", Opt(inner)}, {"children", List({})}});
  EXPECT_FALSE(::Tovri::Data::CheckValue(*node, bad, messages));
}

TEST_F(DefinitionAgainstConversion, RejectsMismatches) {
  using namespace ::Dral::TestValues;
  // Each case replaces one field of the converted value.
  const std::pair<const char*, ::Tovri::Data::ValuePtr> cases[] = {
      {"text", Int(1)},
      {"endpoint", Str("a.example")},
      {"endpoint", Struct("com.corvane.test.other", {{"host", Str("h")}, {"port", Int(1)}})},
      {"endpoint", Struct("com.corvane.test.endpoint", {{"host", Str("h")}})},
      {"backup", T::EndpointValue("b", 1)},
      {"mirrors", List({Str("m")})},
      {"aliases", Opt(List({Int(1)}))},
      {"bank", Struct("com.corvane.test.pcr_bank",
                      {{"algorithm", Str("a")}, {"pcrs", List(3, {MapEntry(Str("0"), Blob({1}))})}})},
      {"provider",
       Struct("com.corvane.test.provider_info",
              {{"type", Str("TRUST_AUTHORITY")},
               {"native_info", Opt(Struct("com.corvane.test.native_details", {{"key_store", Str("k")}}))},
               {"trust_authority_url", Unset()}})},
      {"note", Struct("com.corvane.tovri.std.localizable_message", {{"id", Str("i")}})},
  };
  for (const auto& c : cases) {
    auto value = std::const_pointer_cast<::Tovri::Data::DataValue>(Convert(T::MakeAllKinds()));
    std::static_pointer_cast<::Tovri::Data::StructValue>(value)->SetField(c.first, c.second);
    EXPECT_FALSE(Accepts(value)) << c.first;
  }
}

// --- Native stack use ------------------------------------------------------------

// Distinct structure types nested N deep.
template <int N>
struct Chain : ::Tovri::Data::BaseNative {
  std::shared_ptr<const Chain<N - 1>> next;
  struct AdapterHelper {
    static void AddFields(NativeToDefinitionAdapter::CompoundHelper<StructDefinition>& h) {
      h.AddField<std::shared_ptr<const Chain<N - 1>>>("next");
      h.AddField<std::list<std::shared_ptr<const Chain<N - 1>>>>("more");
    }
  };
};
template <>
struct Chain<0> : ::Tovri::Data::BaseNative {
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

// Runs `work` on a thread with a 64 KiB stack.
void OnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
}

TEST(DefinitionStackUse, DeepTypesDeriveOnA64KiBStack) {
  DefinitionPtr chain;
  DefinitionPtr nest;
  // Results are dropped here, not on the small stack: tearing a definition
  // tree down is the framework's business.
  OnSmallStack([&] {
    chain = NativeToDefinitionAdapter::Derive<Chain<kChainDepth>>();
    nest = NativeToDefinitionAdapter::Derive<Nest<kNestDepth>::type>();
  });

  int depth = 0;
  DefinitionPtr link = chain;
  while (AsStruct(link).GetFields().count("next") != 0) {
    const DefinitionPtr next = Field(link, "next");
    EXPECT_EQ(Element(Field(link, "more")), next);
    link = next;
    ++depth;
  }
  EXPECT_EQ(depth, kChainDepth);
  EXPECT_EQ(AsStruct(link).GetName(), "com.corvane.test.chain0");

  int wrappers = 0;
  DefinitionPtr at = nest;
  for (; at && (at->GetType() == ::Tovri::Data::kList || at->GetType() == ::Tovri::Data::kOptional);
       at = Element(at))
    ++wrappers;
  EXPECT_EQ(wrappers, kNestDepth + 1);
  EXPECT_EQ(Kind(at), ::Tovri::Data::kInteger);
}

}  // namespace
