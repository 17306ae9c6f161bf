void $owner::AdapterHelper::AddFields($params) {
  ::Tovri::Data::BaseNative::AdapterHelper::AddUnknownFields(h.GetSource(), obj->unknownFields);
}
