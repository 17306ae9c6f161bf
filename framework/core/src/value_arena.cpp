#include <tovri/core/value_arena.hpp>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVRI_ARENA_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(TOVRI_ARENA_ASAN)
#define TOVRI_ARENA_ASAN 1
#endif
#ifdef TOVRI_ARENA_ASAN
#include <sanitizer/asan_interface.h>
// Memory cut from an arena is poisoned until handed out and again once given
// back, so AddressSanitizer still sees a use after free inside a block.
#define TOVRI_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TOVRI_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TOVRI_POISON(p, n) ((void)(p), (void)(n))
#define TOVRI_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Tovri {
namespace Data {

namespace {

// Every piece of value memory starts with a header naming where it came
// from: its arena, or null for the heap. Under AddressSanitizer it also
// keeps the piece's size, to poison the whole piece when it is given back.
struct alignas(8) Header {
  ValueArena* arena;
#ifdef TOVRI_ARENA_ASAN
  std::size_t size;
#endif
};
constexpr std::size_t kHeader = sizeof(Header);

constexpr std::size_t Round8(std::size_t n) noexcept { return (n + 7) & ~std::size_t{7}; }

thread_local ValueArena* current = nullptr;  // trivially destructible on purpose

}  // namespace

// Bump allocation over a chain of blocks that grow from 4 KiB to 256 KiB.
// Only the thread of the scope cuts pieces; any thread may give them back.
// `live_` counts the pieces out plus one for the scope.
class ValueArena {
 public:
  static constexpr std::size_t kFirstBlock = 4096;
  static constexpr std::size_t kLastBlock = 256 * 1024;
  // Larger requests go to the heap: they would waste a block's tail.
  static constexpr std::size_t kLargest = 4096;

  static ValueArena* Create() { return new ValueArena(); }

  void* Cut(std::size_t bytes) {
    const std::size_t size = kHeader + Round8(bytes);
    if (static_cast<std::size_t>(end_ - next_) < size) Grow(size);
    char* piece = next_;
    next_ += size;
    TOVRI_UNPOISON(piece, size);
    reinterpret_cast<Header*>(piece)->arena = this;
#ifdef TOVRI_ARENA_ASAN
    reinterpret_cast<Header*>(piece)->size = size;
#endif
    live_.fetch_add(1, std::memory_order_relaxed);
    return piece + kHeader;
  }

  void Release() noexcept {
    if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

 private:
  struct Block {
    Block* previous;
  };

  ValueArena() = default;
  ~ValueArena() {
    for (Block* block = blocks_; block;) {
      Block* previous = block->previous;
      std::free(block);
      block = previous;
    }
  }

  void Grow(std::size_t atLeast) {
    std::size_t size = blocks_ ? blockSize_ * 2 : kFirstBlock;
    if (size > kLastBlock) size = kLastBlock;
    if (size < atLeast + sizeof(Block)) size = atLeast + sizeof(Block);
    void* memory = std::malloc(size);
    if (!memory) throw std::bad_alloc();
    Block* block = static_cast<Block*>(memory);
    block->previous = blocks_;
    blocks_ = block;
    blockSize_ = size;
    next_ = reinterpret_cast<char*>(block) + sizeof(Block);
    end_ = reinterpret_cast<char*>(block) + size;
    TOVRI_POISON(next_, end_ - next_);
  }

  std::atomic<std::size_t> live_{1};
  Block* blocks_ = nullptr;
  std::size_t blockSize_ = 0;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

ValueArenaScope::ValueArenaScope() : arena_(current ? nullptr : ValueArena::Create()) {
  if (arena_) current = arena_;
}

ValueArenaScope::~ValueArenaScope() {
  if (!arena_) return;
  current = nullptr;
  arena_->Release();
}

namespace Detail {

void* AllocateValueMemory(std::size_t bytes) {
  if (current && bytes <= ValueArena::kLargest) return current->Cut(bytes);
  void* memory = std::malloc(kHeader + bytes);
  if (!memory) throw std::bad_alloc();
  static_cast<Header*>(memory)->arena = nullptr;
  return static_cast<char*>(memory) + kHeader;
}

void FreeValueMemory(void* memory) noexcept {
  if (!memory) return;
  Header* header = reinterpret_cast<Header*>(static_cast<char*>(memory) - kHeader);
  ValueArena* arena = header->arena;
  if (!arena) {
    std::free(header);
    return;
  }
#ifdef TOVRI_ARENA_ASAN
  TOVRI_POISON(header, header->size);
#endif
  arena->Release();
}

}  // namespace Detail
}  // namespace Data
}  // namespace Tovri
