// Both conversion directions together: the "all kinds" fixture, undeclared
// fields, standard structures, and deep or wide data on a small stack.
#include <pthread.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "runtime/all_kinds_fixture.hpp"

namespace Dral {
namespace TestTypes {
namespace {

using ::Tovri::BaseMessage;
using ::Tovri::Data::Equal;
using ::Tovri::Data::NativeToValueAdapter;
using ::Tovri::Data::StructValue;
using ::Tovri::Data::ValuePtr;
using ::Tovri::Data::ValueToNativeAdapter;
using namespace ::Dral::TestValues;

template <class T>
ValuePtr ToValue(const T& native, std::list<BaseMessage>& messages) {
  const ::Tovri::L10n::RequestLocalizer localizer;
  ValuePtr out;
  NativeToValueAdapter::Adapt(native, out, messages, localizer);
  return out;
}

TEST(ConversionRoundTrip, AllKindsSurvivesBothDirections) {
  std::list<BaseMessage> messages;
  const ValuePtr value = ToValue(MakeAllKinds(), messages);
  AllKinds back;
  ASSERT_TRUE(ValueToNativeAdapter::Adapt(value, back, messages));
  ExpectAllKinds(back);
  EXPECT_TRUE(Equal(*ToValue(back, messages), *AllKindsValue()));
  EXPECT_TRUE(messages.empty());
}

TEST(ConversionRoundTrip, UndeclaredFieldsTravelBackShared) {
  const ValuePtr extra = List({Str("deep")});
  auto value = std::dynamic_pointer_cast<const StructValue>(AllKindsValue());
  auto withExtra = StructValue::GetInstance(value->GetName());
  for (const auto& field : value->GetFields()) withExtra->SetField(field.first, field.second);
  withExtra->SetField("added_later", extra);
  withExtra->SetField("aaa_first", Int(1));

  std::list<BaseMessage> messages;
  AllKinds native;
  ASSERT_TRUE(ValueToNativeAdapter::Adapt(withExtra, native, messages));
  ASSERT_NE(native.unknownFields, nullptr);
  EXPECT_EQ(native.unknownFields->GetFields().size(), 2u);

  const AllKinds copy = native;  // the holder is shared by copies
  EXPECT_EQ(copy.unknownFields, native.unknownFields);
  const ValuePtr back = ToValue(copy, messages);
  EXPECT_TRUE(Equal(*back, *withExtra));
  EXPECT_EQ(std::dynamic_pointer_cast<const StructValue>(back)->FindField("added_later"), extra);
}

TEST(ConversionRoundTrip, UnrecognisedEnumerationTextComesBackUnchanged) {
  std::list<BaseMessage> messages;
  ProviderInfo info;
  ASSERT_TRUE(ValueToNativeAdapter::Adapt(Struct("p", {{"type", Str("FUTURE_KIND")}}), info, messages));
  const ValuePtr back = ToValue(info, messages);
  EXPECT_TRUE(
      Equal(*std::dynamic_pointer_cast<const StructValue>(back)->FindField("type"), *Str("FUTURE_KIND")));
}

TEST(ConversionRoundTrip, StandardErrorsAndMessages) {
  ::Com::Corvane::Tovri::Std::Errors::Unsupported error;
  auto message = std::make_shared<::Com::Corvane::Tovri::Std::LocalizableMessage>(
      BaseMessage("some.id", "Text {1}", {"x"}));
  message->localized = std::string("Texte x");
  error.messages = {message, message};

  std::list<BaseMessage> messages;
  const ValuePtr value = ToValue(error, messages);
  ::Com::Corvane::Tovri::Std::Errors::Unsupported back;
  ASSERT_TRUE(ValueToNativeAdapter::Adapt(value, back, messages));
  ASSERT_EQ(back.messages.size(), 2u);
  EXPECT_EQ(*back.messages.front(), *message);
  EXPECT_EQ(*back.messages.back(), *message);
}

// --- Depth and width on a 64 KiB stack ------------------------------------------

constexpr int kDepth = 10000;
constexpr int kWidth = 100000;

// Runs `body` on a new thread with a 64 KiB stack and waits for it.
void RunOnSmallStack(const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// Releases a chain link by link; letting the head go would free it
// recursively, one frame per node. The nodes were built non-const.
void Unchain(::Tovri::OptionalPtr<const Node>& head) {
  while (head) {
    ::Tovri::OptionalPtr<const Node> next = std::move(const_cast<Node&>(*head).next);
    head = std::move(next);
  }
}

TEST(ConversionOnSmallStack, DeepChainConvertsBothWays) {
  bool toValue = false;
  bool toNative = false;
  bool sameValue = false;
  int depth = 0;
  bool namesInOrder = true;
  RunOnSmallStack([&] {
    ::Tovri::OptionalPtr<const Node> head;
    for (int i = kDepth - 1; i >= 0; --i) {
      auto node = ::Tovri::MakeOptionalPtr<Node>();
      node->name = std::to_string(i);
      node->next = std::move(head);
      head = std::move(node);
    }
    std::list<BaseMessage> messages;
    const ::Tovri::L10n::RequestLocalizer localizer;
    ValuePtr value;
    toValue = NativeToValueAdapter::Adapt(*head, value, messages, localizer);

    auto back = ::Tovri::MakeOptionalPtr<Node>();
    toNative = ValueToNativeAdapter::Adapt(value, const_cast<Node&>(*back), messages);
    for (const Node* node = back.get(); node != nullptr; node = node->next.get()) {
      namesInOrder = namesInOrder && node->name == std::to_string(depth);
      ++depth;
    }
    ValuePtr again;
    NativeToValueAdapter::Adapt(*back, again, messages, localizer);
    sameValue = Equal(*value, *again);

    ::Tovri::OptionalPtr<const Node> backHead = std::move(back);
    Unchain(backHead);
    Unchain(head);
  });
  EXPECT_TRUE(toValue);
  EXPECT_TRUE(toNative);
  EXPECT_EQ(depth, kDepth);
  EXPECT_TRUE(namesInOrder);
  EXPECT_TRUE(sameValue);
}

TEST(ConversionOnSmallStack, WideListConvertsBothWays) {
  bool toValue = false;
  bool toNative = false;
  std::size_t width = 0;
  bool namesInOrder = true;
  RunOnSmallStack([&] {
    Node root;
    for (int i = 0; i < kWidth; ++i) {
      auto child = std::make_shared<Node>();
      child->name = std::to_string(i);
      root.children.push_back(std::move(child));
    }
    std::list<BaseMessage> messages;
    const ::Tovri::L10n::RequestLocalizer localizer;
    ValuePtr value;
    toValue = NativeToValueAdapter::Adapt(root, value, messages, localizer);
    Node back;
    toNative = ValueToNativeAdapter::Adapt(value, back, messages);
    width = back.children.size();
    int i = 0;
    for (const auto& child : back.children) namesInOrder = namesInOrder && child->name == std::to_string(i++);
  });
  EXPECT_TRUE(toValue);
  EXPECT_TRUE(toNative);
  EXPECT_EQ(width, static_cast<std::size_t>(kWidth));
  EXPECT_TRUE(namesInOrder);
}

}  // namespace
}  // namespace TestTypes
}  // namespace Dral
