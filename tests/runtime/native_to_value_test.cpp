#include <dral/runtime/native_to_value.hpp>

#include <gtest/gtest.h>

#include <tovri/core/error.hpp>
#include <tovri/core/message_ids.hpp>

#include <dral/test/gadgets.hpp>
#include <dral/test/routes.hpp>

#include "runtime/fixtures.hpp"

namespace Dral {
namespace Test {
namespace {

using ::Tovri::Data::CompoundValue;
using ::Tovri::Data::Equal;
using ::Tovri::Data::ListValue;
using ::Tovri::Data::NativeToValueAdapter;
using ::Tovri::Data::ValuePtr;
using namespace ::Dral::TestValues;

class NativeToValue : public ::testing::Test {
 protected:
  template <class T>
  ValuePtr Convert(const T& native) {
    ValuePtr out;
    ok_ = NativeToValueAdapter::Adapt(native, out, messages_, localizer_);
    return out;
  }

  ::Tovri::L10n::RequestLocalizer localizer_;
  std::list<::Tovri::BaseMessage> messages_;
  bool ok_ = false;
};

const CompoundValue& AsCompound(const ValuePtr& value) { return dynamic_cast<const CompoundValue&>(*value); }
const ListValue& AsList(const ValuePtr& value) { return dynamic_cast<const ListValue&>(*value); }

TEST_F(NativeToValue, AllKindsGivesTheDeclaredShapes) {
  const ValuePtr value = Convert(MakeAllKinds());
  ASSERT_TRUE(ok_);
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(Equal(*value, *AllKindsValue()));
}

TEST_F(NativeToValue, UnsetOptionalsAreUnsetOptionalValuesAndEveryFieldIsPresent) {
  AllKinds all;
  all.endpoint = MakeEndpoint("h", 1);
  all.provider = std::make_shared<ProviderInfo>();
  all.note = std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>();
  const ValuePtr value = Convert(all);
  ASSERT_TRUE(ok_);
  const auto& fields = AsCompound(value).GetFields();
  EXPECT_EQ(fields.size(), 25u);
  for (const char* name : {"comment", "limit", "enabled", "digest", "password", "tint", "backup", "aliases",
                           "labels", "spare_pcrs"}) {
    EXPECT_TRUE(fields.count(name) && Equal(*fields.at(name), *Unset())) << name;
  }
  // Empty containers keep their kind; a default enumeration is "_UNKNOWN".
  EXPECT_TRUE(Equal(*fields.at("tags"), *List(1, {})));
  EXPECT_TRUE(Equal(*fields.at("names"), *List(2, {})));
  EXPECT_TRUE(Equal(*fields.at("pcrs"), *List(3, {})));
  EXPECT_TRUE(Equal(*fields.at("color"), *Str("_UNKNOWN")));
  // Unset optionals and enumeration constants are shared, immutable values:
  // a second conversion hands out the same ones.
  const ValuePtr again = Convert(all);
  EXPECT_EQ(fields.at("comment"), ::Tovri::Data::OptionalValue::Unset());
  EXPECT_EQ(fields.at("color"), AsCompound(again).GetFields().at("color"));
  // A union's unset case is an unset optional; its default tag "_UNKNOWN".
  EXPECT_TRUE(Equal(
      *fields.at("provider"),
      *Struct("com.corvane.test.provider_info",
              {{"type", Str("_UNKNOWN")}, {"native_info", Unset()}, {"trust_authority_url", Unset()}})));
}

TEST_F(NativeToValue, MethodInputsAreOperationInputs) {
  GadgetsSvc::DeleteMethod::Input remove;
  remove.gadget = "g";
  EXPECT_TRUE(Equal(*Convert(remove), *Struct("operation-input", {{"gadget", Str("g")}})));

  RoutesSvc::ListMethod::Input list;
  EXPECT_TRUE(Equal(*Convert(list), *Struct("operation-input", {{"filter", Unset()}})));

  // Operations without parameters take the framework's empty input.
  EXPECT_TRUE(Equal(*Convert(GadgetsSvc::ListMethod::Input()), *Struct("operation-input", {})));
}

TEST_F(NativeToValue, LocalizableMessageHasTheShapeOfErrorMessages) {
  const ::Tovri::BaseMessage base("some.id", "Some {1} text", {"arg"});
  const ::Com::Corvane::Tovri::Std::LocalizableMessage message(base);
  const auto error = ::Tovri::Data::ErrorValue::Create("x", std::list<::Tovri::BaseMessage>{base});
  const ValuePtr expected = AsList(error->FindField("messages")).GetElements().front();
  EXPECT_TRUE(Equal(*Convert(message), *expected));
}

TEST_F(NativeToValue, StandardErrorIsNamedByItsIdWithMessages) {
  ::Com::Corvane::Tovri::Std::Errors::NotFound error;
  error.messages.push_back(std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>());
  const ValuePtr value = Convert(error);
  ASSERT_TRUE(ok_);
  EXPECT_EQ(AsCompound(value).GetName(), "com.corvane.tovri.std.errors.not_found");
  EXPECT_EQ(AsList(AsCompound(value).GetFields().at("messages")).GetElements().size(), 1u);
}

// A null required structure reference fails, naming the structure, and stops.
TEST_F(NativeToValue, NullRequiredStructureFailsNamingTheStructure) {
  Convert(GadgetsSvc::CreateMethod::Input());
  EXPECT_FALSE(ok_);
  ASSERT_EQ(Ids(messages_), std::vector<std::string>{::Tovri::MessageIds::kUnsetNonOptional});
  EXPECT_EQ(messages_.front().args, std::list<std::string>{"com.corvane.test.gadgets.create_spec"});

  messages_.clear();
  Convert(std::list<std::shared_ptr<const Endpoint>>{MakeEndpoint("m1", 1), nullptr});
  EXPECT_FALSE(ok_);
  EXPECT_EQ(Ids(messages_), std::vector<std::string>{::Tovri::MessageIds::kUnsetNonOptional});
}

TEST_F(NativeToValue, SeveralNullReferencesReportOnlyTheOneReachedFirst) {
  AllKinds all = MakeAllKinds();
  all.endpoint = nullptr;
  all.provider = nullptr;  // declared later, so converted first
  const ValuePtr value = Convert(all);
  EXPECT_FALSE(ok_);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_.front().args, std::list<std::string>{"com.corvane.test.provider_info"});
  // Stopped: fields queued before "provider" (such as "text") were never filled.
  EXPECT_EQ(AsCompound(value).GetFields().at("text"), nullptr);
}

}  // namespace
}  // namespace Test
}  // namespace Dral
