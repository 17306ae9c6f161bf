template <>
struct TypeInfo<$type> {
  static std::string name();
  static std::shared_ptr<$type>
  defaultInstance(const std::shared_ptr<const DataValue>& value);
};
