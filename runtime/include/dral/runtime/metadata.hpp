// Struct metadata: which fields of a structure hold identifiers of which
// resource type.
//
// Only structures with identifier fields get a factory: the generator writes
// a `StructInfo::Create<T>` specialisation listing each identifier field's
// wire name with its resource type (MakeIdentifiers). Every call builds new
// objects.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include <boost/optional.hpp>

namespace Tovri {
namespace Metadata {

struct FieldInfo;

using FieldInfoMap = std::map<std::string, std::shared_ptr<const FieldInfo>>;

// One identifier field. Only `resourceType` carries information in this
// package; the other members keep their zero, false or empty values.
struct FieldInfo {
  std::int64_t attributes = 0;
  bool flag = false;
  std::string resourceType;
  FieldInfoMap nested;
  boost::optional<std::string> note;
};

// A structure with identifier fields, keyed by wire name.
struct StructInfo {
  using FieldMap = FieldInfoMap;

  std::int64_t attributes = 0;
  std::string name;
  boost::optional<std::string> note;
  FieldMap fields;

  // Specialised for each structure that has identifier fields; no factory
  // exists for the others.
  template <class T>
  static std::shared_ptr<StructInfo> Create();

  // A new description named `name` holding a copy of `fields`.
  static std::shared_ptr<StructInfo> Make(const std::string& name, const FieldMap& fields);

  // A new description named `name` whose fields are ordinary identifier
  // fields, given as (wire name, resource type).
  static std::shared_ptr<StructInfo> MakeIdentifiers(
      const std::string& name, std::initializer_list<std::pair<const char*, const char*>> identifiers);
};

// An ordinary identifier field of one resource type. The template arguments
// become the field's leading attributes (both 0 throughout this package).
template <int Attributes, int Flag>
struct RegularField {
  static std::shared_ptr<FieldInfo> GetInstance(const char* const (&resourceTypes)[1]) {
    auto field = std::make_shared<FieldInfo>();
    field->attributes = Attributes;
    field->flag = Flag != 0;
    field->resourceType = resourceTypes[0];
    return field;
  }
};

}  // namespace Metadata
}  // namespace Tovri
