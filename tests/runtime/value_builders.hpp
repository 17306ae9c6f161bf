// Terse helpers for the runtime tests: builders of dynamic values, and a
// runner that proves work needs no deep native stack.
#pragma once

#include <pthread.h>

#include <functional>
#include <initializer_list>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/message.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/value.hpp>

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

// Runs `work` on a thread with a 64 KiB stack and waits for it: recursion
// per level of data would overflow it.
inline void RunOnSmallStack(const std::function<void()>& work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
}

}  // namespace TestValues
}  // namespace Dral
