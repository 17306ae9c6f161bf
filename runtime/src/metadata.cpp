#include <dral/runtime/metadata.hpp>

namespace Tovri {
namespace Metadata {

std::shared_ptr<StructInfo> StructInfo::Make(const std::string& name, const FieldMap& fields) {
  auto info = std::make_shared<StructInfo>();
  info->name = name;
  info->fields = fields;
  return info;
}

std::shared_ptr<StructInfo> StructInfo::MakeIdentifiers(
    const std::string& name, std::initializer_list<std::pair<const char*, const char*>> identifiers) {
  auto info = std::make_shared<StructInfo>();
  info->name = name;
  for (const auto& identifier : identifiers) {
    const char* const resourceTypes[1] = {identifier.second};
    info->fields[identifier.first] = RegularField<0, 0>::GetInstance(resourceTypes);
  }
  return info;
}

}  // namespace Metadata
}  // namespace Tovri
