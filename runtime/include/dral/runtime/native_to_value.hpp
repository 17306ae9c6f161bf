// Conversion of native objects into dynamic value trees.
//
// Value shapes written (and read back by value_to_native.hpp):
//   std::string, long long, bool, std::vector<unsigned char>, SecretString,
//   Void              -> the framework's primitive value (DataValue::Create)
//   enumeration       -> string value: the kept text of an unrecognised
//                        constant, else the constant's name ("_UNKNOWN" for a
//                        default object)
//   structure T       -> structure value named TypeInfo<T>::name() with every
//                        declared field (unset optionals included) plus every
//                        field of the undeclared-fields holder, shared
//   boost::optional<X>, OptionalPtr<const T>
//                     -> optional value, unset when the member is
//   std::list<E>      -> list value of kind 1, in list order
//   std::set<E>       -> list value of kind 2, in ascending order
//   std::map<K, V>    -> list value of kind 3 of "map-entry" structures with
//                        fields "key" and "value", in ascending key order
//   std::shared_ptr<const T>
//                     -> the value of T; a null one fails the conversion with
//                        "tovri.data.unset.non.optional.field" (argument:
//                        TypeInfo<T>::name()) and stops it
//
// A structure lists its fields through its field table (field_table.hpp):
// its AdapterHelper's AddFields forwards to CompoundHelper::AddTable, which
// queues every field in member order, then writes back the undeclared
// fields the object holds. An enumeration class E derives from
// ::Tovri::Data::Enumeration<E>; nothing more is needed here.
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

class NativeToValueAdapter {
 public:
  using Destination = std::shared_ptr<const DataValue>*;
  using WorkList = Deque;
  using Entry = N2VAdaptEntry;
  using Method = Entry::Method;

  // Converts `source` with `method` into `*destination`. True when no
  // message was added. On failure `*destination` holds a partial tree the
  // caller must not use. `localizer` must outlive the call.
  static bool Adapt(const NativeConstPtr& source, Method method, const Destination& destination,
                    std::list<BaseMessage>& messages, const L10n::RequestLocalizer& localizer);

  // The same for a native object of type T, its method chosen by type.
  template <class T>
  static bool Adapt(const T& native, std::shared_ptr<const DataValue>& out, std::list<BaseMessage>& messages,
                    const L10n::RequestLocalizer& localizer) {
    return Adapt(NativeConstPtr(&native), AdaptMethod<T>::Get(), &out, messages, localizer);
  }

  // The method converting a T, chosen by its MemberTraits kind; the argument
  // only selects the overload.
  template <class T, class Enable = void>
  struct AdaptMethod;

  template <class Compound>
  class CompoundHelper;

  template <class T>
  static void StructMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                           std::list<BaseMessage>& messages);
  template <class T>
  static void EnumMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                         std::list<BaseMessage>& messages);
  template <class T>
  static void PrimitiveMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                              std::list<BaseMessage>& messages);
  template <class X, class Holder>
  static void OptionalBeginMethod(const NativeConstPtr& source, const Destination& destination,
                                  WorkList& work, std::list<BaseMessage>& messages);
  template <class E, class Container, int Kind>
  static void ListBeginMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                              std::list<BaseMessage>& messages);
  template <class Map>
  static void MapBeginMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                             std::list<BaseMessage>& messages);
  template <class T>
  static void SharedPtrMethod(const NativeConstPtr& source, const Destination& destination, WorkList& work,
                              std::list<BaseMessage>& messages);

 private:
  static void AppendUnsetField(std::list<BaseMessage>& messages, const std::string& typeName);
  // String values of an enumeration's wire names (null-terminated list),
  // never destroyed.
  static const ValuePtr* EnumerationValues(const char* const* names);
  // Copies of `count` names that are never destroyed.
  static const std::string* StaticNames(const std::string_view* names, std::size_t count);
  struct MapEntryNames {
    StaticName entry, key, value;
  };
  static const MapEntryNames& GetMapEntryNames();
};

// Builds the structure value of one native structure: created and linked
// into the destination at construction, then filled through AddFields.
template <>
class NativeToValueAdapter::CompoundHelper<StructValue> {
 public:
  CompoundHelper(StaticName name, const Destination& destination, WorkList& work);

  // Lists the fields of `object` into the value: a standard structure
  // through its table, any other through its AdapterHelper.
  template <class T>
  void AddFields(const T* object) {
    if constexpr (IsStandardStructure<T>::value) {
      AddTable(object, StandardFields<T>());
    } else {
      T::AdapterHelper::AddFields(*this, object);
    }
  }

  // Queues every field of `table`, in member order, then writes back the
  // undeclared fields `object` holds.
  template <class T, class... Fields>
  void AddTable(const T* object, const FieldTable<Fields...>& table) {
    // The wire names as texts that live as long as the program, made once
    // per table, so values refer to them instead of copying them.
    static const std::string* const names = StaticNames(table.names.data(), table.names.size());
    value_->ExpectFields(sizeof...(Fields));
    std::size_t index = 0;
    table.ForEach([&](const auto& field) { AddField(StaticName(names[index++]), &(object->*field.member)); });
    if constexpr (IsNativeStructure<T>::value) BaseNative::AdapterHelper::AddUnknownFields(*object, value_);
  }

  // Reserves the field's slot and queues the member's conversion into it.
  // `member` must outlive the conversion.
  template <class X>
  void AddField(std::string_view name, const X* member) {
    AddField(name, NativeConstPtr(member), AdaptMethod<X>::Get(member));
  }
  template <class X>
  void AddField(StaticName name, const X* member) {
    AddField(name, NativeConstPtr(member), AdaptMethod<X>::Get(member));
  }
  void AddField(std::string_view name, const NativeConstPtr& member, Method method);
  void AddField(StaticName name, const NativeConstPtr& member, Method method);

  // The structure value under construction.
  std::shared_ptr<StructValue>& GetValue() noexcept { return value_; }

 private:
  std::shared_ptr<StructValue> value_;
  WorkList* work_;
};

// The helper a structure's AdapterHelper::AddFields receives.
using N2VHelper = NativeToValueAdapter::CompoundHelper<StructValue>;

// --- Method selection -------------------------------------------------------

template <class T, class Enable>
struct NativeToValueAdapter::AdaptMethod {
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
      return &ListBeginMethod<Content, T, ListValue::kListKind>;
    } else if constexpr (kind == MemberKind::kSet) {
      return &ListBeginMethod<Content, T, ListValue::kSetKind>;
    } else if constexpr (kind == MemberKind::kMap) {
      return &MapBeginMethod<T>;
    } else {
      return nullptr;  // unsupported: MemberTraits has stopped the build
    }
  }
};

// --- Methods ----------------------------------------------------------------

template <class T>
void NativeToValueAdapter::StructMethod(const NativeConstPtr& source, const Destination& destination,
                                        WorkList& work, std::list<BaseMessage>&) {
  static const std::string& name =
      *new std::string(TypeInfo<T>::name());  // never destroyed: values refer to it
  CompoundHelper<StructValue> helper(StaticName(name), destination, work);
  helper.AddFields(source.As<T>());
}

template <class T>
void NativeToValueAdapter::EnumMethod(const NativeConstPtr& source, const Destination& destination, WorkList&,
                                      std::list<BaseMessage>&) {
  const T& constant = *source.As<T>();
  if (constant.IsUnknown() && !constant.text().empty()) {
    *destination = StringValue::GetInstance(constant.text());
    return;
  }
  // The constants' values, made once per enumeration and shared.
  static const ValuePtr* const values = EnumerationValues(T::Strings::values);
  *destination = values[constant.raw()];
}

template <class T>
void NativeToValueAdapter::PrimitiveMethod(const NativeConstPtr& source, const Destination& destination,
                                           WorkList&, std::list<BaseMessage>&) {
  *destination = DataValue::Create<T>(*source.As<T>());
}

template <class X, class Holder>
void NativeToValueAdapter::OptionalBeginMethod(const NativeConstPtr& source, const Destination& destination,
                                               WorkList& work, std::list<BaseMessage>&) {
  const Holder& holder = *source.As<Holder>();
  if (!holder) {
    *destination = OptionalValue::Unset();
    return;
  }
  std::shared_ptr<OptionalValue> optional = OptionalValue::GetInstance();
  *destination = optional;
  const X* content = &*holder;
  work.push_back(Entry{content, AdaptMethod<X>::Get(content), &optional->value()});
}

template <class E, class Container, int Kind>
void NativeToValueAdapter::ListBeginMethod(const NativeConstPtr& source, const Destination& destination,
                                           WorkList& work, std::list<BaseMessage>&) {
  const Container& container = *source.As<Container>();
  std::shared_ptr<ListValue> list = ListValue::GetInstance(Kind);
  const Method method = AdaptMethod<E>::Get();
  for (const E& element : container) work.push_back(Entry{&element, method, list->AppendSlot()});
  *destination = std::move(list);
}

template <class Map>
void NativeToValueAdapter::MapBeginMethod(const NativeConstPtr& source, const Destination& destination,
                                          WorkList& work, std::list<BaseMessage>&) {
  using Key = typename Map::key_type;
  using Mapped = typename Map::mapped_type;
  const Map& map = *source.As<Map>();
  std::shared_ptr<ListValue> list = ListValue::GetInstance(ListValue::kMapKind);
  *destination = list;
  const Method keyMethod = AdaptMethod<Key>::Get();
  const Method valueMethod = AdaptMethod<Mapped>::Get();
  const MapEntryNames& names = GetMapEntryNames();
  for (const auto& item : map) {
    std::shared_ptr<StructValue> entry = StructValue::GetInstance(names.entry, 2);
    work.push_back(Entry{&item.first, keyMethod, entry->ReserveField(names.key)});
    work.push_back(Entry{&item.second, valueMethod, entry->ReserveField(names.value)});
    list->Append(std::move(entry));
  }
}

template <class T>
void NativeToValueAdapter::SharedPtrMethod(const NativeConstPtr& source, const Destination& destination,
                                           WorkList& work, std::list<BaseMessage>& messages) {
  const std::shared_ptr<const T>& pointer = *source.As<std::shared_ptr<const T>>();
  if (pointer) {
    work.push_back(Entry{pointer.get(), AdaptMethod<T>::Get(pointer.get()), destination});
    return;
  }
  AppendUnsetField(messages, TypeInfo<T>::name());
  work.clear();
}

}  // namespace Data
}  // namespace Tovri
