template <> struct Rules<$type> { static bool Check(const $type& v, Checker& c); };
template <> inline bool isValid<$type>(const $type& v, Policy p, std::list<::Tovri::BaseMessage>& m) { return Validate(v, p, m); }
