// Derivation of data definitions from native types.
//
// Shapes derived (they describe what native_to_value.hpp writes):
//   std::string, long long, bool, std::vector<unsigned char>, SecretString,
//   Void              -> DataDefinition::Create<T>()
//   enumeration       -> the string definition
//   structure T       -> StructDefinition named TypeInfo<T>::name(), fields by
//                        wire name; one shared definition per type and
//                        derivation; inside itself a StructRefDefinition of
//                        the same name, bound (weakly) once the walk is done
//   std::shared_ptr<const T>          -> T's definition
//   OptionalPtr<const T>, boost::optional<X>
//                     -> OptionalDefinition of T's or X's definition
//   std::list<X>, std::set<X>         -> ListDefinition of X's definition
//   std::map<K, V>    -> ListDefinition of a "map-entry" structure with "key"
//                        and "value" (never shared between map types)
//   union case field  -> UnionCaseDefinition of the case content's definition
//                        (not wrapped in an optional), with the tag field's
//                        name and the case predicate
//
// A structure lists its fields through its field table (field_table.hpp):
// its AdapterHelper's AddFields forwards to CompoundHelper::AddTable, which
// adds one field per entry in member order (a union case entry as a union
// case field); the standard structures use the runtime's own tables. The
// definition of a named type (structure, enumeration, operation input, Void)
// is `NativeToDefinitionAdapter::Derive<T>()`; every call derives anew.
#pragma once

#include <cstddef>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/optional.hpp>

#include <tovri/core/definition.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/type_info.hpp>
#include <tovri/std/standard_types.hpp>

#include <dral/runtime/adapt_common.hpp>
#include <dral/runtime/field_table.hpp>
#include <dral/runtime/member_kind.hpp>
#include <dral/runtime/native.hpp>

namespace Tovri {
namespace Data {

namespace N2D_internal {
struct StackMapCnt;
}  // namespace N2D_internal

class NativeToDefinitionAdapter {
 public:
  // What an end step needs; a default SrcType has every member empty.
  struct SrcType {
    // A container's element slot, kept alive until the container's end step.
    std::shared_ptr<std::shared_ptr<const DataDefinition>> slot;
    // A structure's field map, or a "map-entry" structure's.
    std::shared_ptr<StructDefinition::FieldMap> fields;
    std::string name;
    // A structure reference awaiting ResolveMethod.
    std::shared_ptr<StructRefDefinition> ref;
    // A structure type's identity: the address of its StructBeginMethod.
    void* key = nullptr;
  };

  using Destination = std::shared_ptr<const DataDefinition>*;
  using Messages = const std::list<BaseMessage>;
  using StackMapCnt = N2D_internal::StackMapCnt;
  using Entry = BasicAdaptEntry<SrcType, Destination, StackMapCnt, Messages>;
  using Method = Entry::Method;

  // Runs a derivation rooted at `step` into `*dest`. Reports nothing:
  // `messages` is only passed along.
  static void Adapt(Method step, const Destination& dest, Messages& messages);

  // The definition of T, derived afresh.
  template <class T>
  static std::shared_ptr<const DataDefinition> Derive() {
    std::shared_ptr<const DataDefinition> result;
    const std::list<BaseMessage> messages;
    Adapt(AdaptMethod<T>::Get(), &result, messages);
    return result;
  }

  // The definitions of `T...`, in that order (an operation's errors).
  template <class... T>
  static std::list<std::shared_ptr<const DataDefinition>> DeriveAll() {
    return {Derive<T>()...};
  }

  // The begin step of T (any member type, see the table above), chosen by
  // its MemberTraits kind.
  template <class T>
  struct AdaptMethod;

  template <class Compound>
  class CompoundHelper;

  // End tags of the composite steps; Get() gives the end step.
  struct OptionalEnd;
  struct ListEnd;
  struct StructEnd;
  template <class Tags, std::size_t Index, class Predicate>
  struct UnionCaseEnd;

  // --- Steps (one signature) -----------------------------------------------

  template <class T>
  static void PrimitiveMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                              Messages& messages);
  template <class T>
  static void StructBeginMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                Messages& messages);
  template <class Compound>
  static void CompoundEndMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                Messages& messages);
  // Binds `src.ref` to the finished definition recorded under `src.key`.
  static void ResolveMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                            Messages& messages);
  template <class X, class End>
  static void CompositeBeginMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                   Messages& messages);
  template <class Definition>
  static void CompositeEndMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                 Messages& messages);
  template <class Tags, std::size_t Index, class Predicate>
  static void UnionCaseEndMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                 Messages& messages);
  template <class K, class V>
  static void MapBeginMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                             Messages& messages);
  static void MapEndMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                           Messages& messages);

  // Not a step: the body of StructBeginMethod, `key` being T's identity.
  template <class T, class Helper>
  static void CompoundBeginMethod(const SrcType& src, const Destination& dest, StackMapCnt& stack,
                                  Messages& messages, void* key);

 private:
  // Stores the reference for a structure met inside itself and queues its
  // resolution after all other work.
  static void ReferToEnclosing(const std::string& name, void* key, const Destination& dest,
                               StackMapCnt& stack);
};

namespace N2D_internal {

// The state of one derivation: the work stack (taken from the back) and the
// structures met so far. A key absent from `definitions` has not been met;
// present with a null pointer it is being derived; otherwise finished.
struct StackMapCnt : std::deque<NativeToDefinitionAdapter::Entry> {
  std::map<void*, std::shared_ptr<const DataDefinition>> definitions;

  // Whether `key` is present; its stored pointer goes to `out`.
  bool GetDef(void* key, std::shared_ptr<const DataDefinition>& out) const;
  // Inserts or overwrites.
  void SetDef(void* key, std::shared_ptr<const DataDefinition> definition);
};

}  // namespace N2D_internal

// Builds one structure: owns its new field map and queues work on the stack.
template <>
class NativeToDefinitionAdapter::CompoundHelper<StructDefinition> {
 public:
  explicit CompoundHelper(StackMapCnt& stack);

  // Queues the structure's end step, which builds the definition named
  // `name` from the field map into `*dest` and records it under `key`.
  // Must come before the fields, so that they are derived first.
  template <class End>
  void Start(const std::string& name, void* key, const Destination& dest) {
    Start(name, key, dest, End::Get());
  }
  void Start(const std::string& name, void* key, const Destination& dest, Method end);

  // Lists T's fields: a standard structure's from its table, any other's
  // through its AdapterHelper.
  template <class T>
  void AddFields() {
    if constexpr (IsStandardStructure<T>::value) {
      AddTable(StandardFields<T>());
    } else {
      T::AdapterHelper::AddFields(*this);
    }
  }

  // One field per entry of `table`, in member order.
  template <class... Fields>
  void AddTable(const FieldTable<Fields...>& table) {
    table.ForEach([&](const auto& field) {
      using Entry = std::decay_t<decltype(field)>;
      if constexpr (Entry::kUnionCase) {
        AddUnionCaseField<typename Entry::Type, typename Entry::TagList, Entry::kTagIndex,
                          UnionCaseAnyEnumValue<typename Entry::CaseValues>>(std::string(field.wire));
      } else {
        AddField<typename Entry::Type>(std::string(field.wire));
      }
    });
  }

  // An (empty) field entry plus the queued derivation of the member type
  // into it.
  template <class FieldType>
  void AddField(const std::string& wireName) {
    AddField(wireName, AdaptMethod<FieldType>::Get());
  }
  void AddField(const std::string& wireName, Method begin);

  // A union case field: `Member` is the optional member type; the case's
  // definition is that of its content.
  template <class Member, class Tags, std::size_t Index, class Predicate>
  void AddUnionCaseField(const std::string& wireName);

  const std::shared_ptr<StructDefinition::FieldMap>& GetFields() const noexcept { return fields_; }

 private:
  std::shared_ptr<StructDefinition::FieldMap> fields_;
  StackMapCnt* stack_;
};

// The helper a structure's AdapterHelper::AddFields receives.
using N2DHelper = NativeToDefinitionAdapter::CompoundHelper<StructDefinition>;

// The end steps, defined in native_to_definition.cpp.
template <>
void NativeToDefinitionAdapter::CompoundEndMethod<StructDefinition>(const SrcType& src,
                                                                    const Destination& dest,
                                                                    StackMapCnt& stack, Messages& messages);
template <>
void NativeToDefinitionAdapter::CompositeEndMethod<OptionalDefinition>(const SrcType& src,
                                                                       const Destination& dest,
                                                                       StackMapCnt& stack,
                                                                       Messages& messages);
template <>
void NativeToDefinitionAdapter::CompositeEndMethod<ListDefinition>(const SrcType& src,
                                                                   const Destination& dest,
                                                                   StackMapCnt& stack, Messages& messages);

// --- End tags ---------------------------------------------------------------

struct NativeToDefinitionAdapter::OptionalEnd {
  static Method Get() { return &CompositeEndMethod<OptionalDefinition>; }
};

struct NativeToDefinitionAdapter::ListEnd {
  static Method Get() { return &CompositeEndMethod<ListDefinition>; }
};

struct NativeToDefinitionAdapter::StructEnd {
  static Method Get() { return &CompoundEndMethod<StructDefinition>; }
};

template <class Tags, std::size_t Index, class Predicate>
struct NativeToDefinitionAdapter::UnionCaseEnd {
  static Method Get() { return &UnionCaseEndMethod<Tags, Index, Predicate>; }
};

// --- Begin step selection ---------------------------------------------------

template <class T>
struct NativeToDefinitionAdapter::AdaptMethod {
  static Method Get() {
    using Content = typename MemberTraits<T>::Content;
    constexpr MemberKind kind = KindOf<T>;
    if constexpr (kind == MemberKind::kPrimitive) {
      return &PrimitiveMethod<T>;
    } else if constexpr (kind == MemberKind::kEnumeration) {
      return &PrimitiveMethod<std::string>;
    } else if constexpr (kind == MemberKind::kStructure) {
      return &StructBeginMethod<T>;
    } else if constexpr (kind == MemberKind::kRequiredStructure) {
      return AdaptMethod<Content>::Get();
    } else if constexpr (kind == MemberKind::kOptional || kind == MemberKind::kOptionalStructure) {
      return &CompositeBeginMethod<Content, OptionalEnd>;
    } else if constexpr (kind == MemberKind::kList || kind == MemberKind::kSet) {
      return &CompositeBeginMethod<Content, ListEnd>;
    } else if constexpr (kind == MemberKind::kMap) {
      return &MapBeginMethod<typename MemberTraits<T>::Key, Content>;
    } else {
      return nullptr;  // unsupported: MemberTraits has stopped the build
    }
  }
};

template <class Member, class Tags, std::size_t Index, class Predicate>
void NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::AddUnionCaseField(
    const std::string& wireName) {
  static_assert(IsOptionalMember<Member>, "a union case member is optional");
  using Case = typename MemberTraits<Member>::Content;
  AddField(wireName, &CompositeBeginMethod<Case, UnionCaseEnd<Tags, Index, Predicate>>);
}

// --- Steps --------------------------------------------------------------------

template <class T>
void NativeToDefinitionAdapter::PrimitiveMethod(const SrcType&, const Destination& dest, StackMapCnt&,
                                                Messages&) {
  *dest = DataDefinition::Create<T>();
}

template <class T>
void NativeToDefinitionAdapter::StructBeginMethod(const SrcType& src, const Destination& dest,
                                                  StackMapCnt& stack, Messages& messages) {
  // Converting a function pointer to void* is conditionally supported; every
  // supported compiler accepts it on this platform.
  void* const key = reinterpret_cast<void*>(&StructBeginMethod<T>);
  CompoundBeginMethod<T, CompoundHelper<StructDefinition>>(src, dest, stack, messages, key);
}

template <class T, class Helper>
void NativeToDefinitionAdapter::CompoundBeginMethod(const SrcType&, const Destination& dest,
                                                    StackMapCnt& stack, Messages&, void* key) {
  std::shared_ptr<const DataDefinition> known;
  if (!stack.GetDef(key, known)) {
    stack.SetDef(key, nullptr);
    Helper helper(stack);
    helper.template Start<StructEnd>(TypeInfo<T>::name(), key, dest);
    helper.template AddFields<T>();
  } else if (!known) {
    ReferToEnclosing(TypeInfo<T>::name(), key, dest, stack);
  } else {
    *dest = std::move(known);
  }
}

template <class X, class End>
void NativeToDefinitionAdapter::CompositeBeginMethod(const SrcType& src, const Destination& dest,
                                                     StackMapCnt& stack, Messages&) {
  SrcType end;
  end.slot = std::make_shared<std::shared_ptr<const DataDefinition>>();
  Destination element = end.slot.get();
  stack.push_back(Entry{std::move(end), End::Get(), dest});
  stack.push_back(Entry{src, AdaptMethod<X>::Get(), element});
}

template <class Tags, std::size_t Index, class Predicate>
void NativeToDefinitionAdapter::UnionCaseEndMethod(const SrcType& src, const Destination& dest, StackMapCnt&,
                                                   Messages&) {
  *dest = UnionCaseDefinition::GetInstance(*src.slot, Tags::Strings::values[Index], Predicate());
}

template <class K, class V>
void NativeToDefinitionAdapter::MapBeginMethod(const SrcType&, const Destination& dest, StackMapCnt& stack,
                                               Messages&) {
  SrcType end;
  end.fields = std::make_shared<StructDefinition::FieldMap>();
  StructDefinition::FieldMap& entry = *end.fields;
  stack.push_back(Entry{std::move(end), &MapEndMethod, dest});
  stack.push_back(Entry{SrcType(), AdaptMethod<K>::Get(), &entry["key"]});
  stack.push_back(Entry{SrcType(), AdaptMethod<V>::Get(), &entry["value"]});
}

}  // namespace Data
}  // namespace Tovri
