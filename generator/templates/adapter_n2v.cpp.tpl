void $owner::AdapterHelper::AddFields($params) {
$fields
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(*obj, h.GetValue());
}
