// Conversion of dynamic value trees into native objects.
//
// Reads the shapes native_to_value.hpp writes, and these looser ones:
//   - a bare value where an optional is expected (taken as its content);
//   - a string where a list or set is expected: one element, none when empty;
//   - an empty string where a structure, list, set, map or optional is
//     expected: a default structure (required structures and enumerations
//     below it built the same way), an empty container, an unset optional;
//   - a string where a primitive is expected (DataValue::ToPrimitive);
//   - a map as a structure whose field names are the keys in decimal.
// A structure may arrive as a structure, an error or a dynamic structure
// value (type codes 9, 6, 15); undeclared fields of a structure value are
// kept in the object's undeclared-fields holder, never reported.
//
// Failures. A structure that cannot be read (non-empty string:
// "tovri.data.bad.cast1" with the text; other kind: "tovri.data.invalid.type")
// or that lacks a required field (the framework's message) is skipped from
// that point and the conversion goes on. Every other failure stops the whole
// conversion: a primitive or enumeration of the wrong kind, a list or set
// that is neither list nor string ("tovri.data.invalid.type"), a failed set
// element, a map given a non-empty string ("tovri.data.bad.cast1"), a map
// element that is not a structure value, code 9 ("tovri.data.invalid.type",
// errors and dynamic structures included) or lacks "key" / "value" or has a
// bad key. A map given a value of any other kind,
// or in structure form with a field name that is not a base-10 64-bit
// integer, also stops it; this adapter then adds "tovri.data.invalid.type"
// so that every stop is explained by a message.
//
// A structure lists its fields through its field table (field_table.hpp):
// its AdapterHelper's AddFields forwards to CompoundHelper::AddTable, which
// reads every field in member order (required or optional as MemberTraits
// classifies the member), then keeps the fields the table does not declare
// in the object's undeclared-fields holder. An enumeration class E must be
// constructible from its wire string (`E(const std::string&)`, inherited
// from Enumeration<E>).
#pragma once

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <boost/optional.hpp>

#include <tovri/std/standard_types.hpp>

#include <dral/runtime/adapt_common.hpp>
#include <dral/runtime/field_table.hpp>
#include <dral/runtime/member_kind.hpp>
#include <dral/runtime/native.hpp>

namespace Tovri {
namespace Data {

class ValueToNativeAdapter {
 public:
  using Source = std::shared_ptr<const DataValue>;
  using WorkList = V2N_internal::StackMapCnt;
  using Entry = V2N_internal::AdaptEntry;
  using Method = Entry::Method;

  // Fills `*destination` from `value` with `method`. True when no message
  // was added; otherwise the object holds what was filled so far and must
  // not be used.
  static bool Adapt(const Source& value, Method method, const NativePtr& destination,
                    std::list<BaseMessage>& messages);

  // The same for a native object of type T, its method chosen by type.
  template <class T>
  static bool Adapt(const Source& value, T& out, std::list<BaseMessage>& messages) {
    return Adapt(value, AdaptMethod<T>::Get(&out), NativePtr(&out), messages);
  }

  // The method filling a T, chosen by its MemberTraits kind; the argument
  // only selects the overload.
  template <class T, class Enable = void>
  struct AdaptMethod;

  template <class Compound>
  class CompoundHelper;
  template <class X, class Holder>
  class OptionalVisitor;
  template <class Map>
  class MapVisitor;

  template <class T>
  static void StructMethod(const Source& value, const NativePtr& destination, WorkList& work,
                           std::list<BaseMessage>& messages);
  template <class T>
  static void EnumMethod(const Source& value, const NativePtr& destination, WorkList& work,
                         std::list<BaseMessage>& messages);
  template <class T>
  static void PrimitiveMethod(const Source& value, const NativePtr& destination, WorkList& work,
                              std::list<BaseMessage>& messages);
  template <class X, class Holder>
  static void OptionalBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                  std::list<BaseMessage>& messages);
  template <class E, class Container>
  static void ListBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                              std::list<BaseMessage>& messages);
  template <class E, class Set>
  static void SetBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                             std::list<BaseMessage>& messages);
  template <class Map>
  static void MapBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                             std::list<BaseMessage>& messages);
  template <class T>
  static void SharedPtrMethod(const Source& value, const NativePtr& destination, WorkList& work,
                              std::list<BaseMessage>& messages);

  // Queues the conversion of `value` into `*member`; `member` must stay at
  // its address until the conversion ends.
  template <class T>
  static void ValueMethod(const Source& value, T* member, WorkList& work) {
    work.push_back(Entry{value, AdaptMethod<T>::Get(member), member});
  }

  // Converts a primitive at once: a string value is parsed
  // (DataValue::ToPrimitive), any other read as exactly T (DataValue::Value).
  template <class T>
  static bool AdaptPrimitive(const Source& value, T& target, std::list<BaseMessage>& messages);

  // `value` as a V, or null after appending "tovri.data.invalid.type".
  template <class V>
  static std::shared_ptr<const V> NarrowSrc(const Source& value, std::list<BaseMessage>& messages);

  // Sets an optional member to a new default object and returns it.
  template <class X>
  static X* InitOptional(boost::optional<X>& holder, const Source& value);
  template <class T>
  static T* InitOptional(OptionalPtr<T const>& holder, const Source& value);

  // A set of enumerations given one wire string: that one constant.
  template <class E, class Set>
  static void CastStringToSet(const std::string& text, Set& set) {
    static_assert(IsEnumeration<E>::value, "CastStringToSet is for sets of enumerations");
    set.insert(E(text));
  }

 private:
  // The value as a string value when it is one, else null.
  static const StringValue* AsString(const Source& value) noexcept;
  // False (after appending "tovri.data.invalid.type" and stopping) for a
  // null value, which only a malformed tree can hold.
  static bool CheckPresent(const Source& value, WorkList& work, std::list<BaseMessage>& messages);
  static void AppendInvalidType(std::list<BaseMessage>& messages);
  static void AppendBadCast(std::list<BaseMessage>& messages, const std::string& text);
  // A map key written as a field name: base-10, signed 64-bit, leading white
  // space and sign allowed, trailing text ignored.
  static bool KeyFromName(const std::string& name, long long& key);
  static bool KeyFromName(const std::string& name, std::string& key);
};

// Reads the fields of one structure value. A field is read only while the
// message list holds as many messages as when the reader was made, so a
// structure stops at its first failure.
template <>
class ValueToNativeAdapter::CompoundHelper<StructValue> {
 public:
  CompoundHelper(const Source& value, WorkList& work, std::list<BaseMessage>& messages);

  // False once a message was added since construction.
  bool IsReadable() const noexcept { return messages_->size() == count_; }

  // Reads the fields of `object`: a standard structure through its table,
  // any other through its AdapterHelper.
  template <class T>
  void AddFields(T* object) {
    if constexpr (IsStandardStructure<T>::value) {
      AddTable(object, StandardFields<T>());
    } else {
      T::AdapterHelper::AddFields(*this, object);
    }
  }

  // Reads every field of `table`, in member order; then, for a structure
  // deriving from BaseNative, keeps the fields the table does not declare.
  template <class T, class... Fields>
  void AddTable(T* object, const FieldTable<Fields...>& table) {
    table.ForEach([&](const auto& field) { AddMember(field.wire, &(object->*field.member)); });
    if constexpr (IsNativeStructure<T>::value) {
      BaseNative::AdapterHelper::CollectUndeclaredFields(table.names.data(), table.names.size(), GetSource(),
                                                         object->unknownFields);
    }
  }

  // One member, required or optional by its kind.
  template <class X>
  void AddMember(std::string_view name, X* member) {
    if constexpr (IsOptionalMember<X>) {
      Optional(name, member);
    } else {
      AddFieldInt(name, member);
    }
  }

  // A required member of any kind but optional; an empty string stands for a
  // default enumeration or structure.
  template <class X>
  void AddFieldInt(std::string_view name, X* member) {
    Require(name, member,
            KindOf<X> == MemberKind::kEnumeration || KindOf<X> == MemberKind::kRequiredStructure);
  }
  // A required structure member.
  template <class X>
  void AddField(std::string_view name, std::shared_ptr<const X>* member) {
    AddFieldInt(name, member);
  }
  // Optional members: absent fields leave them unset, without a message.
  template <class X>
  void AddField(std::string_view name, boost::optional<X>* member) {
    Optional(name, member);
  }
  template <class X>
  void AddField(std::string_view name, OptionalPtr<const X>* member) {
    Optional(name, member);
  }

  // The structure being read, for collecting undeclared fields (an error's
  // fields in a new structure value); null when the source is an empty
  // string or not a compound value, and when every field it has was read
  // as a declared one (nothing to collect: the collecting walk is skipped).
  std::shared_ptr<const StructValue> GetSource() const;

 private:
  template <class X>
  void Require(std::string_view name, X* member, bool passEmptyString) {
    if (!IsReadable()) return;
    if (compound_) {
      const Source* field = compound_->FindSlot(name);
      if (field && *field) {
        ++found_;
        ValueMethod(*field, member, *work_);
      } else {
        Source absent;
        compound_->GetField(name, absent, *messages_);  // the framework's message
      }
    } else if (passEmptyString && emptyString_) {
      ValueMethod<X>(*source_, member, *work_);
    }
  }
  template <class Holder>
  void Optional(std::string_view name, Holder* member) {
    if (!IsReadable() || !compound_) return;
    const Source* field = compound_->FindSlot(name);
    if (field && *field) {
      ++found_;
      ValueMethod(*field, member, *work_);
    }
  }

  // The reader lives within one method call, while the entry keeps the
  // source alive: plain pointers spare reference counting per field.
  const Source* source_;
  const CompoundValue* compound_ = nullptr;
  bool emptyString_ = false;
  std::size_t found_ = 0;  // declared fields present, each counted once
  WorkList* work_;
  std::list<BaseMessage>* messages_;
  std::size_t count_;
};

// The helper a structure's AdapterHelper::AddFields receives.
using V2NHelper = ValueToNativeAdapter::CompoundHelper<StructValue>;

// Sets an optional member from the value it was given: the content of a set
// optional value, or any other value as the content itself.
template <class X, class Holder>
class ValueToNativeAdapter::OptionalVisitor final : public ValueVisitor {
 public:
  OptionalVisitor(const Source& value, Holder& holder, WorkList& work)
      : value_(value), holder_(holder), work_(work) {}

  void VisitVoid(const VoidValue&) override { Set(value_); }
  void VisitInteger(const IntegerValue&) override { Set(value_); }
  void VisitDouble(const DoubleValue&) override { Set(value_); }
  void VisitBoolean(const BooleanValue&) override { Set(value_); }
  void VisitBlob(const BlobValue&) override { Set(value_); }
  void VisitString(const StringValue&) override { Set(value_); }
  void VisitSecret(const SecretValue&) override { Set(value_); }
  void VisitError(const ErrorValue&) override { Set(value_); }
  void VisitOptional(const OptionalValue& optional) override {
    if (optional.IsSet()) Set(optional.GetValue());
  }
  void VisitList(const ListValue&) override { Set(value_); }
  void VisitStruct(const StructValue&) override { Set(value_); }

 private:
  void Set(const Source& content) { ValueMethod<X>(content, InitOptional(holder_, content), work_); }

  const Source& value_;
  Holder& holder_;
  WorkList& work_;
};

// Fills a map from its list form or its structure form. `Succeeded()` stays
// false for any other kind of value and after a failure.
template <class Map>
class ValueToNativeAdapter::MapVisitor final : public ValueVisitor {
 public:
  MapVisitor(Map& map, WorkList& work, std::list<BaseMessage>& messages)
      : map_(map), work_(work), messages_(messages) {}

  bool Succeeded() const noexcept { return succeeded_; }

  void VisitVoid(const VoidValue&) override {}
  void VisitInteger(const IntegerValue&) override {}
  void VisitDouble(const DoubleValue&) override {}
  void VisitBoolean(const BooleanValue&) override {}
  void VisitBlob(const BlobValue&) override {}
  void VisitString(const StringValue&) override {}
  void VisitSecret(const SecretValue&) override {}
  void VisitError(const ErrorValue&) override {}
  void VisitOptional(const OptionalValue&) override {}
  void VisitList(const ListValue& list) override;
  void VisitStruct(const StructValue& structure) override;

 private:
  Map& map_;
  WorkList& work_;
  std::list<BaseMessage>& messages_;
  bool succeeded_ = false;
};

// --- Method selection -------------------------------------------------------

template <class T, class Enable>
struct ValueToNativeAdapter::AdaptMethod {
  static Method Get(const T* = nullptr) {
    using Content = typename MemberTraits<T>::Content;
    constexpr MemberKind kind = KindOf<T>;
    if constexpr (kind == MemberKind::kPrimitive) {
      return &PrimitiveMethod<T>;
    } else if constexpr (kind == MemberKind::kEnumeration) {
      return &EnumMethod<T>;
    } else if constexpr (kind == MemberKind::kStructure) {
      return &StructMethod<T>;
    } else if constexpr (kind == MemberKind::kRequiredStructure) {
      return &SharedPtrMethod<Content>;
    } else if constexpr (kind == MemberKind::kOptional || kind == MemberKind::kOptionalStructure) {
      return &OptionalBeginMethod<Content, T>;
    } else if constexpr (kind == MemberKind::kList) {
      return &ListBeginMethod<Content, T>;
    } else if constexpr (kind == MemberKind::kSet) {
      return &SetBeginMethod<Content, T>;
    } else if constexpr (kind == MemberKind::kMap) {
      return &MapBeginMethod<T>;
    } else {
      return nullptr;  // unsupported: MemberTraits has stopped the build
    }
  }
};

// --- Helpers ----------------------------------------------------------------

template <class T>
bool ValueToNativeAdapter::AdaptPrimitive(const Source& value, T& target, std::list<BaseMessage>& messages) {
  if (!value) {
    AppendInvalidType(messages);
    return false;
  }
  if (value->GetType() == kString) return DataValue::ToPrimitive<T>(*value, target, messages);
  return DataValue::Value<T>(*value, target, messages);
}

template <class V>
std::shared_ptr<const V> ValueToNativeAdapter::NarrowSrc(const Source& value,
                                                         std::list<BaseMessage>& messages) {
  std::shared_ptr<const V> narrowed;
  if constexpr (std::is_same<V, ListValue>::value) {
    // A value's code names its class; no dynamic_cast for the common case.
    if (value && value->GetType() == kList) narrowed = std::static_pointer_cast<const ListValue>(value);
  } else {
    narrowed = std::dynamic_pointer_cast<const V>(value);
  }
  if (!narrowed) AppendInvalidType(messages);
  return narrowed;
}

template <class X>
X* ValueToNativeAdapter::InitOptional(boost::optional<X>& holder, const Source&) {
  holder.emplace();
  return &*holder;
}

template <class T>
T* ValueToNativeAdapter::InitOptional(OptionalPtr<T const>& holder, const Source& value) {
  std::shared_ptr<T> object = TypeInfo<T>::defaultInstance(value);
  T* raw = object.get();
  static_cast<std::shared_ptr<const T>&>(holder) = std::move(object);
  return raw;
}

// --- Methods ----------------------------------------------------------------

template <class T>
void ValueToNativeAdapter::StructMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                        std::list<BaseMessage>& messages) {
  CompoundHelper<StructValue> reader(value, work, messages);
  if (reader.IsReadable()) reader.AddFields(destination.As<T>());
}

template <class T>
void ValueToNativeAdapter::EnumMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                      std::list<BaseMessage>& messages) {
  if (!CheckPresent(value, work, messages)) return;
  if (const StringValue* text = AsString(value)) {
    *destination.As<T>() = T(text->GetValue());
    return;
  }
  std::string text;
  if (!DataValue::Value<std::string>(*value, text, messages)) {  // the framework's message
    work.clear();
    return;
  }
  *destination.As<T>() = T(text);
}

template <class T>
void ValueToNativeAdapter::PrimitiveMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                           std::list<BaseMessage>& messages) {
  if (!AdaptPrimitive<T>(value, *destination.As<T>(), messages)) work.clear();
}

template <class X, class Holder>
void ValueToNativeAdapter::OptionalBeginMethod(const Source& value, const NativePtr& destination,
                                               WorkList& work, std::list<BaseMessage>&) {
  if (!value) return;  // nothing to take
  Holder& holder = *destination.As<Holder>();
  if (const StringValue* text = AsString(value)) {
    if (!text->GetValue().empty()) ValueMethod<X>(value, InitOptional(holder, value), work);
    return;
  }
  OptionalVisitor<X, Holder> visitor(value, holder, work);
  value->Accept(visitor);
}

template <class E, class Container>
void ValueToNativeAdapter::ListBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                           std::list<BaseMessage>& messages) {
  if (!CheckPresent(value, work, messages)) return;
  Container& container = *destination.As<Container>();
  if (const StringValue* text = AsString(value)) {
    container.clear();
    if (!text->GetValue().empty()) {
      container.emplace_back();
      ValueMethod(value, &container.back(), work);
    }
    return;
  }
  std::shared_ptr<const ListValue> list = NarrowSrc<ListValue>(value, messages);
  if (!list) {
    work.clear();
    return;
  }
  container.clear();
  const Method method = AdaptMethod<E>::Get();
  for (const Source& element : list->GetElements()) {
    container.emplace_back();
    work.push_back(Entry{element, method, &container.back()});
  }
}

template <class E, class Set>
void ValueToNativeAdapter::SetBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                          std::list<BaseMessage>& messages) {
  static_assert(
      IsEnumeration<E>::value || std::is_same<E, std::string>::value || std::is_same<E, long long>::value,
      "sets hold strings, integers or enumerations");
  if (!CheckPresent(value, work, messages)) return;
  Set& set = *destination.As<Set>();
  if (const StringValue* text = AsString(value)) {
    set.clear();
    if (text->GetValue().empty()) return;
    if constexpr (IsEnumeration<E>::value) {
      CastStringToSet<E, Set>(text->GetValue(), set);
    } else {
      E element{};
      if (!AdaptPrimitive<E>(value, element, messages)) {
        work.clear();
        return;
      }
      set.insert(std::move(element));
    }
    return;
  }
  std::shared_ptr<const ListValue> list = NarrowSrc<ListValue>(value, messages);
  if (!list) {
    work.clear();
    return;
  }
  set.clear();
  for (const Source& item : list->GetElements()) {
    E element{};
    bool converted;
    if constexpr (IsEnumeration<E>::value) {
      converted = Adapt(item, &EnumMethod<E>, NativePtr(&element), messages);
    } else {
      converted = AdaptPrimitive<E>(item, element, messages);
    }
    if (!converted) {
      work.clear();
      return;
    }
    set.insert(std::move(element));
  }
}

template <class Map>
void ValueToNativeAdapter::MapBeginMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                          std::list<BaseMessage>& messages) {
  if (!CheckPresent(value, work, messages)) return;
  Map& map = *destination.As<Map>();
  if (const StringValue* text = AsString(value)) {
    if (text->GetValue().empty()) {
      map.clear();
      return;
    }
    AppendBadCast(messages, text->GetValue());
    work.clear();
    return;
  }
  const std::size_t before = messages.size();
  MapVisitor<Map> visitor(map, work, messages);
  value->Accept(visitor);
  if (visitor.Succeeded()) return;
  if (messages.size() == before) AppendInvalidType(messages);
  work.clear();
}

template <class T>
void ValueToNativeAdapter::SharedPtrMethod(const Source& value, const NativePtr& destination, WorkList& work,
                                           std::list<BaseMessage>&) {
  std::shared_ptr<T> object = TypeInfo<T>::defaultInstance(value);
  T* raw = object.get();
  *destination.As<std::shared_ptr<const T>>() = std::move(object);
  work.push_back(Entry{value, AdaptMethod<T>::Get(raw), raw});
}

template <class Map>
void ValueToNativeAdapter::MapVisitor<Map>::VisitList(const ListValue& list) {
  using Key = typename Map::key_type;
  map_.clear();
  for (const Source& element : list.GetElements()) {
    // Only a structure value is an entry: unlike a structure field, a map
    // element never arrives as an error or a dynamic structure.
    const int type = element ? element->GetType() : -1;
    const auto* entry = type == kStruct ? static_cast<const CompoundValue*>(element.get()) : nullptr;
    if (!entry) {
      AppendInvalidType(messages_);
      return;
    }
    const Source* keyValue = entry->FindSlot("key");
    const Source* mappedValue = entry->FindSlot("value");
    if (!keyValue || !*keyValue || !mappedValue || !*mappedValue) {
      Source absent;  // the framework's message for the first field missing
      if (entry->GetField("key", absent, messages_)) entry->GetField("value", absent, messages_);
      return;
    }
    Key key{};
    if (!AdaptPrimitive<Key>(*keyValue, key, messages_)) return;
    // Entries usually come in key order: the hint makes each insertion O(1).
    ValueMethod(*mappedValue, &map_.try_emplace(map_.end(), std::move(key))->second, work_);
  }
  succeeded_ = true;
}

template <class Map>
void ValueToNativeAdapter::MapVisitor<Map>::VisitStruct(const StructValue& structure) {
  using Key = typename Map::key_type;
  succeeded_ = true;
  map_.clear();
  for (const auto& field : structure.GetFields()) {
    Key key{};
    if (!KeyFromName(field.first, key)) {
      succeeded_ = false;
      return;
    }
    ValueMethod(field.second, &map_.try_emplace(std::move(key)).first->second, work_);
  }
}

}  // namespace Data
}  // namespace Tovri
