// The core catalogue's ids and templates, shared by the sources of the core
// library. Private to the library.
#pragma once

#include <cstddef>

namespace Tovri {
namespace Core {
namespace Ids {
// Raised by the bindings.
constexpr const char* kFieldExtra = "tovri.data.compound.field.extra";
constexpr const char* kInvalidInput = "tovri.invoke.invalid.input";
constexpr const char* kUnionCaseSetShort = "tovri.data.union.invalid.case.state.isset.short";
constexpr const char* kUnionCaseNotSetShort = "tovri.data.union.invalid.case.state.isnotset.short";
constexpr const char* kUnionMissingTag = "tovri.data.union.missing.tag.field";
constexpr const char* kUnsetNonOptional = "tovri.data.unset.non.optional.field";
constexpr const char* kBadCast1 = "tovri.data.bad.cast1";
constexpr const char* kInvalidType = "tovri.data.invalid.type";
constexpr const char* kSignalNotConnected = "tovri.provider.method.signal.not.connected";

// Raised by the framework itself.
constexpr const char* kKindMismatch = "tovri.data.value.kind.mismatch";
constexpr const char* kParseFailed = "tovri.data.string.parse.failed";
constexpr const char* kOutOfRange = "tovri.data.string.out.of.range";
constexpr const char* kFieldMissing = "tovri.data.compound.field.missing";
constexpr const char* kCheckKind = "tovri.data.check.kind.mismatch";
constexpr const char* kCheckMissingValue = "tovri.data.check.value.missing";
constexpr const char* kCheckStructName = "tovri.data.check.struct.name.mismatch";
constexpr const char* kCheckFieldMissing = "tovri.data.check.field.missing";
constexpr const char* kCheckUnionNotSelected = "tovri.data.check.union.case.not.selected";
constexpr const char* kCheckUnionNoTag = "tovri.data.check.union.tag.missing";
constexpr const char* kInvalidOutput = "tovri.provider.output.invalid";
constexpr const char* kErrorMissing = "tovri.provider.error.missing";
constexpr const char* kErrorUndeclared = "tovri.provider.error.undeclared";
constexpr const char* kErrorInvalid = "tovri.provider.error.invalid";
constexpr const char* kMethodMissing = "tovri.invoke.method.missing";
constexpr const char* kInputMissing = "tovri.invoke.input.missing";
constexpr const char* kProviderMissing = "tovri.invoke.provider.missing";
constexpr const char* kServiceNotFound = "tovri.provider.service.not.found";
constexpr const char* kMethodNotFound = "tovri.provider.method.not.found";
}  // namespace Ids

struct CatalogueEntry {
  const char* id;
  const char* text;
};

// The catalogue in id order; `count` receives its length.
const CatalogueEntry* CoreCatalogue(std::size_t& count) noexcept;

}  // namespace Core
}  // namespace Tovri
