// What tests in several directories share: a runner that proves work needs no
// deep native stack, and a recorder of what an AsyncResult<T> delivers.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <dral/client/async_result.hpp>

namespace Dral {
namespace TestSupport {

// Runs `work` on a new thread with a stack of `bytes` and waits for it:
// recursion per level of data would overflow a small one.
inline void RunOnStack(std::size_t bytes, const std::function<void()>& work) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
}

// Every delivery an AsyncResult<T> received.
template <class T>
struct Outcomes {
  struct Entry {
    boost::optional<T> value;
    std::shared_ptr<const ::Tovri::Data::ErrorValue> error;
    ::Tovri::Progress progress;
  };
  std::vector<Entry> entries;

  ::Tovri::AsyncResult<T, ::Tovri::AsyncResultTerminateCbPolicy> Result() {
    return [this](const boost::optional<T>& v, const std::shared_ptr<const ::Tovri::Data::ErrorValue>& e,
                  const ::Tovri::Progress& p) {
      entries.push_back(Entry{v, e, p});
    };
  }
  const Entry& Only() const {
    EXPECT_EQ(entries.size(), 1u);
    return entries.front();
  }
};

}  // namespace TestSupport
}  // namespace Dral
