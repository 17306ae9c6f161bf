// The generated package against the catalogue: catalogue_rows.py turns every
// service, operation, enumeration, structure, metadata entry and union table
// of the catalogue into a row checked here.
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/metadata.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/stub.hpp>

#include "package_support.hpp"

namespace {

namespace V = ::Tovri::Data::Validator;
using ::Tovri::Data::TypeInfo;

struct Row {
  std::string label;
  std::function<void()> check;
};

template <class T>
std::vector<std::string> Table() {
  std::vector<std::string> out;
  for (const char* const* v = T::Strings::values; *v != nullptr; ++v) out.emplace_back(*v);
  return out;
}

template <class T, class = void>
struct HasConstants : std::false_type {};
template <class T>
struct HasConstants<T, std::void_t<decltype(T::Constants::RESOURCE_TYPE)>> : std::true_type {};

struct OpRow {
  std::string wire;
  Row row;
};

template <class M, class... Errors>
OpRow Op(std::string wire, std::string native) {
  return {wire,
          {native, [=] {
             EXPECT_EQ(M::methodName(), wire);
             std::vector<std::string> errors;
             for (const auto& def : M::errorDefs()) {
               ASSERT_EQ(def->GetType(), ::Tovri::Data::kStruct);
               errors.push_back(static_cast<const ::Tovri::Data::StructDefinition&>(*def).GetName());
             }
             EXPECT_EQ(errors, (std::vector<std::string>{TypeInfo<Errors>::name()...}));
             if constexpr (!std::is_same_v<typename M::Input, ::Tovri::OperationInput>) {
               // An undeclared field names the input class, then the operation.
               const auto input = WithExtraField(std::make_shared<typename M::Input>());
               std::list<::Tovri::BaseMessage> messages;
               EXPECT_FALSE(V::isValid(*input, V::REJECT_EXTRA_FIELDS, messages));
               ASSERT_EQ(messages.size(), 2u);
               EXPECT_EQ(messages.front().id, ::Tovri::MessageIds::kFieldExtra);
               EXPECT_EQ(messages.front().args, (std::list<std::string>{native + "Method::Input", "x", ""}));
               EXPECT_EQ(messages.back().id, ::Tovri::MessageIds::kInvalidInput);
               EXPECT_EQ(messages.back().args, (std::list<std::string>{native}));
             }
           }}};
}

template <class Svc>
Row Service(std::string id, std::string resourceType, std::vector<OpRow> ops) {
  return {
      id, [=] {
        EXPECT_EQ(TypeInfo<typename Svc::AsyncServiceInterface>::name(), id);
        if constexpr (HasConstants<Svc>::value) {
          EXPECT_EQ(Svc::Constants::RESOURCE_TYPE, resourceType);
        } else {
          EXPECT_EQ(resourceType, "");
        }
        // A stub stands in for the implementation: binding never calls it.
        const auto stub = std::make_shared<typename Svc::AsyncServiceStub>(
            std::make_shared<::Tovri::Stub::AsyncApiStub>(std::make_shared<::Tovri::Core::LocalProvider>()));
        const auto api = Svc::AsyncServiceBinder::BindImplementation(stub);
        ASSERT_NE(api, nullptr);
        EXPECT_EQ(api->GetIdentifier()->GetName(), id);
        std::vector<std::string> signals, expected;
        for (const auto& method : api->GetMethods()) signals.push_back(method->methodName());
        for (const auto& op : ops) {
          expected.push_back(op.wire);
          SCOPED_TRACE(op.row.label);
          op.row.check();
        }
        EXPECT_EQ(signals, expected);
      }};
}

template <class T>
Row Cases(std::vector<std::string> values) {
  return {"cases " + values.front(), [=] { EXPECT_EQ(Table<T>(), values); }};
}

template <class T>
Row Enum(std::string wire, std::vector<std::string> values) {
  return {wire, [=] {
            EXPECT_EQ(TypeInfo<T>::name(), wire);
            EXPECT_EQ(Table<T>(), values);
          }};
}

template <class T>
Row Struct(std::string wire) {
  return {wire, [=] { EXPECT_EQ(TypeInfo<T>::name(), wire); }};
}

template <class T>
Row Meta(std::string name, std::map<std::string, std::string> identifiers) {
  return {name, [=] {
            const auto info = ::Tovri::Metadata::StructInfo::Create<T>();
            ASSERT_NE(info, nullptr);
            EXPECT_EQ(info->name, name);
            std::map<std::string, std::string> resourceTypes;
            for (const auto& field : info->fields) resourceTypes[field.first] = field.second->resourceType;
            EXPECT_EQ(resourceTypes, identifiers);
          }};
}

#include "catalogue_rows.inc"

void CheckAll(const std::vector<Row>& rows) {
  EXPECT_FALSE(rows.empty());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    row.check();
  }
}

TEST(Catalogue, EveryServiceAndOperation) { CheckAll(CatalogueServices()); }

TEST(Catalogue, EveryTypeMetadataAndUnionTable) { CheckAll(CatalogueTypes()); }

}  // namespace
