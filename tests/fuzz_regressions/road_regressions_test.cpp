// Findings of the road fuzz target (operation inputs and outputs through the
// generated services).
#include <list>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <dral/runtime/native_to_value.hpp>
#include <dral/runtime/validator.hpp>
#include <dral/runtime/value_to_native.hpp>
#include <dral/trusted_infrastructure/kms/providers.hpp>
#include <tovri/core/message_ids.hpp>
#include <tovri/core/value.hpp>

namespace {

using namespace Tovri::Data;
using Providers = ::Com::Corvane::Morv::TrustedInfrastructure::Kms::ProvidersSvc;

// An error value stands for a structure when it carries the structure's
// fields; its undeclared fields ("messages" among them) used to be dropped
// instead of kept, so an input sent as an error with extra fields passed
// validation and reached the implementation.
TEST(RoadFuzzRegression, AnErrorReadAsAStructureKeepsItsUndeclaredFields) {
  auto input = ErrorValue::GetInstance(TypeInfo<Tovri::OperationInput>::name());
  input->SetField("provider", StringValue::GetInstance("p1"));
  input->SetField("extra", IntegerValue::GetInstance(7));

  Providers::DeleteMethod::Input native;
  std::list<Tovri::BaseMessage> messages;
  ASSERT_TRUE(ValueToNativeAdapter::Adapt(input, native, messages));
  EXPECT_EQ(native.provider, "p1");
  ASSERT_NE(native.unknownFields, nullptr);
  EXPECT_EQ(native.unknownFields->GetFields().size(), 2u) << "extra and messages";
  EXPECT_NE(native.unknownFields->FindField("extra"), nullptr);

  EXPECT_FALSE(Validator::isValid(native, Validator::REJECT_EXTRA_FIELDS, messages));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().id, ::Tovri::MessageIds::kInvalidInput);

  // Converted back, the fields travel in a structure value.
  ValuePtr back;
  ASSERT_TRUE(
      NativeToValueAdapter::Adapt(native, back, messages, Tovri::L10n::RequestLocalizer{nullptr, nullptr}));
  const auto& structure = static_cast<const CompoundValue&>(*back);
  EXPECT_EQ(back->GetType(), kStruct);
  EXPECT_NE(structure.FindField("extra"), nullptr);
}

}  // namespace
