// Tag values for which "$field" is set.
struct $cls {
  struct Strings {
    static constexpr const char* values[] = {$values};
  };
};
