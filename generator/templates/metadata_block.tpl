
namespace Tovri::Metadata {

$metadata

}  // namespace Tovri::Metadata
