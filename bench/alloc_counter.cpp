#include "alloc_counter.hpp"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

// glibc's own allocator entry points, which the replacements below forward
// to. glibc supports replacing malloc in the executable: every library's
// malloc call then lands here.
extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

std::atomic<bool> g_probing{false};
std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void Allocated(void* pointer) noexcept {
  if (pointer == nullptr || !g_probing.load(std::memory_order_relaxed)) return;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const auto bytes = static_cast<std::int64_t>(malloc_usable_size(pointer));
  const std::int64_t live = g_live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  std::int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
}

// Blocks allocated before the window opened lower the live count below
// zero when freed; the peak is relative to the window's start either way.
void Freeing(void* pointer) noexcept {
  if (pointer == nullptr || !g_probing.load(std::memory_order_relaxed)) return;
  g_live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(pointer)), std::memory_order_relaxed);
}

}  // namespace

namespace DralBench {

void BeginProbe() {
  g_allocations.store(0, std::memory_order_relaxed);
  g_live.store(0, std::memory_order_relaxed);
  g_peak.store(0, std::memory_order_relaxed);
  g_probing.store(true, std::memory_order_seq_cst);
}

AllocStats EndProbe() {
  g_probing.store(false, std::memory_order_seq_cst);
  AllocStats stats;
  stats.allocations = g_allocations.load(std::memory_order_relaxed);
  stats.peakBytes = g_peak.load(std::memory_order_relaxed);
  return stats;
}

}  // namespace DralBench

extern "C" {

void* malloc(std::size_t size) {
  void* pointer = __libc_malloc(size);
  Allocated(pointer);
  return pointer;
}

void free(void* pointer) {
  Freeing(pointer);
  __libc_free(pointer);
}

void* calloc(std::size_t count, std::size_t size) {
  void* pointer = __libc_calloc(count, size);
  Allocated(pointer);
  return pointer;
}

void* realloc(void* pointer, std::size_t size) {
  Freeing(pointer);
  void* moved = __libc_realloc(pointer, size);
  // A failed realloc keeps the old block.
  Allocated(moved != nullptr || size == 0 ? moved : pointer);
  return moved;
}

void* memalign(std::size_t alignment, std::size_t size) {
  void* pointer = __libc_memalign(alignment, size);
  Allocated(pointer);
  return pointer;
}

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* pointer = memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}

}  // extern "C"

// The global operator new/delete, forwarding to the counted malloc.

void* operator new(std::size_t size) {
  if (void* pointer = std::malloc(size == 0 ? 1 : size)) return pointer;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* pointer = memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size)) return pointer;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return ::operator new(size, alignment); }

void operator delete(void* pointer) noexcept { std::free(pointer); }
void operator delete[](void* pointer) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { std::free(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { std::free(pointer); }
