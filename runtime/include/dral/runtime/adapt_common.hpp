// Pieces shared by the adapters: type-erased native pointers and the work
// entries and work stacks of the explicit traversals.
//
// Each adapter walks a native object or a value tree with a stack of entries
// (source, method, destination) instead of recursion, so the nesting depth of
// the data never consumes call stack. A method pops nothing itself: it
// converts its own node and pushes one entry per child.
#pragma once

#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>

#include <tovri/core/l10n.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {

// A pointer to a native object whose type only the method paired with it in
// a work entry knows. `As<T>()` must name the exact type the pointer was made
// from.
class NativeConstPtr {
 public:
  constexpr NativeConstPtr() noexcept = default;
  // Implicit, so that member addresses convert where an entry is built.
  template <class T>
  constexpr NativeConstPtr(const T* object) noexcept : object_(object) {}

  template <class T>
  const T* As() const noexcept {
    return static_cast<const T*>(object_);
  }
  const void* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  const void* object_ = nullptr;
};

// The writable counterpart of NativeConstPtr.
class NativePtr {
 public:
  constexpr NativePtr() noexcept = default;
  template <class T>
  constexpr NativePtr(T* object) noexcept : object_(object) {}

  template <class T>
  T* As() const noexcept {
    return static_cast<T*>(object_);
  }
  void* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  void* object_ = nullptr;
};

namespace Data {

// One pending conversion: `method` converts `source` into `destination`,
// pushing entries for the children it finds on `WorkList`. `Messages` is the
// message list type; the definition walk passes it const (it reports nothing).
template <class Source, class Destination, class WorkList, class Messages = std::list<BaseMessage>>
struct BasicAdaptEntry {
  using Method = void (*)(const Source& source, const Destination& destination, WorkList& work,
                          Messages& messages);

  Source source;
  Method method;
  Destination destination;
};

class Deque;

// Native-to-value entry: the native member, its method, the value slot to
// fill (a field slot, an element slot, an optional's content slot or the
// caller's result).
using N2VAdaptEntry = BasicAdaptEntry<NativeConstPtr, std::shared_ptr<const DataValue>*, Deque>;

// The native-to-value work stack (push and pop at the back). It carries the
// request localizer given to the conversion for methods that need it; the
// localizer must outlive the stack.
class Deque : public std::deque<N2VAdaptEntry> {
 public:
  explicit Deque(const L10n::RequestLocalizer& localizer) : localizer_(&localizer) {}
  const L10n::RequestLocalizer& GetRequestLocalizer() const noexcept { return *localizer_; }

 private:
  const L10n::RequestLocalizer* localizer_;
};

namespace V2N_internal {

struct StackMapCnt;

// Value-to-native entry: the value (kept alive by the entry), its method, the
// native member to fill.
using AdaptEntry = BasicAdaptEntry<std::shared_ptr<const DataValue>, NativePtr, StackMapCnt>;

// The value-to-native work stack (push and pop at the back), with a map of
// named native objects that lives as long as the stack.
struct StackMapCnt : std::deque<AdaptEntry> {
  std::map<std::string, NativeConstPtr> named;
};

}  // namespace V2N_internal

}  // namespace Data
}  // namespace Tovri
