
namespace Tovri {
namespace Data {
namespace Validator {

$validators

}  // namespace Validator
}  // namespace Data
}  // namespace Tovri
