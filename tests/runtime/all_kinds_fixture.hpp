// The "all kinds" fixture: one native object with a member of every kind,
// and the value it converts to, built independently of the adapters.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "runtime/test_types.hpp"
#include "runtime/value_builders.hpp"

namespace Dral {
namespace TestTypes {

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
  all.backup = ::Tovri::MakeOptionalPtr<const Endpoint>(*MakeEndpoint("b.example", 8443));
  all.comment = std::string("note");
  all.limit = 7LL;
  all.enabled = false;
  all.digest = std::vector<unsigned char>{0xde, 0xad};
  all.tint = Color(Color::BLUE);
  all.aliases = std::list<std::string>{"x", "y"};
  all.mirrors = {MakeEndpoint("m1", 1), MakeEndpoint("m2", 2)};
  all.tags = {"t2", "t1"};
  all.names = {"b", "a"};
  all.numbers = {3, 1, 2};
  all.colors = {Color(Color::BLUE), Color(Color::RED), Color(std::string("PURPLE"))};
  auto bank = std::make_shared<PcrBank>();
  bank->algorithm = "sha256";
  bank->pcrs = {{7, {0xbb}}, {0, {0xaa}}};
  all.bank = bank;
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
       {"backup", Opt(EndpointValue("b.example", 8443))},
       {"comment", Opt(Str("note"))},
       {"limit", Opt(Int(7))},
       {"enabled", Opt(Bool(false))},
       {"digest", Opt(Blob({0xde, 0xad}))},
       {"tint", Opt(Str("BLUE"))},
       {"aliases", Opt(List({Str("x"), Str("y")}))},
       {"mirrors", List({EndpointValue("m1", 1), EndpointValue("m2", 2)})},
       {"tags", List({Str("t2"), Str("t1")})},
       {"names", List(2, {Str("a"), Str("b")})},
       {"numbers", List(2, {Int(1), Int(2), Int(3)})},
       {"colors", List(2, {Str("RED"), Str("BLUE"), Str("PURPLE")})},
       {"bank", Struct("com.corvane.test.pcr_bank", {{"algorithm", Str("sha256")},
                                                     {"pcrs", List(3, {MapEntry(Int(0), Blob({0xaa})),
                                                                       MapEntry(Int(7), Blob({0xbb}))})}})},
       {"provider",
        Struct("com.corvane.test.provider_info",
               {{"type", Str("NATIVE")},
                {"native_info", Opt(Struct("com.corvane.test.native_details", {{"key_store", Str("ks")}}))},
                {"trust_authority_url", Unset()}})},
       {"note", Struct("com.corvane.tovri.std.localizable_message", {{"id", Str("m.id")},
                                                                     {"default_message", Str("text")},
                                                                     {"args", List({Str("a1")})},
                                                                     {"localized", Unset()}})}});
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

}  // namespace TestTypes
}  // namespace Dral
