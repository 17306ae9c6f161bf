#include <dral/runtime/validator.hpp>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tovri/core/message_ids.hpp>

#include "runtime/test_types.hpp"
#include "runtime/test_types_validation.hpp"
#include "runtime/value_builders.hpp"

namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::Validator::ALLOW_EXTRA_FIELDS;
using ::Tovri::Data::Validator::isValid;
using ::Tovri::Data::Validator::Policy;
using ::Tovri::Data::Validator::REJECT_EXTRA_FIELDS;
namespace T = ::Dral::TestTypes;

BaseMessage Extra(const char* type, const std::string& field) {
  return ::Tovri::Message<::Tovri::CoreTag>(::Tovri::MessageIds::kFieldExtra, type, field, "");
}
BaseMessage ExtraOnEndpoint(const std::string& field) { return Extra("::Dral::TestTypes::Endpoint", field); }
BaseMessage InvalidInput(const char* operation) {
  return ::Tovri::Message<::Tovri::CoreTag>(::Tovri::MessageIds::kInvalidInput, operation);
}
BaseMessage CaseState(::Tovri::MessageId id, const char* caseName) {
  return ::Tovri::Message<::Tovri::CoreTag>(id, "com.corvane.test.provider_info", caseName);
}
constexpr ::Tovri::MessageId kIsSet = ::Tovri::MessageIds::kUnionCaseSetShort;
constexpr ::Tovri::MessageId kIsNotSet = ::Tovri::MessageIds::kUnionCaseNotSetShort;

std::shared_ptr<::Tovri::Data::StructValue> Holder(std::initializer_list<const char*> names) {
  auto holder = ::Tovri::Data::StructValue::GetInstance("unknownFields");
  for (const char* name : names) holder->SetField(name, ::Dral::TestValues::Str("x"));
  return holder;
}

std::shared_ptr<const T::Endpoint> MakeEndpoint(std::initializer_list<const char*> extra = {}) {
  auto endpoint = std::make_shared<T::Endpoint>();
  endpoint->host = "h";
  if (extra.size() != 0) endpoint->unknownFields = Holder(extra);
  return endpoint;
}

std::shared_ptr<const T::Route> MakeRoute(std::shared_ptr<const T::Endpoint> from,
                                          std::shared_ptr<const T::Endpoint> to) {
  auto route = std::make_shared<T::Route>();
  route->from = std::move(from);
  route->to = std::move(to);
  return route;
}

template <class X>
std::list<BaseMessage> Validated(const X& value, Policy policy, bool expected) {
  std::list<BaseMessage> messages;
  EXPECT_EQ(isValid(value, policy, messages), expected);
  return messages;
}

// --- Undeclared fields --------------------------------------------------

TEST(ValidationUndeclaredFields, ReportedInNameOrderUnderReject) {
  const auto endpoint = MakeEndpoint({"b", "a"});
  EXPECT_EQ(Validated(*endpoint, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{ExtraOnEndpoint("a"), ExtraOnEndpoint("b")}));
  EXPECT_TRUE(Validated(*endpoint, ALLOW_EXTRA_FIELDS, true).empty());
  EXPECT_TRUE(Validated(*endpoint, static_cast<Policy>(7), true).empty());  // anything but 1 allows
}

TEST(ValidationUndeclaredFields, EmptyHolderStillFails) {
  T::Endpoint endpoint;
  endpoint.unknownFields = Holder({});
  EXPECT_TRUE(Validated(endpoint, REJECT_EXTRA_FIELDS, false).empty());

  T::WidgetsSvc::GetAllMethod::Input input;
  input.unknownFields = Holder({});
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{InvalidInput("::Dral::TestTypes::WidgetsSvc::GetAll")}));
}

TEST(ValidationUndeclaredFields, AppendsAfterExistingMessages) {
  std::list<BaseMessage> messages{BaseMessage("earlier", "text", {})};
  EXPECT_FALSE(isValid(*MakeEndpoint({"z"}), REJECT_EXTRA_FIELDS, messages));
  EXPECT_EQ(messages, (std::list<BaseMessage>{BaseMessage("earlier", "text", {}), ExtraOnEndpoint("z")}));
}

// --- Required structures ------------------------------------------------

TEST(ValidationRequiredStructures, NullFailsSilentlyInDeclarationOrder) {
  EXPECT_TRUE(Validated(*MakeRoute(MakeEndpoint(), MakeEndpoint()), REJECT_EXTRA_FIELDS, true).empty());
  EXPECT_TRUE(Validated(*MakeRoute(nullptr, MakeEndpoint()), REJECT_EXTRA_FIELDS, false).empty());
  EXPECT_TRUE(Validated(*MakeRoute(MakeEndpoint(), nullptr), REJECT_EXTRA_FIELDS, false).empty());
  // `from` is checked first: its messages come, and `to` is never reached.
  EXPECT_EQ(Validated(*MakeRoute(MakeEndpoint({"f"}), MakeEndpoint({"t"})), REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{ExtraOnEndpoint("f")}));
}

TEST(ValidationRequiredStructures, NestedStructuresTakeThePolicy) {
  EXPECT_TRUE(
      Validated(*MakeRoute(MakeEndpoint({"f"}), MakeEndpoint({"t"})), ALLOW_EXTRA_FIELDS, true).empty());
  T::Route route = *MakeRoute(MakeEndpoint(), MakeEndpoint({"t"}));
  route.unknownFields = Holder({"r"});
  EXPECT_EQ(Validated(route, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{Extra("::Dral::TestTypes::Route", "r")}));
}

// --- Unions -------------------------------------------------------------

TEST(ValidationUnions, CaseFieldsAgreeWithTheTag) {
  using P = T::ProviderType;
  const std::list<BaseMessage> ok,
      missingTag{::Tovri::Message<::Tovri::CoreTag>(::Tovri::MessageIds::kUnionMissingTag, "type")};
  const struct {
    P type;
    bool native, url;
    std::list<BaseMessage> expected;
  } cases[] = {
      {P::NATIVE, true, false, ok},
      {P::NATIVE, false, false, {CaseState(kIsNotSet, "nativeInfo")}},
      {P::NATIVE, true, true, {CaseState(kIsSet, "trustAuthorityUrl")}},
      {P::TRUST_AUTHORITY, false, true, ok},
      {P::TRUST_AUTHORITY, true, true, {CaseState(kIsSet, "nativeInfo")}},
      {P::TRUST_AUTHORITY, false, false, {CaseState(kIsNotSet, "trustAuthorityUrl")}},
      {P(), true, false, {CaseState(kIsSet, "nativeInfo")}},
      {P(), false, false, missingTag},
      {P(std::string("NATIVE_V2")), false, false, missingTag},
  };
  for (const auto& c : cases) {
    T::ProviderInfo info;
    info.type = c.type;
    if (c.native) info.nativeInfo = ::Tovri::MakeOptionalPtr<const T::NativeDetails>();
    if (c.url) info.trustAuthorityUrl = std::string("https://ta");
    EXPECT_EQ(Validated(info, REJECT_EXTRA_FIELDS, c.expected.empty()), c.expected)
        << c.type.ToString() << " native=" << c.native << " url=" << c.url;
  }
}

TEST(ValidationUnions, SetCaseContentIsNotValidated) {
  T::ProviderInfo info;
  info.type = T::ProviderType::NATIVE;
  auto details = std::make_shared<T::NativeDetails>();
  details->unknownFields = Holder({"x"});
  info.nativeInfo =
      ::Tovri::OptionalPtr<const T::NativeDetails>(std::shared_ptr<const T::NativeDetails>(details));
  EXPECT_TRUE(Validated(info, REJECT_EXTRA_FIELDS, true).empty());
}

// --- Operation inputs -----------------------------------------------------

TEST(ValidationInputs, RequiredParameter) {
  const char* const op = "::Dral::TestTypes::WidgetsSvc::Create";
  T::WidgetsSvc::CreateMethod::Input input;
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), (std::list<BaseMessage>{InvalidInput(op)}));

  input.spec = MakeEndpoint();
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());

  // Nested messages first, the input's last; parameters always reject.
  input.spec = MakeEndpoint({"x"});
  const std::list<BaseMessage> nested{ExtraOnEndpoint("x"), InvalidInput(op)};
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), nested);
  EXPECT_EQ(Validated(input, ALLOW_EXTRA_FIELDS, false), nested);

  // The input's own undeclared fields end its check before the parameter.
  input.unknownFields = Holder({"y"});
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{Extra("::Dral::TestTypes::WidgetsSvc::CreateMethod::Input", "y"),
                                    InvalidInput(op)}));
  EXPECT_EQ(Validated(input, ALLOW_EXTRA_FIELDS, false), nested);
}

TEST(ValidationInputs, OptionalParameter) {
  T::WidgetsSvc::ListMethod::Input input;
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());
  input.filter = ::Tovri::OptionalPtr<const T::Endpoint>(MakeEndpoint());
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());
  input.filter = ::Tovri::OptionalPtr<const T::Endpoint>(MakeEndpoint({"x"}));
  EXPECT_EQ(
      Validated(input, ALLOW_EXTRA_FIELDS, false),
      (std::list<BaseMessage>{ExtraOnEndpoint("x"), InvalidInput("::Dral::TestTypes::WidgetsSvc::List")}));
}

TEST(ValidationInputs, NestedRequiredStructureInsideParameter) {
  T::RoutesSvc::CreateMethod::Input input;
  input.spec = MakeRoute(nullptr, MakeEndpoint());
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{InvalidInput("::Dral::TestTypes::RoutesSvc::Create")}));

  T::RoutesSvc::ListMethod::Input list;
  list.filter = ::Tovri::OptionalPtr<const T::Route>(MakeRoute(MakeEndpoint(), nullptr));
  EXPECT_EQ(Validated(list, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{InvalidInput("::Dral::TestTypes::RoutesSvc::List")}));
}

// --- Native stack use ---------------------------------------------------------------

// A required self-reference: every finite value ends in a null link.
struct Link : ::Tovri::Data::BaseNative {
  std::shared_ptr<const Link> next;
};

}  // namespace

namespace Tovri {
namespace Data {
namespace Validator {
template <>
struct Rules<Link> {
  static bool Check(const Link& v, Checker& c) {
    return c.CheckUndeclaredFields(v, "::Link") && c.DescendRequired(v.next);
  }
};
}  // namespace Validator
}  // namespace Data
}  // namespace Tovri

namespace {

TEST(ValidationStackUse, LongChainValidatesOnA64KiBStack) {
  constexpr int kLength = 20000;
  std::vector<std::shared_ptr<Link>> links(kLength);
  for (int i = kLength - 1; i >= 0; --i) {
    links[i] = std::make_shared<Link>();
    if (i + 1 < kLength) links[i]->next = links[i + 1];
  }
  links.back()->unknownFields = Holder({"deep"});
  std::list<BaseMessage> messages;
  bool valid = true;
  ::Dral::TestValues::RunOnSmallStack(
      [&] { valid = ::Tovri::Data::Validator::Validate(*links.front(), REJECT_EXTRA_FIELDS, messages); });
  EXPECT_FALSE(valid);
  EXPECT_EQ(messages, (std::list<BaseMessage>{Extra("::Link", "deep")}));
  // Unlink front to back so that no destructor recurses down the chain.
  for (auto& link : links) link->next.reset();
}

}  // namespace
