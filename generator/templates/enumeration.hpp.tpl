// Enumeration "$wire".
class $name : public ::Tovri::Data::Enumeration<$name> {
 public:
  enum Value : std::int32_t { $enumerators };
  struct Strings {
    static constexpr const char* values[] = {$strings};
  };

  using Enumeration::Enumeration;
  $name(Value v) noexcept : Enumeration(v) {}  // NOLINT(google-explicit-constructor)
  Value value() const noexcept { return static_cast<Value>(raw()); }
};
