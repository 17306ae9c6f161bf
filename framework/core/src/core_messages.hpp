// The core catalogue's ids and templates, shared by the sources of the core
// library. Private to the library.
#pragma once

#include <cstddef>

#include <tovri/core/message_ids.hpp>

namespace Tovri {
namespace Core {
// The ids as text, for the library's own messages and its catalogue table.
namespace Ids {
// Raised by the bindings.
constexpr const char* kFieldExtra = MessageIds::kFieldExtra.c_str();
constexpr const char* kInvalidInput = MessageIds::kInvalidInput.c_str();
constexpr const char* kUnionCaseSetShort = MessageIds::kUnionCaseSetShort.c_str();
constexpr const char* kUnionCaseNotSetShort = MessageIds::kUnionCaseNotSetShort.c_str();
constexpr const char* kUnionMissingTag = MessageIds::kUnionMissingTag.c_str();
constexpr const char* kUnsetNonOptional = MessageIds::kUnsetNonOptional.c_str();
constexpr const char* kBadCast1 = MessageIds::kBadCast1.c_str();
constexpr const char* kInvalidType = MessageIds::kInvalidType.c_str();
constexpr const char* kSignalNotConnected = MessageIds::kSignalNotConnected.c_str();

// Raised by the framework itself.
constexpr const char* kKindMismatch = MessageIds::kKindMismatch.c_str();
constexpr const char* kParseFailed = MessageIds::kParseFailed.c_str();
constexpr const char* kOutOfRange = MessageIds::kOutOfRange.c_str();
constexpr const char* kFieldMissing = MessageIds::kFieldMissing.c_str();
constexpr const char* kCheckKind = MessageIds::kCheckKind.c_str();
constexpr const char* kCheckMissingValue = MessageIds::kCheckMissingValue.c_str();
constexpr const char* kCheckStructName = MessageIds::kCheckStructName.c_str();
constexpr const char* kCheckFieldMissing = MessageIds::kCheckFieldMissing.c_str();
constexpr const char* kCheckUnionNotSelected = MessageIds::kCheckUnionNotSelected.c_str();
constexpr const char* kCheckUnionNoTag = MessageIds::kCheckUnionNoTag.c_str();
constexpr const char* kInvalidOutput = MessageIds::kInvalidOutput.c_str();
constexpr const char* kErrorMissing = MessageIds::kErrorMissing.c_str();
constexpr const char* kErrorUndeclared = MessageIds::kErrorUndeclared.c_str();
constexpr const char* kErrorInvalid = MessageIds::kErrorInvalid.c_str();
constexpr const char* kMethodMissing = MessageIds::kMethodMissing.c_str();
constexpr const char* kInputMissing = MessageIds::kInputMissing.c_str();
constexpr const char* kProviderMissing = MessageIds::kProviderMissing.c_str();
constexpr const char* kServiceNotFound = MessageIds::kServiceNotFound.c_str();
constexpr const char* kMethodNotFound = MessageIds::kMethodNotFound.c_str();
}  // namespace Ids

struct CatalogueEntry {
  const char* id;
  const char* text;
};

// The catalogue in id order; `count` receives its length.
const CatalogueEntry* CoreCatalogue(std::size_t& count) noexcept;

}  // namespace Core
}  // namespace Tovri
