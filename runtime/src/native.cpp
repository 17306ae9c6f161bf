#include <dral/runtime/native.hpp>

namespace Tovri {
namespace Data {

void BaseNative::AdapterHelper::AddUnknownFields(const BaseNative& native,
                                                 std::shared_ptr<StructValue>& out) {
  if (!native.unknownFields || !out) return;
  for (const auto& field : native.unknownFields->GetFields()) out->SetField(field.first, field.second);
}

// Merge walk: both the field map and `declared` are in ascending byte order,
// so one pass decides every field.
void BaseNative::AdapterHelper::CollectUnknownFields(const boost::basic_string_view<char>* declared,
                                                     std::size_t count,
                                                     const std::shared_ptr<const StructValue>& source,
                                                     std::shared_ptr<StructValue>& holder) {
  if (!source) return;
  std::size_t i = 0;
  for (const auto& field : source->GetFields()) {
    const boost::string_view name(field.first);
    int order = 1;
    while (i < count) {
      order = CompareNames(name, declared[i]);
      if (order <= 0) break;
      ++i;
    }
    if (i < count && order == 0) {
      ++i;
      continue;
    }
    if (!holder) holder = StructValue::GetInstance("unknownFields");
    holder->SetField(field.first, field.second);
  }
}

void BaseNative::AdapterHelper::CollectUndeclaredFields(const std::string_view* declared, std::size_t count,
                                                        const std::shared_ptr<const StructValue>& source,
                                                        std::shared_ptr<StructValue>& holder) {
  if (!source) return;
  for (const auto& field : source->GetFields()) {
    const std::string_view name(field.first);
    std::size_t i = 0;
    while (i < count && declared[i] != name) ++i;
    if (i < count) continue;
    if (!holder) holder = StructValue::GetInstance("unknownFields");
    holder->SetField(field.first, field.second);
  }
}

}  // namespace Data
}  // namespace Tovri
