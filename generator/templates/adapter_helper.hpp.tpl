struct AdapterHelper {  // the adapters' entry points, forwarding to the field table
  static void AddFields(::Tovri::Data::N2VHelper& h, const $name* obj);
  static void AddFields(::Tovri::Data::V2NHelper& h, $name* obj);
  static void AddFields(::Tovri::Data::N2DHelper& h);
};
