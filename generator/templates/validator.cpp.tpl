bool Rules<$type>::Check($check_params) {
$body
}

template <>
bool isValid<$type>($valid_params) {
  return Validate(v, p, m);
}
