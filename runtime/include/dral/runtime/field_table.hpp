// Field tables: the one description of a structure's fields from which the
// adapters derive its conversions to and from values and its definition, and
// the validator its rules.
//
// The generator writes one table per structure and operation input in the
// unit's source, in member order:
//
//   constexpr FieldTable kInfo{
//       Field{"type", &Svc::Info::type},
//       UnionCase<Svc::InfoAnnotations::UnionTags, 0, Svc::InfoAnnotations::NativeInfoUnionCases>(
//           "native_info", &Svc::Info::nativeInfo, &Svc::Info::type, "nativeInfo")};
//
// An entry holds the wire name and the member pointer; what each adapter
// does with the member (and whether it is required, optional or a structure
// to descend into) follows from the member type through MemberTraits. A
// union case also names its tag member, the annotations' tag list with the
// tag's index in it, the tag values selecting the case and the case's
// member name for messages. The framework's standard structures have their
// tables here (StandardFields).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <utility>

#include <tovri/std/standard_types.hpp>

#include <dral/runtime/member_kind.hpp>

namespace Tovri {
namespace Data {

// A plain field: wire name and member.
template <class Owner, class Member>
struct Field {
  using Type = Member;
  static constexpr bool kUnionCase = false;

  constexpr Field(std::string_view wireName, Member Owner::*pointer) : wire(wireName), member(pointer) {}

  std::string_view wire;
  Member Owner::*member;
};

// A union case field: an optional member set exactly when the tag member
// holds one of `Cases`' values.
template <class Tags, std::size_t TagIndex, class Cases, class Owner, class Member, class Tag>
struct UnionCaseField : Field<Owner, Member> {
  static constexpr bool kUnionCase = true;
  using TagList = Tags;
  static constexpr std::size_t kTagIndex = TagIndex;
  using CaseValues = Cases;

  constexpr UnionCaseField(std::string_view wireName, Member Owner::*pointer, Tag Owner::*tagMember,
                           const char* nativeName)
      : Field<Owner, Member>(wireName, pointer), tag(tagMember), caseName(nativeName) {}

  Tag Owner::*tag;
  const char* caseName;  // lower camel case, as messages name the case
};

template <class Tags, std::size_t TagIndex, class Cases, class Owner, class Member, class Tag>
constexpr UnionCaseField<Tags, TagIndex, Cases, Owner, Member, Tag> UnionCase(std::string_view wire,
                                                                              Member Owner::*member,
                                                                              Tag Owner::*tag,
                                                                              const char* caseName) {
  static_assert(IsOptionalMember<Member>, "a union case field is optional");
  return {wire, member, tag, caseName};
}

// The fields of one structure, in member order.
template <class... Fields>
struct FieldTable {
  constexpr explicit FieldTable(Fields... entries) : fields(entries...), names{entries.wire...} {}

  // Calls `f(entry)` for every entry, in member order.
  template <class F>
  constexpr void ForEach(F&& f) const {
    std::apply([&](const Fields&... entry) { (f(entry), ...); }, fields);
  }

  std::tuple<Fields...> fields;
  // The wire names, in member order (the undeclared-field collection).
  std::array<std::string_view, sizeof...(Fields)> names;
};

template <class... Fields>
FieldTable(Fields...) -> FieldTable<Fields...>;

// The tables of the framework's standard structures: a localizable message
// has "id", "default_message", "args" and "localized"; every standard error
// "messages"; an operation input no field of its own.
template <class T>
constexpr auto StandardFields() {
  using ::Com::Corvane::Tovri::Std::LocalizableMessage;
  static_assert(IsStandardStructure<T>::value, "not a standard structure");
  if constexpr (std::is_same<T, LocalizableMessage>::value) {
    return FieldTable{
        Field{"id", &LocalizableMessage::id}, Field{"default_message", &LocalizableMessage::defaultMessage},
        Field{"args", &LocalizableMessage::args}, Field{"localized", &LocalizableMessage::localized}};
  } else if constexpr (IsStandardError<T>::value) {
    return FieldTable{Field{"messages", &::Com::Corvane::Tovri::Std::Errors::ErrorBase::messages}};
  } else {
    return FieldTable<>{};
  }
}

}  // namespace Data
}  // namespace Tovri
