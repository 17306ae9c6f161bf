template <>
struct Rules<$type> {
  static bool Check(
      const $type& v, Checker& c);
};
template <>
bool isValid<$type>(
    const $type& v,
    Policy p, std::list<::Tovri::BaseMessage>& m);
