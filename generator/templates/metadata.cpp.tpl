template <> std::shared_ptr<StructInfo> StructInfo::Create<$type>() {
  return MakeIdentifiers($name, {$fields});
}
