template <> std::shared_ptr<StructInfo> StructInfo::Create<$type>();
