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
//   standard structures (LocalizableMessage, the nine standard errors,
//   OperationInput)   -> hand-written field lists in native_to_definition.cpp
//
// Generated code. Every native structure T lists its fields to this adapter,
// in declaration order, with the member's declared type as template argument:
//
//   struct AdapterHelper {
//     static void AddFields(
//         ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h) {
//       h.AddField<std::string>("hostname");
//       h.AddField<boost::optional<long long>>("port");
//       h.AddField<std::shared_ptr<const ::Ns::NetworkAddress>>("address");
//       h.AddField<::Ns::ProviderType>("type");
//       // A union case: member type, the annotations' tag list, the tag's
//       // index in it (0, "type") and the case predicate.
//       h.AddUnionCaseField<::Tovri::OptionalPtr<const ::Ns::NativeProviderInfo>,
//                           ::Ns::InfoAnnotations::UnionTags, 0,
//                           ::Tovri::Data::UnionCaseAnyEnumValue<::Ns::InfoAnnotations::NativeInfoUnionCases>>(
//           "native_info");
//     }
//     // ... the overloads of the other adapters
//   };
//
// A structure without fields gives an empty body. The definition of a named
// type (structure, enumeration, operation input, Void) is
// `NativeToDefinitionAdapter::Derive<T>()`, which runs
// `Adapt(AdaptMethod<T>::Get(), &result, messages)`; every call derives anew.
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

  // The begin step of T (any member type, see the table above).
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

  // Lists T's fields (its AdapterHelper; hand-written for the standard
  // structures).
  template <class T>
  void AddFields() {
    T::AdapterHelper::AddFields(*this);
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

// Field lists of the standard structures, which carry no AdapterHelper.
#define DRAL_N2D_STD_STRUCT(Type) \
  template <>                     \
  void NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::AddFields<Type>();
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::LocalizableMessage)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::Error)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::AlreadyExists)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::InvalidArgument)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::NotAllowedInCurrentState)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::NotFound)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::UnableToAllocateResource)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::Unauthenticated)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::Unauthorized)
DRAL_N2D_STD_STRUCT(::Com::Corvane::Tovri::Std::Errors::Unsupported)
DRAL_N2D_STD_STRUCT(::Tovri::OperationInput)
#undef DRAL_N2D_STD_STRUCT

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

namespace N2D_internal {

// Structures (the standard ones included) and enumerations. Kept apart from
// AdaptMethod so that the enumeration test, which needs a complete type, is
// never made on container and optional types.
template <class T, class Enable = void>
struct NamedMethod {
  static_assert(std::is_class<T>::value, "NativeToDefinitionAdapter: no definition for this type");
  static NativeToDefinitionAdapter::Method Get() { return &NativeToDefinitionAdapter::StructBeginMethod<T>; }
};

template <class T>
struct NamedMethod<T, std::enable_if_t<IsEnumeration<T>::value>> {
  static NativeToDefinitionAdapter::Method Get() {
    return &NativeToDefinitionAdapter::PrimitiveMethod<std::string>;
  }
};

}  // namespace N2D_internal

template <class T>
struct NativeToDefinitionAdapter::AdaptMethod {
  static Method Get() { return N2D_internal::NamedMethod<T>::Get(); }
};

#define DRAL_N2D_PRIMITIVE(Type)                           \
  template <>                                              \
  struct NativeToDefinitionAdapter::AdaptMethod<Type> {    \
    static Method Get() { return &PrimitiveMethod<Type>; } \
  };
DRAL_N2D_PRIMITIVE(std::string)
DRAL_N2D_PRIMITIVE(long long)
DRAL_N2D_PRIMITIVE(bool)
DRAL_N2D_PRIMITIVE(std::vector<unsigned char>)
DRAL_N2D_PRIMITIVE(SecretString)
DRAL_N2D_PRIMITIVE(Void)
#undef DRAL_N2D_PRIMITIVE

template <class T>
struct NativeToDefinitionAdapter::AdaptMethod<std::shared_ptr<const T>> {
  static Method Get() { return AdaptMethod<T>::Get(); }
};

template <class T>
struct NativeToDefinitionAdapter::AdaptMethod<OptionalPtr<const T>> {
  static Method Get() { return &CompositeBeginMethod<T, OptionalEnd>; }
};

template <class X>
struct NativeToDefinitionAdapter::AdaptMethod<boost::optional<X>> {
  static Method Get() { return &CompositeBeginMethod<X, OptionalEnd>; }
};

template <class X>
struct NativeToDefinitionAdapter::AdaptMethod<std::list<X>> {
  static Method Get() { return &CompositeBeginMethod<X, ListEnd>; }
};

template <class X>
struct NativeToDefinitionAdapter::AdaptMethod<std::set<X>> {
  static Method Get() { return &CompositeBeginMethod<X, ListEnd>; }
};

template <class K, class V>
struct NativeToDefinitionAdapter::AdaptMethod<std::map<K, V>> {
  static Method Get() { return &MapBeginMethod<K, V>; }
};

namespace N2D_internal {

// The content type of an optional member (the case type of a union case).
template <class Member>
struct OptionalContent;
template <class T>
struct OptionalContent<OptionalPtr<const T>> {
  using type = T;
};
template <class X>
struct OptionalContent<boost::optional<X>> {
  using type = X;
};

}  // namespace N2D_internal

template <class Member, class Tags, std::size_t Index, class Predicate>
void NativeToDefinitionAdapter::CompoundHelper<StructDefinition>::AddUnionCaseField(
    const std::string& wireName) {
  using Case = typename N2D_internal::OptionalContent<Member>::type;
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
