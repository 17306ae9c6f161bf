// Both conversion directions together: undeclared fields, standard
// structures, and deep or wide data on a small stack.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/optional/optional_io.hpp>

#include "runtime/fixtures.hpp"

namespace Dral {
namespace Test {
namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::Equal;
using ::Tovri::Data::NativeToValueAdapter;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;
using namespace ::Dral::TestValues;

template <class T>
ValuePtr ToValue(const T& native) {
  ValuePtr out;
  std::list<BaseMessage> messages;
  EXPECT_TRUE(NativeToValueAdapter::Adapt(native, out, messages, ::Tovri::L10n::RequestLocalizer()));
  return out;
}

template <class T>
T ToNative(const ValuePtr& value) {
  T out;
  std::list<BaseMessage> messages;
  EXPECT_TRUE(ValueToNativeAdapter::Adapt(value, out, messages));
  return out;
}

TEST(ConversionRoundTrip, AllKindsSurvivesBothDirections) {
  ExpectAllKinds(ToNative<AllKinds>(ToValue(MakeAllKinds())));

  // Zero and empty contents are set optionals, not unset ones.
  AllKinds edges = MakeAllKinds();
  edges.limit = 0LL;
  edges.digest = std::vector<unsigned char>{};
  const AllKinds back = ToNative<AllKinds>(ToValue(edges));
  EXPECT_EQ(back.limit, boost::optional<long long>(0));
  ASSERT_TRUE(back.digest);
  EXPECT_TRUE(back.digest->empty());
}

TEST(ConversionRoundTrip, UndeclaredFieldsTravelBackShared) {
  const ValuePtr extra = List({Str("deep")});
  auto value = std::dynamic_pointer_cast<const StructValue>(AllKindsValue());
  auto withExtra = StructValue::GetInstance(value->GetName());
  for (const auto& field : value->GetFields()) withExtra->SetField(field.first, field.second);
  withExtra->SetField("added_later", extra);
  withExtra->SetField("aaa_first", Int(1));

  const AllKinds native = ToNative<AllKinds>(withExtra);
  ASSERT_NE(native.unknownFields, nullptr);
  EXPECT_EQ(native.unknownFields->GetFields().size(), 2u);
  const AllKinds copy = native;  // the holder is shared by copies
  EXPECT_EQ(copy.unknownFields, native.unknownFields);
  const ValuePtr back = ToValue(copy);
  EXPECT_TRUE(Equal(*back, *withExtra));
  EXPECT_EQ(std::dynamic_pointer_cast<const StructValue>(back)->FindField("added_later"), extra);
}

TEST(ConversionRoundTrip, StandardErrorsAndMessages) {
  ::Com::Corvane::Tovri::Std::Errors::Unsupported error;
  auto message = std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>(
      BaseMessage("some.id", "Text {1}", {"x"}));
  message->localized = std::string("Texte x");
  error.messages = {message, message};
  const auto back = ToNative<::Com::Corvane::Tovri::Std::Errors::Unsupported>(ToValue(error));
  ASSERT_EQ(back.messages.size(), 2u);
  EXPECT_EQ(*back.messages.front(), *message);
  EXPECT_EQ(*back.messages.back(), *message);
}

// Releases a chain link by link; letting the head go would free it
// recursively, one frame per node. The nodes were built non-const.
void Unchain(::Tovri::OptionalPtr<const Node> head) {
  while (head) head = std::move(const_cast<Node&>(*head).next);
}

TEST(ConversionOnSmallStack, DeepChainConvertsBothWays) {
  constexpr int kDepth = 10000;
  int depth = 0;
  bool namesInOrder = true;
  bool sameValue = false;
  RunOnSmallStack([&] {
    ::Tovri::OptionalPtr<const Node> head;
    for (int i = kDepth - 1; i >= 0; --i) {
      auto node = ::Tovri::MakeOptionalPtr<Node>();
      node->name = std::to_string(i);
      node->next = std::move(head);
      head = std::move(node);
    }
    const ValuePtr value = ToValue(*head);
    auto back = ::Tovri::MakeOptionalPtr<Node>();
    std::list<BaseMessage> messages;
    EXPECT_TRUE(ValueToNativeAdapter::Adapt(value, const_cast<Node&>(*back), messages));
    for (const Node* node = back.get(); node != nullptr; node = node->next.get(), ++depth) {
      namesInOrder = namesInOrder && node->name == std::to_string(depth);
    }
    sameValue = Equal(*value, *ToValue(*back));
    Unchain(std::move(back));
    Unchain(std::move(head));
  });
  EXPECT_EQ(depth, kDepth);
  EXPECT_TRUE(namesInOrder);
  EXPECT_TRUE(sameValue);
}

TEST(ConversionOnSmallStack, WideListConvertsBothWays) {
  constexpr int kWidth = 100000;
  std::size_t width = 0;
  bool namesInOrder = true;
  RunOnSmallStack([&] {
    Node root;
    for (int i = 0; i < kWidth; ++i) {
      auto child = std::make_shared<Node>();
      child->name = std::to_string(i);
      root.children.push_back(std::move(child));
    }
    const Node back = ToNative<Node>(ToValue(root));
    width = back.children.size();
    int i = 0;
    for (const auto& child : back.children) namesInOrder = namesInOrder && child->name == std::to_string(i++);
  });
  EXPECT_EQ(width, static_cast<std::size_t>(kWidth));
  EXPECT_TRUE(namesInOrder);
}

}  // namespace
}  // namespace Test
}  // namespace Dral
