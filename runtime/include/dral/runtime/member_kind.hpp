// The one classification of native member types that the adapters, the
// validator and the field tables dispatch on.
//
//   std::string, long long, bool, std::vector<unsigned char>, SecretString,
//   Void                        -> kPrimitive
//   Enumeration<E> classes      -> kEnumeration
//   structures (BaseNative or a standard structure)
//                               -> kStructure
//   std::shared_ptr<const T>    -> kRequiredStructure  (Content = T)
//   OptionalPtr<const T>        -> kOptionalStructure  (Content = T)
//   boost::optional<X>          -> kOptional           (Content = X)
//   std::list<E>, std::set<E>   -> kList, kSet         (Content = E)
//   std::map<K, V>              -> kMap                (Key = K, Content = V)
//
// Any other type stops the build at the one static_assert below, whose
// diagnostic names the type.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/optional.hpp>

#include <tovri/std/standard_types.hpp>

#include <dral/runtime/native.hpp>

namespace Tovri {
namespace Data {

template <class... T>
struct TypeList {};

// The framework's standard errors: the one list every adapter and table
// reads them from.
using StandardErrors =
    TypeList<::Com::Corvane::Tovri::Std::Errors::Error, ::Com::Corvane::Tovri::Std::Errors::AlreadyExists,
             ::Com::Corvane::Tovri::Std::Errors::InvalidArgument,
             ::Com::Corvane::Tovri::Std::Errors::NotAllowedInCurrentState,
             ::Com::Corvane::Tovri::Std::Errors::NotFound,
             ::Com::Corvane::Tovri::Std::Errors::UnableToAllocateResource,
             ::Com::Corvane::Tovri::Std::Errors::Unauthenticated,
             ::Com::Corvane::Tovri::Std::Errors::Unauthorized,
             ::Com::Corvane::Tovri::Std::Errors::Unsupported>;

template <class T, class List>
struct IsListed;
template <class T, class... Listed>
struct IsListed<T, TypeList<Listed...>> : std::disjunction<std::is_same<T, Listed>...> {};

template <class T>
using IsStandardError = IsListed<T, StandardErrors>;

// The framework's structures, which carry no AdapterHelper: their field
// tables are the runtime's own (field_table.hpp).
template <class T>
using IsStandardStructure =
    std::disjunction<IsStandardError<T>, std::is_same<T, ::Com::Corvane::Tovri::Std::LocalizableMessage>,
                     std::is_same<T, OperationInput>>;

// Structures deriving from BaseNative: the package's own (and test) ones,
// which keep undeclared fields and have validation rules.
template <class T>
using IsNativeStructure = std::is_base_of<BaseNative, T>;

enum class MemberKind {
  kPrimitive,
  kEnumeration,
  kStructure,
  kRequiredStructure,
  kOptionalStructure,
  kOptional,
  kList,
  kSet,
  kMap,
  kUnsupported,  // only after the static_assert below has failed
};

// Named only by the static_assert, so that its diagnostic shows the type.
template <class T>
struct UnsupportedMemberType {
  static constexpr bool value = false;
};

namespace MemberKind_internal {

template <MemberKind K, class C = void>
struct Kind {
  static constexpr MemberKind kind = K;
  using Content = C;
};

template <class T>
using IsPrimitive = std::disjunction<std::is_same<T, std::string>, std::is_same<T, long long>,
                                     std::is_same<T, bool>, std::is_same<T, std::vector<unsigned char>>,
                                     std::is_same<T, SecretString>, std::is_same<T, Void>>;

// Primitives, enumerations and structures: the tests that need a complete
// type, kept apart so that they are never made on pointer, optional or
// container types (whose contents may still be incomplete).
template <class T, class Enable = void>
struct Named : Kind<MemberKind::kUnsupported> {
  static_assert(UnsupportedMemberType<T>::value, "no conversion for this native member type");
};
template <class T>
struct Named<T, std::enable_if_t<IsPrimitive<T>::value>> : Kind<MemberKind::kPrimitive> {};
template <class T>
struct Named<T, std::enable_if_t<IsEnumeration<T>::value>> : Kind<MemberKind::kEnumeration> {};
template <class T>
struct Named<T, std::enable_if_t<IsNativeStructure<T>::value || IsStandardStructure<T>::value>>
    : Kind<MemberKind::kStructure, T> {};

}  // namespace MemberKind_internal

// `kind`, and `Content` for pointers, optionals and containers.
template <class T>
struct MemberTraits : MemberKind_internal::Named<T> {};
template <class T>
struct MemberTraits<std::shared_ptr<const T>> : MemberKind_internal::Kind<MemberKind::kRequiredStructure, T> {
};
template <class T>
struct MemberTraits<OptionalPtr<const T>> : MemberKind_internal::Kind<MemberKind::kOptionalStructure, T> {};
template <class X>
struct MemberTraits<boost::optional<X>> : MemberKind_internal::Kind<MemberKind::kOptional, X> {};
template <class E>
struct MemberTraits<std::list<E>> : MemberKind_internal::Kind<MemberKind::kList, E> {};
template <class E>
struct MemberTraits<std::set<E>> : MemberKind_internal::Kind<MemberKind::kSet, E> {};
template <class K, class V>
struct MemberTraits<std::map<K, V>> : MemberKind_internal::Kind<MemberKind::kMap, V> {
  using Key = K;
};

template <class T>
constexpr MemberKind KindOf = MemberTraits<T>::kind;

// Either form of optional member: an absent field leaves it unset.
template <class T>
constexpr bool IsOptionalMember =
    KindOf<T> == MemberKind::kOptional || KindOf<T> == MemberKind::kOptionalStructure;

// A required structure member the validator descends into.
template <class T>
constexpr bool IsValidatedRequired = [] {
  if constexpr (KindOf<T> == MemberKind::kRequiredStructure) {
    return IsNativeStructure<typename MemberTraits<T>::Content>::value;
  } else {
    return false;
  }
}();

// A structure parameter of an operation input, required or optional, that the
// validator descends into.
template <class T>
constexpr bool IsValidatedParameter = [] {
  if constexpr (KindOf<T> == MemberKind::kRequiredStructure || KindOf<T> == MemberKind::kOptionalStructure) {
    return IsNativeStructure<typename MemberTraits<T>::Content>::value;
  } else {
    return false;
  }
}();

}  // namespace Data
}  // namespace Tovri
