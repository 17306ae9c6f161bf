// $banner
#include <$header>$includes

namespace $namespace {
namespace {
// The helpers each adapter hands to AddFields.
using N2VHelper = ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>;
using V2NHelper = ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>;
using N2DHelper = ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>;
using Definitions = ::Tovri::Data::NativeToDefinitionAdapter;
namespace StdErrors = ::Com::Corvane::Tovri::Std::Errors;
}  // namespace

$definitions

}  // namespace $namespace

namespace {
// The unit's namespace, for the specialisations below.
namespace pkg = ::$namespace;
}  // namespace

namespace Tovri {
namespace Data {

$type_infos

}  // namespace Data
}  // namespace Tovri
$specialisations
