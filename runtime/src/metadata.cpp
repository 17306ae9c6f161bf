#include <dral/runtime/metadata.hpp>

namespace Tovri {
namespace Metadata {

std::shared_ptr<StructInfo> StructInfo::Make(const std::string& name, const FieldMap& fields) {
  auto info = std::make_shared<StructInfo>();
  info->name = name;
  info->fields = fields;
  return info;
}

}  // namespace Metadata
}  // namespace Tovri
