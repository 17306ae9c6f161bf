struct Constants {
  static constexpr const char* RESOURCE_TYPE = $resource_type;
};
