// Validation of native structures before an implementation sees them.
//
// Checks, in this order, each ending the validation at its first failure:
//   - undeclared fields (REJECT_EXTRA_FIELDS only): one
//      "tovri.data.compound.field.extra" (native class name, field name, "")
//      per field of the holder in ascending name order; an input then adds
//      "tovri.invoke.invalid.input" (operation). A present but empty holder
//      fails too, with no field message.
//   - required structure fields, in declaration order: a null one fails
//      silently, a present one is validated with the same policy.
//   - union case fields against the tag: "...isnotset.short" or
//      "...isset.short" (structure wire name, case field in lower camel
//      case), or "tovri.data.union.missing.tag.field" ("type") for an
//      `_UNKNOWN` tag with no case set.
//   - structure parameters of an operation input: a null required one adds
//      "tovri.invoke.invalid.input"; an unset optional one is skipped; a
//      present one is validated with REJECT_EXTRA_FIELDS and, when it fails,
//      "tovri.invoke.invalid.input" follows its own messages.
// Nested structures are validated with an explicit stack, not by recursion.
//
// A structure's rules come from its field table (field_table.hpp): the
// generated Rules<X>::Check runs Checker::CheckTable, or CheckInputTable for
// an operation input, which derive the checks above from the table's entries
// and their MemberTraits; isValid<X> runs Validate.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <tovri/core/message.hpp>
#include <tovri/core/type_info.hpp>

#include <dral/runtime/field_table.hpp>
#include <dral/runtime/member_kind.hpp>
#include <dral/runtime/message.hpp>
#include <dral/runtime/native.hpp>

namespace Tovri {
namespace Data {
namespace Validator {

enum Policy : int {
  // Undeclared fields are ignored.
  ALLOW_EXTRA_FIELDS = 0,
  // Each undeclared field is reported and makes the structure invalid.
  REJECT_EXTRA_FIELDS = 1,
};

// Validates `value`, appending what it finds to `messages`; true when no
// check failed. Specialised per structure and operation input.
template <class T>
bool isValid(const T& value, Policy policy, std::list<BaseMessage>& messages);

class Checker;

// The checks of one structure type: `static bool Check(const T&, Checker&)`.
template <class T>
struct Rules;

namespace Detail {

// Runs T's checks on `object`; false ends the validation.
using ExpandFn = bool (*)(const void* object, Checker& checker);

template <class T>
bool Expand(const void* object, Checker& checker) {
  return Rules<T>::Check(*static_cast<const T*>(object), checker);
}

// One unit of pending work.
struct Task {
  enum Kind {
    kStructure,  // validate `object`; a null one fails silently
    kParameter,  // an input's structure parameter; a null one fails with `operation`
    kInputEnd,   // passed: the parameter validated; met while failing: report `operation`
  };
  Kind kind;
  const void* object;
  ExpandFn expand;
  Policy policy;
  const char* operation;
};

// Validates `object` with `expand` and every descent it queues.
bool Run(const void* object, ExpandFn expand, Policy policy, std::list<BaseMessage>& messages);

}  // namespace Detail

// The checks a structure's Rules use. The Check* operations run at once and
// return false on failure; the Descend* operations queue a nested
// validation, run after the structure's own checks, and return true.
class Checker {
 public:
  Checker(Policy policy, std::list<BaseMessage>& messages, std::vector<Detail::Task>& queued) noexcept
      : policy_(policy), messages_(&messages), queued_(&queued) {}

  Policy GetPolicy() const noexcept { return policy_; }

  // A structure's checks from its table: undeclared fields, then descents
  // into the required structure fields, then the union cases, in member
  // order. `nativeName` is the class name with leading "::".
  template <class T, class... Fields>
  bool CheckTable(const T& value, const FieldTable<Fields...>& table, const char* nativeName);
  // An operation input's checks from its table: undeclared fields, then
  // descents into the structure parameters, required or optional.
  // `operation` is the operation's native name.
  template <class T, class... Fields>
  bool CheckInputTable(const T& value, const FieldTable<Fields...>& table, const char* nativeName,
                       const char* operation);

  // Undeclared fields. `nativeName` is the class name with leading "::".
  bool CheckUndeclaredFields(const BaseNative& value, const char* nativeName);
  // Undeclared fields of an operation input; `operation` is the operation's native name.
  bool CheckInputUndeclaredFields(const BaseNative& value, const char* nativeName, const char* operation);

  // One union case field against the tag. `Tags::Strings::values[TagIndex]` names the
  // tag field, `Cases` lists the tag values selecting the case; `caseName`
  // is the case field's lower-camel name.
  template <class Tags, std::size_t TagIndex, class Cases, class T, class Tag, class Member>
  bool CheckUnionCase(const T& value, const Tag& tag, const Member& caseField, const char* caseName);

  // One required structure field.
  template <class U>
  bool DescendRequired(const std::shared_ptr<const U>& field) {
    queued_->push_back(
        Detail::Task{Detail::Task::kStructure, field.get(), &Detail::Expand<U>, policy_, nullptr});
    return true;
  }
  // Optional structure fields are never descended into.
  template <class U>
  bool DescendRequired(const OptionalPtr<const U>& field) = delete;

  // One structure parameter of an operation input.
  template <class U>
  bool DescendParameter(const std::shared_ptr<const U>& parameter, const char* operation) {
    queued_->push_back(Detail::Task{Detail::Task::kParameter, parameter.get(), &Detail::Expand<U>,
                                    REJECT_EXTRA_FIELDS, operation});
    return true;
  }
  template <class U>
  bool DescendParameter(const OptionalPtr<const U>& parameter, const char* operation) {
    if (!parameter) return true;
    return DescendParameter(static_cast<const std::shared_ptr<const U>&>(parameter), operation);
  }

 private:
  bool ReportUndeclared(const BaseNative& value, const char* nativeName, const char* operation);
  void Report(MessageId id, const std::string& structName, const char* caseName);
  void ReportMissingTag(const char* tagField);

  Policy policy_;
  std::list<BaseMessage>* messages_;
  std::vector<Detail::Task>* queued_;
};

template <class Tags, std::size_t TagIndex, class Cases, class T, class Tag, class Member>
bool Checker::CheckUnionCase(const T&, const Tag& tag, const Member& caseField, const char* caseName) {
  const bool set = static_cast<bool>(caseField);
  const bool selects = !tag.IsUnknown() && static_cast<bool>(UnionCaseAnyEnumValue<Cases>()(tag.ToString()));
  if (selects) {
    if (set) return true;
    Report(MessageIds::kUnionCaseNotSetShort, TypeInfo<T>::name(), caseName);
    return false;
  }
  if (set) {
    Report(MessageIds::kUnionCaseSetShort, TypeInfo<T>::name(), caseName);
    return false;
  }
  if (tag.IsUnknown()) {
    ReportMissingTag(Tags::Strings::values[TagIndex]);
    return false;
  }
  return true;
}

template <class T, class... Fields>
bool Checker::CheckTable(const T& value, const FieldTable<Fields...>& table, const char* nativeName) {
  if (!CheckUndeclaredFields(value, nativeName)) return false;
  table.ForEach([&](const auto& field) {
    if constexpr (IsValidatedRequired<typename std::decay_t<decltype(field)>::Type>) {
      DescendRequired(value.*field.member);
    }
  });
  bool valid = true;
  table.ForEach([&](const auto& field) {
    using Entry = std::decay_t<decltype(field)>;
    if constexpr (Entry::kUnionCase) {
      valid = valid && CheckUnionCase<typename Entry::TagList, Entry::kTagIndex, typename Entry::CaseValues>(
                           value, value.*field.tag, value.*field.member, field.caseName);
    }
  });
  return valid;
}

template <class T, class... Fields>
bool Checker::CheckInputTable(const T& value, const FieldTable<Fields...>& table, const char* nativeName,
                              const char* operation) {
  if (!CheckInputUndeclaredFields(value, nativeName, operation)) return false;
  table.ForEach([&](const auto& field) {
    if constexpr (IsValidatedParameter<typename std::decay_t<decltype(field)>::Type>) {
      DescendParameter(value.*field.member, operation);
    }
  });
  return true;
}

// The body of every isValid specialisation.
template <class T>
bool Validate(const T& value, Policy policy, std::list<BaseMessage>& messages) {
  return Detail::Run(&value, &Detail::Expand<T>, policy, messages);
}

}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
