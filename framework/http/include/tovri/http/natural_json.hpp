// The natural JSON shape of values: what a person with curl, or a program in
// another language, sends and receives. Field names are keys, primitives are
// JSON scalars, lists and sets are arrays, an unset optional is null or
// absent, a blob is base64 text and an enumeration is its text.
//
// The shape carries no type names, so a body is read against the definition
// of what it must be (an operation's input): the definition says which
// structure, optional, map or blob to build. Reading and writing use explicit
// stacks, never recursion, and reading refuses bodies beyond its limits.
// Nothing here throws for bad data: failures come back as messages, each
// naming the JSON path of the fault ("$.spec.address.port: ...").
//
// See docs/wire.md, "Natural JSON", for the shape in full.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>

#include <tovri/core/definition.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/value.hpp>

namespace Tovri {
namespace Http {

// Bounds on what one body may hold. A body beyond any of them is refused
// before (bytes, depth) or while (elements) its value is built.
struct NaturalLimits {
  // Boost.JSON's parser descends one native call per level of nesting, so
  // this limit is also what bounds its stack use; a larger maxDepth is taken
  // as this one.
  static constexpr std::size_t kDepthCeiling = 1000;

  std::size_t maxBytes = 1u << 20;   // length of the JSON text
  std::size_t maxDepth = 64;         // nesting of arrays and objects
  std::size_t maxElements = 100000;  // JSON values in the body, all levels counted
};

// The value read, or the messages saying why there is none.
struct NaturalValue {
  Data::ValuePtr value;  // null when refused
  std::list<BaseMessage> messages;
  bool ok() const noexcept { return value != nullptr; }
};

// The text written, or the messages saying why there is none.
struct NaturalText {
  std::string text;
  std::list<BaseMessage> messages;
  bool ok() const noexcept { return messages.empty(); }
};

// Reads `json` as a value of `definition`. A value that is read also passes
// Data::CheckValue against the definition (union cases included).
NaturalValue ReadNatural(std::string_view json, const Data::DataDefinition& definition,
                         const NaturalLimits& limits = NaturalLimits());

struct NaturalWriteOptions {
  // Secrets are written as null unless this is set: an answer should not
  // echo a secret back to whoever can read the response or its logs.
  bool revealSecrets = false;
};

// Writes `value`, which must pass Data::CheckValue against `definition`
// (otherwise the check's messages come back and no text).
NaturalText WriteNatural(const Data::ValuePtr& value, const Data::DataDefinition& definition,
                         const NaturalWriteOptions& options = NaturalWriteOptions());

// Writes an error value: {"error": "<id>", "messages": [...]} with each
// message as {"id", "default_message", "args", "localized" when set}, and
// any further fields of the error under their names.
std::string WriteNaturalError(const Data::ErrorValue& error);

}  // namespace Http
}  // namespace Tovri
