template <> struct TypeInfo<$type> : StructTypeInfo<$type> { static std::string name() { return $name; } };
