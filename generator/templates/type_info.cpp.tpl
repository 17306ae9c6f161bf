std::string TypeInfo<$type>::name() {
  return $name;
}

auto TypeInfo<$type>::defaultInstance(
    const std::shared_ptr<const DataValue>&) -> std::shared_ptr<$type> {
  return std::make_shared<$type>();
}
