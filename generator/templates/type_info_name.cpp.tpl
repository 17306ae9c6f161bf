std::string TypeInfo<$type>::name() {
  return $name;
}
