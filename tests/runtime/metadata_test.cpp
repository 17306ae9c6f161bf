#include <dral/runtime/metadata.hpp>

#include <memory>

#include <gtest/gtest.h>

namespace {

struct FilterSpec {};

}  // namespace

// As generated for a structure with one identifier field.
namespace Tovri {
namespace Metadata {
template <>
std::shared_ptr<StructInfo> StructInfo::Create<FilterSpec>() {
  static const char* const kProviders[1] = {"com.corvane.test.provider"};
  StructInfo::FieldMap fields;
  fields["providers"] = RegularField<0, 0>::GetInstance(kProviders);
  return StructInfo::Make("com.corvane.test.Providers.FilterSpec", fields);
}
}  // namespace Metadata
}  // namespace Tovri

namespace {

using ::Tovri::Metadata::FieldInfo;
using ::Tovri::Metadata::StructInfo;

// Every call builds new objects, described as the factory says.
TEST(StructMetadata, FactoryDescribesIdentifierFields) {
  const std::shared_ptr<StructInfo> info = StructInfo::Create<FilterSpec>();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->attributes, 0);
  EXPECT_EQ(info->name, "com.corvane.test.Providers.FilterSpec");
  EXPECT_FALSE(info->note);
  ASSERT_EQ(info->fields.size(), 1u);
  const std::shared_ptr<const FieldInfo>& field = info->fields.at("providers");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->attributes, 0);
  EXPECT_FALSE(field->flag);
  EXPECT_EQ(field->resourceType, "com.corvane.test.provider");
  EXPECT_TRUE(field->nested.empty());
  EXPECT_FALSE(field->note);
  EXPECT_NE(StructInfo::Create<FilterSpec>()->fields.at("providers"), field);
}

}  // namespace
