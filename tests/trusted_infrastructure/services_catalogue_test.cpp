// The generated package against the catalogue: catalogue_rows.py turns every
// operation's declared errors and every metadata entry of the catalogue into
// a row checked here. The catalogue itself is pinned by
// tests/generator/test_package_catalogue.py.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <dral/runtime/metadata.hpp>

#include "package_support.hpp"

namespace {

using ::Tovri::Data::TypeInfo;

struct Row {
  std::string label;
  std::function<void()> check;
};

// The method's error definitions name the declared errors, in order.
template <class M, class... Declared>
Row Errors(std::string label) {
  return {label, [] {
            std::vector<std::string> errors;
            for (const auto& def : M::errorDefs()) {
              ASSERT_EQ(def->GetType(), ::Tovri::Data::kStruct);
              errors.push_back(static_cast<const ::Tovri::Data::StructDefinition&>(*def).GetName());
            }
            EXPECT_EQ(errors, (std::vector<std::string>{TypeInfo<Declared>::name()...}));
          }};
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

TEST(Catalogue, DeclaredErrorsAndMetadataOfEveryEntry) {
  const std::vector<Row> rows = CatalogueRows();
  EXPECT_FALSE(rows.empty());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    row.check();
  }
}

}  // namespace
