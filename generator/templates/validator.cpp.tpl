bool Rules<$type>::Check(const $type& v, Checker& c) { return $check; }
