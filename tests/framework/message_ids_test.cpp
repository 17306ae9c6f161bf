// The wire form of every named message id: callers and localizers match
// messages by these texts, so a renamed constant must keep its text. Every
// other test names ids through the constants.
#include <tovri/core/message_ids.hpp>

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tovri/core/message.hpp>

namespace {

using Tovri::MessageId;
using Tovri::MessageIds;

// Ids come from the named constants only: neither text nor a default
// makes one, so a misspelt id cannot be raised.
static_assert(!std::is_constructible<MessageId, const char*>::value, "an id is never made from text");
static_assert(!std::is_constructible<MessageId, std::string>::value, "an id is never made from text");
static_assert(!std::is_default_constructible<MessageId>::value, "an id is always a named one");

TEST(FwMessageIds, WireFormAndCatalogueTemplateOfEveryId) {
  const std::vector<std::pair<MessageId, const char*>> ids{
      {MessageIds::kFieldExtra, "tovri.data.compound.field.extra"},
      {MessageIds::kInvalidInput, "tovri.invoke.invalid.input"},
      {MessageIds::kUnionCaseSetShort, "tovri.data.union.invalid.case.state.isset.short"},
      {MessageIds::kUnionCaseNotSetShort, "tovri.data.union.invalid.case.state.isnotset.short"},
      {MessageIds::kUnionMissingTag, "tovri.data.union.missing.tag.field"},
      {MessageIds::kUnsetNonOptional, "tovri.data.unset.non.optional.field"},
      {MessageIds::kBadCast1, "tovri.data.bad.cast1"},
      {MessageIds::kInvalidType, "tovri.data.invalid.type"},
      {MessageIds::kSignalNotConnected, "tovri.provider.method.signal.not.connected"},
      {MessageIds::kKindMismatch, "tovri.data.value.kind.mismatch"},
      {MessageIds::kParseFailed, "tovri.data.string.parse.failed"},
      {MessageIds::kOutOfRange, "tovri.data.string.out.of.range"},
      {MessageIds::kFieldMissing, "tovri.data.compound.field.missing"},
      {MessageIds::kCheckKind, "tovri.data.check.kind.mismatch"},
      {MessageIds::kCheckMissingValue, "tovri.data.check.value.missing"},
      {MessageIds::kCheckStructName, "tovri.data.check.struct.name.mismatch"},
      {MessageIds::kCheckFieldMissing, "tovri.data.check.field.missing"},
      {MessageIds::kCheckUnionNotSelected, "tovri.data.check.union.case.not.selected"},
      {MessageIds::kCheckUnionNoTag, "tovri.data.check.union.tag.missing"},
      {MessageIds::kInvalidOutput, "tovri.provider.output.invalid"},
      {MessageIds::kErrorMissing, "tovri.provider.error.missing"},
      {MessageIds::kErrorUndeclared, "tovri.provider.error.undeclared"},
      {MessageIds::kErrorInvalid, "tovri.provider.error.invalid"},
      {MessageIds::kMethodMissing, "tovri.invoke.method.missing"},
      {MessageIds::kInputMissing, "tovri.invoke.input.missing"},
      {MessageIds::kProviderMissing, "tovri.invoke.provider.missing"},
      {MessageIds::kServiceNotFound, "tovri.provider.service.not.found"},
      {MessageIds::kMethodNotFound, "tovri.provider.method.not.found"},
  };
  for (const auto& [id, wire] : ids) {
    EXPECT_EQ(std::string(id), wire);
    EXPECT_TRUE(Tovri::MessageCatalogue<Tovri::CoreTag>::Contains(id)) << wire << " has no template";
  }
}

}  // namespace
