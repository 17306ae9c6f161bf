// Data definitions: the shapes values are checked against.
//
// Definitions are immutable once built (a structure reference is bound once,
// right after the derivation that made it) and shared by pointer. A
// structure reference holds its target weakly, so a self-referring definition
// forms no ownership cycle: whoever holds the outer definition keeps the
// target alive.
#pragma once

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

#include <boost/logic/tribool.hpp>

#include <tovri/core/message.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Data {

class DataDefinition;
using DefinitionPtr = std::shared_ptr<const DataDefinition>;

class DataDefinition {
 public:
  // The type code of the values described (kStructRef and kUnionCase for
  // those two definitions).
  virtual int GetType() const noexcept = 0;
  virtual ~DataDefinition();

  DataDefinition(const DataDefinition&) = delete;
  DataDefinition& operator=(const DataDefinition&) = delete;

  // The definition of a primitive. Specialised for std::string, long long,
  // bool, double, Blob, SecretString and Void.
  template <class T>
  static DefinitionPtr Create();

 protected:
  DataDefinition() = default;
};

// A kind without a shape of its own: string, integer, boolean, double, blob,
// secret, void, and also kError (an error of any id) and kDynamicStruct (any
// structure). Instances are immutable and shared, one per code.
class PrimitiveDefinition final : public DataDefinition {
 public:
  // Null for any other code: the shaped kinds (structure, list, optional,
  // reference, union case) have their own classes, and the check relies on
  // a definition's code naming its class.
  static std::shared_ptr<const PrimitiveDefinition> GetInstance(int typeCode);
  int GetType() const noexcept override { return code_; }

 private:
  explicit PrimitiveDefinition(int code) : code_(code) {}
  int code_;
};

class StructDefinition final : public DataDefinition {
 public:
  using FieldMap = std::map<std::string, DefinitionPtr>;

  static std::shared_ptr<const StructDefinition> GetInstance(const std::string& name, const FieldMap& fields);
  int GetType() const noexcept override { return kStruct; }
  const std::string& GetName() const noexcept { return name_; }
  const FieldMap& GetFields() const noexcept { return fields_; }

  StructDefinition(std::string name, FieldMap fields) : name_(std::move(name)), fields_(std::move(fields)) {}

 private:
  std::string name_;
  FieldMap fields_;
};

// Stands for a structure that contains itself. Bound, after the walk that
// made it, to the structure's definition, which it holds weakly.
class StructRefDefinition final : public DataDefinition {
 public:
  static std::shared_ptr<StructRefDefinition> GetInstance(const std::string& name);
  int GetType() const noexcept override { return kStructRef; }
  const std::string& GetName() const noexcept { return name_; }

  // Binds the reference; the target's name must equal the reference's.
  void Bind(const std::shared_ptr<const StructDefinition>& target) noexcept { target_ = target; }
  // The target, or null while unbound or after the target died.
  std::shared_ptr<const StructDefinition> GetTarget() const noexcept { return target_.lock(); }

  explicit StructRefDefinition(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
  std::weak_ptr<const StructDefinition> target_;
};

class ListDefinition final : public DataDefinition {
 public:
  static std::shared_ptr<const ListDefinition> GetInstance(DefinitionPtr element);
  int GetType() const noexcept override { return kList; }
  const DefinitionPtr& GetElement() const noexcept { return element_; }
  explicit ListDefinition(DefinitionPtr element) : element_(std::move(element)) {}

 private:
  DefinitionPtr element_;
};

class OptionalDefinition final : public DataDefinition {
 public:
  static std::shared_ptr<const OptionalDefinition> GetInstance(DefinitionPtr element);
  int GetType() const noexcept override { return kOptional; }
  const DefinitionPtr& GetElement() const noexcept { return element_; }
  explicit OptionalDefinition(DefinitionPtr element) : element_(std::move(element)) {}

 private:
  DefinitionPtr element_;
};

// A field of a union structure: an optional field of the case's kind that may
// be set only while the structure's tag field holds a value selecting it.
class UnionCaseDefinition final : public DataDefinition {
 public:
  using Predicate = std::function<boost::logic::tribool(const std::string& tagValue)>;

  static std::shared_ptr<const UnionCaseDefinition> GetInstance(DefinitionPtr caseDefinition,
                                                                const std::string& tagField,
                                                                Predicate predicate);
  int GetType() const noexcept override { return kUnionCase; }
  const DefinitionPtr& GetCase() const noexcept { return case_; }
  const std::string& GetTagField() const noexcept { return tagField_; }
  // True only when the predicate answers true for `tagValue`.
  bool Selects(const std::string& tagValue) const;

  UnionCaseDefinition(DefinitionPtr caseDefinition, std::string tagField, Predicate predicate)
      : case_(std::move(caseDefinition)), tagField_(std::move(tagField)), predicate_(std::move(predicate)) {}

 private:
  DefinitionPtr case_;
  std::string tagField_;
  Predicate predicate_;
};

// Checks `value` against `definition`, appending one message per mismatch:
// wrong kind, wrong structure name, missing required field, bad element (the
// element's own mismatch, with its position), a union case set while the tag
// does not select it. Fields the definition does not declare are allowed
// (they are the bindings' undeclared fields). Iterative; returns true when no
// message was appended.
bool CheckValue(const DataDefinition& definition, const ValuePtr& value, std::list<BaseMessage>& messages);

template <>
DefinitionPtr DataDefinition::Create<std::string>();
template <>
DefinitionPtr DataDefinition::Create<long long>();
template <>
DefinitionPtr DataDefinition::Create<bool>();
template <>
DefinitionPtr DataDefinition::Create<double>();
template <>
DefinitionPtr DataDefinition::Create<Blob>();
template <>
DefinitionPtr DataDefinition::Create<SecretString>();
template <>
DefinitionPtr DataDefinition::Create<Void>();

}  // namespace Data
}  // namespace Tovri
