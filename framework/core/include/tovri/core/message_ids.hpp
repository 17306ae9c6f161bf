// The ids of the core catalogue's messages, by name.
//
// Code that raises a message names its id here: a MessageId can only be
// copied from one of the constants of MessageIds, so a misspelt id fails to
// compile instead of reaching a caller as an unknown id with a placeholder
// text. The wire form of each id is written here and nowhere else; the
// catalogue's templates are keyed by these constants too.
//
//   messages.push_back(Tovri::Message<Tovri::CoreTag>(Tovri::MessageIds::kBadCast1, text));
#pragma once

#include <cstring>
#include <ostream>
#include <string>

namespace Tovri {

class MessageId {
 public:
  constexpr const char* c_str() const noexcept { return id_; }
  // Messages keep their id as text (BaseMessage::id).
  operator std::string() const { return id_; }  // NOLINT(google-explicit-constructor)

  friend bool operator==(MessageId a, MessageId b) noexcept { return std::strcmp(a.id_, b.id_) == 0; }
  friend bool operator!=(MessageId a, MessageId b) noexcept { return !(a == b); }
  // A received message's id against a named one.
  friend bool operator==(const std::string& text, MessageId id) noexcept { return text == id.id_; }
  friend bool operator==(MessageId id, const std::string& text) noexcept { return text == id.id_; }
  friend bool operator!=(const std::string& text, MessageId id) noexcept { return !(text == id); }
  friend bool operator!=(MessageId id, const std::string& text) noexcept { return !(text == id); }
  friend std::ostream& operator<<(std::ostream& out, MessageId id) { return out << id.id_; }

 private:
  friend struct MessageIds;
  constexpr explicit MessageId(const char* id) noexcept : id_(id) {}

  const char* id_;
};

struct MessageIds {
  // Raised by the bindings (runtime, client, provider).
  static constexpr MessageId kFieldExtra{"tovri.data.compound.field.extra"};
  static constexpr MessageId kInvalidInput{"tovri.invoke.invalid.input"};
  static constexpr MessageId kUnionCaseSetShort{"tovri.data.union.invalid.case.state.isset.short"};
  static constexpr MessageId kUnionCaseNotSetShort{"tovri.data.union.invalid.case.state.isnotset.short"};
  static constexpr MessageId kUnionMissingTag{"tovri.data.union.missing.tag.field"};
  static constexpr MessageId kUnsetNonOptional{"tovri.data.unset.non.optional.field"};
  static constexpr MessageId kBadCast1{"tovri.data.bad.cast1"};
  static constexpr MessageId kInvalidType{"tovri.data.invalid.type"};
  static constexpr MessageId kSignalNotConnected{"tovri.provider.method.signal.not.connected"};

  // Raised by the framework itself.
  static constexpr MessageId kKindMismatch{"tovri.data.value.kind.mismatch"};
  static constexpr MessageId kParseFailed{"tovri.data.string.parse.failed"};
  static constexpr MessageId kOutOfRange{"tovri.data.string.out.of.range"};
  static constexpr MessageId kFieldMissing{"tovri.data.compound.field.missing"};
  static constexpr MessageId kCheckKind{"tovri.data.check.kind.mismatch"};
  static constexpr MessageId kCheckMissingValue{"tovri.data.check.value.missing"};
  static constexpr MessageId kCheckStructName{"tovri.data.check.struct.name.mismatch"};
  static constexpr MessageId kCheckFieldMissing{"tovri.data.check.field.missing"};
  static constexpr MessageId kCheckUnionNotSelected{"tovri.data.check.union.case.not.selected"};
  static constexpr MessageId kCheckUnionNoTag{"tovri.data.check.union.tag.missing"};
  static constexpr MessageId kInvalidOutput{"tovri.provider.output.invalid"};
  static constexpr MessageId kErrorMissing{"tovri.provider.error.missing"};
  static constexpr MessageId kErrorUndeclared{"tovri.provider.error.undeclared"};
  static constexpr MessageId kErrorInvalid{"tovri.provider.error.invalid"};
  static constexpr MessageId kMethodMissing{"tovri.invoke.method.missing"};
  static constexpr MessageId kInputMissing{"tovri.invoke.input.missing"};
  static constexpr MessageId kProviderMissing{"tovri.invoke.provider.missing"};
  static constexpr MessageId kServiceNotFound{"tovri.provider.service.not.found"};
  static constexpr MessageId kMethodNotFound{"tovri.provider.method.not.found"};
};

}  // namespace Tovri
