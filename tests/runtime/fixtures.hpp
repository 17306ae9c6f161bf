// What the runtime tests share: builders of dynamic values, a runner that
// proves work needs no deep native stack, and the "all kinds" sample (one
// object of the generated AllKinds, with a member of every kind, and the
// value it converts to, built independently of the adapters).
#pragma once

#include <functional>
#include <initializer_list>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <dral/test/fixtures.hpp>

#include "support/test_support.hpp"

namespace Dral {
namespace TestValues {

using ::Tovri::Data::ValuePtr;

inline ValuePtr Str(const std::string& text) { return ::Tovri::Data::StringValue::GetInstance(text); }
inline ValuePtr Int(long long number) { return ::Tovri::Data::IntegerValue::GetInstance(number); }
inline ValuePtr Bool(bool flag) { return ::Tovri::Data::BooleanValue::GetInstance(flag); }
inline ValuePtr Blob(std::vector<unsigned char> bytes) {
  return ::Tovri::Data::BlobValue::GetInstance(std::move(bytes));
}
inline ValuePtr Secret(const std::string& text) {
  return ::Tovri::Data::SecretValue::GetInstance(::Tovri::SecretString(text));
}
inline ValuePtr Unset() { return ::Tovri::Data::OptionalValue::GetInstance(); }
inline ValuePtr Opt(ValuePtr content) {
  return ::Tovri::Data::OptionalValue::GetInstance(std::move(content));
}

inline ValuePtr List(int kind, std::initializer_list<ValuePtr> elements) {
  auto list = ::Tovri::Data::ListValue::GetInstance(kind);
  for (const ValuePtr& element : elements) list->Append(element);
  return list;
}
inline ValuePtr List(std::initializer_list<ValuePtr> elements) { return List(1, elements); }

inline std::shared_ptr<::Tovri::Data::StructValue> Struct(
    const std::string& name, std::initializer_list<std::pair<const char*, ValuePtr>> fields) {
  auto structure = ::Tovri::Data::StructValue::GetInstance(name);
  for (const auto& field : fields) structure->SetField(field.first, field.second);
  return structure;
}

inline ValuePtr MapEntry(ValuePtr key, ValuePtr value) {
  return Struct("map-entry", {{"key", std::move(key)}, {"value", std::move(value)}});
}

// The ids of `messages`, in order.
inline std::vector<std::string> Ids(const std::list<::Tovri::BaseMessage>& messages) {
  std::vector<std::string> ids;
  for (const auto& message : messages) ids.push_back(message.id);
  return ids;
}

// Runs `work` on a thread with a 64 KiB stack and waits for it.
inline void RunOnSmallStack(const std::function<void()>& work) { TestSupport::RunOnStack(64 * 1024, work); }

}  // namespace TestValues

namespace Test {

inline std::shared_ptr<const Endpoint> MakeEndpoint(const std::string& host, long long port) {
  auto endpoint = std::make_shared<Endpoint>();
  endpoint->host = host;
  endpoint->port = port;
  return endpoint;
}

inline AllKinds MakeAllKinds() {
  AllKinds all;
  all.text = "hello";
  all.number = -42;
  all.flag = true;
  all.blob = {1, 2, 3};
  all.secret = ::Tovri::SecretString("s3cr3t");
  all.color = Color::GREEN;
  all.endpoint = MakeEndpoint("a.example", 443);
  all.mirrors = {MakeEndpoint("m1", 1), MakeEndpoint("m2", 2)};
  all.tags = {"t2", "t1"};
  all.names = {"b", "a"};
  all.numbers = {3, 1, 2};
  all.colors = {Color(Color::BLUE), Color(Color::RED), Color(std::string("PURPLE"))};
  all.pcrs = {{7, {0xbb}}, {0, {0xaa}}};
  auto provider = std::make_shared<ProviderInfo>();
  provider->type = ProviderType::NATIVE;
  auto details = std::make_shared<NativeDetails>();
  details->keyStore = "ks";
  provider->nativeInfo =
      ::Tovri::OptionalPtr<const NativeDetails>(std::shared_ptr<const NativeDetails>(details));
  all.provider = provider;
  auto note = std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>();
  note->id = "m.id";
  note->defaultMessage = "text";
  note->args = {"a1"};
  all.note = note;
  all.comment = std::string("note");
  all.limit = 7LL;
  all.enabled = false;
  all.digest = std::vector<unsigned char>{0xde, 0xad};
  all.password = ::Tovri::SecretString("pw");
  all.tint = Color(Color::BLUE);
  all.backup = ::Tovri::MakeOptionalPtr<const Endpoint>(*MakeEndpoint("b.example", 8443));
  all.aliases = std::list<std::string>{"x", "y"};
  all.labels = std::set<std::string>{"l2", "l1"};
  all.sparePcrs = std::map<long long, std::vector<unsigned char>>{{1, {0x01}}};
  return all;
}

inline ::Tovri::Data::ValuePtr EndpointValue(const std::string& host, long long port) {
  using namespace ::Dral::TestValues;
  return Struct("com.corvane.test.endpoint", {{"host", Str(host)}, {"port", Int(port)}});
}

// The value MakeAllKinds() converts to.
inline ::Tovri::Data::ValuePtr AllKindsValue() {
  using namespace ::Dral::TestValues;
  return Struct(
      "com.corvane.test.all_kinds",
      {{"text", Str("hello")},
       {"number", Int(-42)},
       {"flag", Bool(true)},
       {"blob", Blob({1, 2, 3})},
       {"secret", Secret("s3cr3t")},
       {"color", Str("GREEN")},
       {"endpoint", EndpointValue("a.example", 443)},
       {"mirrors", List({EndpointValue("m1", 1), EndpointValue("m2", 2)})},
       {"tags", List({Str("t2"), Str("t1")})},
       {"names", List(2, {Str("a"), Str("b")})},
       {"numbers", List(2, {Int(1), Int(2), Int(3)})},
       {"colors", List(2, {Str("RED"), Str("BLUE"), Str("PURPLE")})},
       {"pcrs", List(3, {MapEntry(Int(0), Blob({0xaa})), MapEntry(Int(7), Blob({0xbb}))})},
       {"provider",
        Struct("com.corvane.test.provider_info",
               {{"type", Str("NATIVE")},
                {"native_info", Opt(Struct("com.corvane.test.native_details", {{"key_store", Str("ks")}}))},
                {"trust_authority_url", Unset()}})},
       {"note", Struct("com.corvane.tovri.std.localizable_message", {{"id", Str("m.id")},
                                                                     {"default_message", Str("text")},
                                                                     {"args", List({Str("a1")})},
                                                                     {"localized", Unset()}})},
       {"comment", Opt(Str("note"))},
       {"limit", Opt(Int(7))},
       {"enabled", Opt(Bool(false))},
       {"digest", Opt(Blob({0xde, 0xad}))},
       {"password", Opt(Secret("pw"))},
       {"tint", Opt(Str("BLUE"))},
       {"backup", Opt(EndpointValue("b.example", 8443))},
       {"aliases", Opt(List({Str("x"), Str("y")}))},
       {"labels", Opt(List(2, {Str("l1"), Str("l2")}))},
       {"spare_pcrs", Opt(List(3, {MapEntry(Int(1), Blob({0x01}))}))}});
}

inline void ExpectSameEndpoint(const std::shared_ptr<const Endpoint>& actual, const std::string& host,
                               long long port) {
  ASSERT_NE(actual, nullptr);
  EXPECT_EQ(actual->host, host);
  EXPECT_EQ(actual->port, port);
}

// Equality with MakeAllKinds(), checked through the writer, which the
// native-to-value tests hold to AllKindsValue() independently.
inline void ExpectAllKinds(const AllKinds& all) {
  ::Tovri::Data::ValuePtr value;
  std::list<::Tovri::BaseMessage> messages;
  ASSERT_TRUE(
      ::Tovri::Data::NativeToValueAdapter::Adapt(all, value, messages, ::Tovri::L10n::RequestLocalizer()));
  EXPECT_TRUE(::Tovri::Data::Equal(*value, *AllKindsValue()));
}

}  // namespace Test
}  // namespace Dral
