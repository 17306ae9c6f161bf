// Where value trees get their memory.
//
// A tree of a few hundred nodes used to cost a few hundred trips through
// malloc and as many through free, a third of what building, checking and
// dropping it cost. While a ValueArenaScope is alive on a thread, the values
// made on that thread (nodes, field tables, list slots, field names) are cut
// from the blocks of one arena instead; the arena is given back when the
// scope has ended and the last value cut from it has died, on whichever
// thread that happens. Values stay ordinary shared immutable values: they may
// outlive the scope, cross threads and be shared with values of other
// arenas. The price is that one surviving value keeps its arena's blocks
// (at most a few hundred KiB per scope) alive.
//
// Outside any scope, value memory comes from the heap as before.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace Tovri {
namespace Data {

class ValueArena;

// Makes the values made on this thread, while it lives, share one arena.
// A scope opened inside another one on the same thread adds nothing: the
// outer scope's arena serves both.
class ValueArenaScope {
 public:
  ValueArenaScope();
  ~ValueArenaScope();
  ValueArenaScope(const ValueArenaScope&) = delete;
  ValueArenaScope& operator=(const ValueArenaScope&) = delete;

 private:
  ValueArena* arena_;  // null when an outer scope serves
};

namespace Detail {

// Memory for value storage, aligned for any of the value classes (8 bytes):
// from the current scope's arena, or the heap when there is none or the
// request is large. Never null (throws std::bad_alloc as operator new does).
void* AllocateValueMemory(std::size_t bytes);
// Gives back what AllocateValueMemory returned, from any thread.
void FreeValueMemory(void* memory) noexcept;

// A standard allocator over the two, for std::allocate_shared.
template <class T>
struct ValueAllocator {
  using value_type = T;
  static_assert(alignof(T) <= 8, "value memory is 8-byte aligned");

  ValueAllocator() noexcept = default;
  template <class U>
  ValueAllocator(const ValueAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(AllocateValueMemory(n * sizeof(T))); }
  void deallocate(T* p, std::size_t) noexcept { FreeValueMemory(p); }

  template <class U>
  friend bool operator==(const ValueAllocator&, const ValueAllocator<U>&) noexcept {
    return true;
  }
  template <class U>
  friend bool operator!=(const ValueAllocator&, const ValueAllocator<U>&) noexcept {
    return false;
  }
};

// Makes a value (or anything held by one) in value memory.
template <class T, class... Args>
std::shared_ptr<T> MakeValue(Args&&... args) {
  return std::allocate_shared<T>(ValueAllocator<T>(), std::forward<Args>(args)...);
}

}  // namespace Detail
}  // namespace Data
}  // namespace Tovri
