template <>
std::shared_ptr<StructInfo> StructInfo::Create<$type>() {
$resource_types
  StructInfo::FieldMap fields;
$fields
  return StructInfo::Make($name, fields);
}
