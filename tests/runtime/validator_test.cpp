#include <dral/runtime/validator.hpp>

#include <list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tovri/core/message_ids.hpp>

#include <dral/test/gadgets.hpp>
#include <dral/test/routes.hpp>

#include "runtime/fixtures.hpp"

namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::Validator::ALLOW_EXTRA_FIELDS;
using ::Tovri::Data::Validator::isValid;
using ::Tovri::Data::Validator::Policy;
using ::Tovri::Data::Validator::REJECT_EXTRA_FIELDS;
namespace T = ::Dral::Test;

BaseMessage Extra(const char* type, const std::string& field) {
  return ::Tovri::Message<::Tovri::CoreTag>(::Tovri::MessageIds::kFieldExtra, type, field, "");
}
BaseMessage ExtraOnEndpoint(const std::string& field) { return Extra("::Dral::Test::Endpoint", field); }
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

  T::GadgetsSvc::DeleteMethod::Input input;
  input.unknownFields = Holder({});
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{InvalidInput("::Dral::Test::GadgetsSvc::Delete")}));
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
            (std::list<BaseMessage>{Extra("::Dral::Test::Route", "r")}));
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
    auto shared = std::make_shared<T::ProviderInfo>();
    T::ProviderInfo& info = *shared;
    info.type = c.type;
    if (c.native) info.nativeInfo = ::Tovri::MakeOptionalPtr<const T::NativeDetails>();
    if (c.url) info.trustAuthorityUrl = std::string("https://ta");
    EXPECT_EQ(Validated(info, REJECT_EXTRA_FIELDS, c.expected.empty()), c.expected)
        << c.type.ToString() << " native=" << c.native << " url=" << c.url;
    // A required union member is checked through its owner.
    T::AllKinds all = T::MakeAllKinds();
    all.provider = shared;
    EXPECT_EQ(Validated(all, REJECT_EXTRA_FIELDS, c.expected.empty()), c.expected) << c.type.ToString();
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

std::shared_ptr<const T::GadgetsSvc::CreateSpec> MakeSpec(std::initializer_list<const char*> extra = {},
                                                          bool withAddress = true) {
  auto spec = std::make_shared<T::GadgetsSvc::CreateSpec>();
  if (withAddress) spec->address = std::make_shared<T::GadgetsSvc::Endpoint>();
  if (extra.size() != 0) spec->unknownFields = Holder(extra);
  return spec;
}

TEST(ValidationInputs, RequiredParameter) {
  const char* const op = "::Dral::Test::GadgetsSvc::Create";
  T::GadgetsSvc::CreateMethod::Input input;
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), (std::list<BaseMessage>{InvalidInput(op)}));

  input.spec = MakeSpec();
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());

  // Nested messages first, the input's last; parameters always reject.
  input.spec = MakeSpec({"x"});
  const std::list<BaseMessage> nested{Extra("::Dral::Test::GadgetsSvc::CreateSpec", "x"), InvalidInput(op)};
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), nested);
  EXPECT_EQ(Validated(input, ALLOW_EXTRA_FIELDS, false), nested);

  // The input's own undeclared fields end its check before the parameter.
  input.unknownFields = Holder({"y"});
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{Extra("::Dral::Test::GadgetsSvc::CreateMethod::Input", "y"),
                                    InvalidInput(op)}));
  EXPECT_EQ(Validated(input, ALLOW_EXTRA_FIELDS, false), nested);

  // A required structure inside the parameter left null.
  input.unknownFields = nullptr;
  input.spec = MakeSpec({}, false);
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), (std::list<BaseMessage>{InvalidInput(op)}));
}

TEST(ValidationInputs, OptionalParameter) {
  const char* const op = "::Dral::Test::RoutesSvc::List";
  T::RoutesSvc::ListMethod::Input input;
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());
  input.filter = ::Tovri::OptionalPtr<const T::Route>(MakeRoute(MakeEndpoint(), MakeEndpoint()));
  EXPECT_TRUE(Validated(input, REJECT_EXTRA_FIELDS, true).empty());
  input.filter = ::Tovri::OptionalPtr<const T::Route>(MakeRoute(MakeEndpoint({"x"}), MakeEndpoint()));
  EXPECT_EQ(Validated(input, ALLOW_EXTRA_FIELDS, false),
            (std::list<BaseMessage>{ExtraOnEndpoint("x"), InvalidInput(op)}));
  input.filter = ::Tovri::OptionalPtr<const T::Route>(MakeRoute(MakeEndpoint(), nullptr));
  EXPECT_EQ(Validated(input, REJECT_EXTRA_FIELDS, false), (std::list<BaseMessage>{InvalidInput(op)}));
}

// --- Native stack use ---------------------------------------------------------------

TEST(ValidationStackUse, LongChainValidatesOnA64KiBStack) {
  constexpr int kLength = 20000;
  std::vector<std::shared_ptr<T::Link>> links(kLength);
  for (int i = kLength - 1; i >= 0; --i) {
    links[i] = std::make_shared<T::Link>();
    if (i + 1 < kLength) links[i]->next = links[i + 1];
  }
  links.back()->unknownFields = Holder({"deep"});
  std::list<BaseMessage> messages;
  bool valid = true;
  ::Dral::TestValues::RunOnSmallStack(
      [&] { valid = isValid(*links.front(), REJECT_EXTRA_FIELDS, messages); });
  EXPECT_FALSE(valid);
  EXPECT_EQ(messages, (std::list<BaseMessage>{Extra("::Dral::Test::Link", "deep")}));
  // Unlink front to back so that no destructor recurses down the chain.
  for (auto& link : links) link->next.reset();
}

}  // namespace
