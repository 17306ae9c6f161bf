template <> struct TypeInfo<$type> { static std::string name() { return $name; } };
