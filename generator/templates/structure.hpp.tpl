// $comment
struct $name : public ::Tovri::Data::BaseNative {
$members
$adapter_helper
};
