// $comment
struct $name : public ::Tovri::Data::BaseNative {
$members

  // The field lists each adapter walks, in member order.
  struct AdapterHelper {
$adapter_helper
  };
};
