
namespace Tovri::Data::Validator {

$validators

}  // namespace Tovri::Data::Validator
