// $banner
#include <$header>$includes

namespace $namespace {
namespace {
using ::Tovri::Data::Field;
using ::Tovri::Data::FieldTable;
using ::Tovri::Data::N2DHelper;
using ::Tovri::Data::N2VHelper;
using ::Tovri::Data::UnionCase;
using ::Tovri::Data::V2NHelper;
using Definitions = ::Tovri::Data::NativeToDefinitionAdapter;
using DefinitionPtr = std::shared_ptr<const ::Tovri::Data::DataDefinition>;
namespace StdErrors = ::Com::Corvane::Tovri::Std::Errors;
}  // namespace

$definitions

}  // namespace $namespace

namespace {
// The unit's namespace, for the specialisations below.
namespace pkg = ::$namespace;
}  // namespace
$specialisations
