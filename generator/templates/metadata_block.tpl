
namespace Tovri {
namespace Metadata {

$metadata

}  // namespace Metadata
}  // namespace Tovri
