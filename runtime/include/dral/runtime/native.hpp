// The native type model every generated class is built on: the base that
// keeps undeclared fields, enumeration classes, union annotations, and the
// optional shared pointer used for optional structures.
//
// A generated structure is a plain aggregate deriving from BaseNative, with
// one public member per wire field in declaration order and a nested
// `AdapterHelper` whose static `AddFields` overloads are the entry points of
// each adapter (conversion to values, conversion from values, definition);
// the generated ones forward to the structure's field table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <boost/logic/tribool.hpp>
#include <boost/utility/string_view.hpp>

#include <tovri/core/result_types.hpp>
#include <tovri/core/secret_string.hpp>
#include <tovri/core/type_info.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {

// A nullable shared pointer standing for an optional structure: null means
// unset. A distinct type from std::shared_ptr so that the adapters can tell
// optional from required structures.
template <class T>
class OptionalPtr : public std::shared_ptr<T> {
  template <class U>
  using Compatible = std::enable_if_t<std::is_convertible<U*, T*>::value>;

 public:
  // Constructors are listed rather than inherited: inheriting them next to
  // the converting ones below makes conversions from shared_ptr ambiguous.
  OptionalPtr() noexcept = default;
  OptionalPtr(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor)
  template <class U, class = Compatible<U>>
  explicit OptionalPtr(U* p) : std::shared_ptr<T>(p) {}
  // Also takes an OptionalPtr<U>, which is a shared_ptr<U>.
  template <class U, class = Compatible<U>>
  OptionalPtr(const std::shared_ptr<U>& p) noexcept : std::shared_ptr<T>(p) {}  // NOLINT
  template <class U, class = Compatible<U>>
  OptionalPtr(std::shared_ptr<U>&& p) noexcept : std::shared_ptr<T>(std::move(p)) {}  // NOLINT
};

// A new T built from `args`, in one allocation with its count, as a set
// OptionalPtr.
template <class T, class... Args>
OptionalPtr<T> MakeOptionalPtr(Args&&... args) {
  return OptionalPtr<T>(std::make_shared<T>(std::forward<Args>(args)...));
}

namespace Data {

// Byte-wise comparison of two names: memcmp on the common length, then the
// shorter is smaller.
inline int CompareNames(boost::string_view a, boost::string_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Base of every native structure. Holds the fields a received value carried
// that the class does not declare, and writes them back when the object is
// converted again. The holder is shared, not copied, when the object is
// copied; it is null unless at least one undeclared field was received.
class BaseNative {
 public:
  std::shared_ptr<StructValue> unknownFields;

  struct AdapterHelper {
    // Write-back: every field of the holder of `native`, in name order, is
    // set on `out`, sharing the values.
    static void AddUnknownFields(const BaseNative& native, std::shared_ptr<StructValue>& out);

    // Collecting: every field of `source` whose name is not in `declared`
    // (ascending byte order) is added to `holder`, created as a structure
    // named "unknownFields" on the first such field. A null source leaves
    // the holder unchanged.
    template <std::size_t N>
    static void AddUnknownFields(const boost::basic_string_view<char> (&declared)[N],
                                 const std::shared_ptr<const StructValue>& source,
                                 std::shared_ptr<StructValue>& holder) {
      CollectUnknownFields(declared, N, source, holder);
    }
    // A structure that declares no field.
    static void AddUnknownFields(const std::shared_ptr<const StructValue>& source,
                                 std::shared_ptr<StructValue>& holder) {
      CollectUnknownFields(nullptr, 0, source, holder);
    }

    static void CollectUnknownFields(const boost::basic_string_view<char>* declared, std::size_t count,
                                     const std::shared_ptr<const StructValue>& source,
                                     std::shared_ptr<StructValue>& holder);

    // The same with `declared` in any order (a field table's member order):
    // each field is looked up linearly, which suits the short tables and the
    // rare values that carry undeclared fields.
    static void CollectUndeclaredFields(const std::string_view* declared, std::size_t count,
                                        const std::shared_ptr<const StructValue>& source,
                                        std::shared_ptr<StructValue>& holder);
  };
};

// The common part of a structure's TypeInfo specialisation, which adds its
// `name()`: a new default object for every value read.
template <class T>
struct StructTypeInfo {
  static std::shared_ptr<T> defaultInstance(const std::shared_ptr<const DataValue>&) {
    return std::make_shared<T>();
  }
};

// The index of "_UNKNOWN" in a null-terminated constant table, which is the
// number of declared constants.
inline std::int32_t UnknownIndex(const char* const* values) noexcept {
  std::int32_t i = 0;
  while (values[i] != nullptr && std::strcmp(values[i], "_UNKNOWN") != 0) ++i;
  return i;
}

// Base of every enumeration class. `Derived` declares `enum Value` with the
// wire constants numbered from 0 and `_UNKNOWN` last, and `struct Strings`
// with `values`: the constants' wire names, "_UNKNOWN", then null.
//
// Holds the value, then the text: empty unless the value is `_UNKNOWN` and
// the object was built from a wire string that is none of the constants; it
// then keeps that string unchanged, so it converts back to the same text.
template <class Derived>
class Enumeration {
 public:
  // `_UNKNOWN` with empty text.
  Enumeration() noexcept : value_(UnknownIndex(Derived::Strings::values)) {}
  // A constant, empty text. A number outside the table gives `_UNKNOWN`, so
  // ToString never reads past it.
  explicit Enumeration(std::int32_t constant) noexcept
      : value_(constant >= 0 && constant <= UnknownIndex(Derived::Strings::values)
                   ? constant
                   : UnknownIndex(Derived::Strings::values)) {}
  // From a wire string: exact, case-sensitive match against the table; a
  // match on "_UNKNOWN" gives `_UNKNOWN` with empty text; no match gives
  // `_UNKNOWN` keeping the string.
  explicit Enumeration(const std::string& wire) {
    const char* const* values = Derived::Strings::values;
    for (std::int32_t i = 0; values[i] != nullptr; ++i) {
      if (wire == values[i]) {
        value_ = i;
        return;
      }
    }
    value_ = UnknownIndex(values);
    text_ = wire;
  }

  std::int32_t raw() const noexcept { return value_; }
  const std::string& text() const noexcept { return text_; }
  bool IsUnknown() const noexcept { return value_ == UnknownIndex(Derived::Strings::values); }

  // The wire string: the kept text for an unrecognised constant, otherwise
  // the constant's name ("_UNKNOWN" for a default object).
  std::string ToString() const {
    if (IsUnknown() && !text_.empty()) return text_;
    return Derived::Strings::values[value_];
  }

  // By value, then byte-wise by text.
  friend bool operator<(const Derived& a, const Derived& b) noexcept {
    if (a.value_ != b.value_) return a.value_ < b.value_;
    return a.text_ < b.text_;
  }
  friend bool operator==(const Derived& a, const Derived& b) noexcept {
    return a.value_ == b.value_ && a.text_ == b.text_;
  }
  friend bool operator!=(const Derived& a, const Derived& b) noexcept { return !(a == b); }

 private:
  std::int32_t value_;
  std::string text_;
};

// Marks a class as an enumeration for the adapters' overload selection.
template <class T>
using IsEnumeration = std::is_base_of<Enumeration<T>, T>;

// The case predicate of a union: true exactly when the tag's wire text is one
// of the names in `Cases::Strings::values` other than "_UNKNOWN"; never
// indeterminate.
template <class Cases>
struct UnionCaseAnyEnumValue {
  boost::logic::tribool operator()(const std::string& tagValue) const noexcept {
    for (const char* const* v = Cases::Strings::values; *v != nullptr; ++v) {
      if (std::strcmp(*v, "_UNKNOWN") != 0 && tagValue == *v) return true;
    }
    return false;
  }
};

}  // namespace Data
}  // namespace Tovri
