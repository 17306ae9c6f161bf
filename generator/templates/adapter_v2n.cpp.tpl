void $owner::AdapterHelper::AddFields($params) {
$fields
  static const ::boost::string_view kFieldNames[] = $sorted_names;
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(kFieldNames, h.GetSource(), obj->unknownFields);
}
