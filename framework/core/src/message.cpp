#include <tovri/core/message.hpp>

#include <iterator>
#include <vector>

#include <tovri/core/message_template.hpp>

#include "core_messages.hpp"

namespace Tovri {
namespace Core {
namespace {

constexpr CatalogueEntry kCatalogue[] = {
    {Ids::kFieldExtra, "Field {2} is not declared by structure {1}."},
    {Ids::kFieldMissing, "Structure {1} has no field {2}."},
    {Ids::kCheckFieldMissing, "At {1}: structure {2} lacks its required field {3}."},
    {Ids::kCheckKind, "At {1}: expected a value of type {2}, got one of type {3}."},
    {Ids::kCheckStructName, "At {1}: expected structure {2}, got structure {3}."},
    {Ids::kCheckUnionNotSelected,
     "At {1}: case field {2} is set, but tag field {3} holds \"{4}\", which does not select it."},
    {Ids::kCheckUnionNoTag, "At {1}: case field {2} is set, but tag field {3} holds no text."},
    {Ids::kCheckMissingValue, "At {1}: a value of type {2} is required, but none is set."},
    {Ids::kBadCast1, "The text \"{1}\" was received where a structure or a map was expected."},
    {Ids::kInvalidType, "A value of the wrong type was received."},
    {Ids::kOutOfRange, "The text \"{1}\" is outside the range of a {2}."},
    {Ids::kParseFailed, "The text \"{1}\" cannot be read as a {2}: {3}."},
    {Ids::kUnionCaseNotSetShort, "In union {1}, the tag selects case field {2}, but it is not set."},
    {Ids::kUnionCaseSetShort, "In union {1}, case field {2} is set, but the tag does not select it."},
    {Ids::kUnionMissingTag, "The union's tag field {1} holds no known value and no case field is set."},
    {Ids::kUnsetNonOptional, "A required field of structure {1} is not set."},
    {Ids::kKindMismatch, "Expected a value of type {1}, got one of type {2}."},
    {Ids::kInputMissing, "Method {2} of service {1} was invoked without an input value."},
    {Ids::kInvalidInput, "The input of operation {1} is not valid."},
    {Ids::kMethodMissing, "The invocation names no method or no service."},
    {Ids::kProviderMissing, "Method {2} of service {1} was invoked through a stub without a provider."},
    {Ids::kErrorInvalid, "Error {2} answered by method {1} does not match its definition."},
    {Ids::kErrorMissing, "Method {1} answered with an empty error."},
    {Ids::kErrorUndeclared, "Method {1} answered with error {2}, which it does not declare."},
    {Ids::kSignalNotConnected, "The method is not connected to an implementation."},
    {Ids::kMethodNotFound, "Service {1} has no method {2}."},
    {Ids::kInvalidOutput, "The output of method {1} does not match its definition."},
    {Ids::kServiceNotFound, "No service {1} is registered (method {2} was called)."},
};

const CatalogueEntry* Find(const std::string& id) noexcept {
  for (const CatalogueEntry& entry : kCatalogue) {
    if (id == entry.id) return &entry;
  }
  return nullptr;
}

// Braces in an unknown id must not read as fields.
std::string EscapeBraces(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '{' || c == '}') out += c;
  }
  return out;
}

}  // namespace

const CatalogueEntry* CoreCatalogue(std::size_t& count) noexcept {
  count = std::size(kCatalogue);
  return kCatalogue;
}

BaseMessage MakeCoreMessage(const std::string& id, std::initializer_list<std::string> args) {
  std::list<std::string> argList(args);
  std::string text = L10n::RenderTemplate(MessageCatalogue<CoreTag>::DefaultMessageForId(id), argList);
  return BaseMessage(id, text, argList);
}

}  // namespace Core

namespace L10n {

std::string RenderTemplate(boost::string_view tmpl, const std::list<std::string>& args) {
  const std::vector<const std::string*> argv = [&] {
    std::vector<const std::string*> v;
    v.reserve(args.size());
    for (const std::string& a : args) v.push_back(&a);
    return v;
  }();
  std::string out;
  out.reserve(tmpl.size());
  MessageTemplate::Reader reader(tmpl, argv.size());
  MessageTemplate::Piece piece;
  while (reader.Next(piece)) {
    switch (piece.kind) {
      case MessageTemplate::Piece::Kind::kText:
        out.append(piece.text.data(), piece.text.size());
        break;
      case MessageTemplate::Piece::Kind::kField:
        MessageTemplate::AppendField(out, *argv[piece.argument], piece.options);
        break;
      case MessageTemplate::Piece::Kind::kMissingArgument:
        return out;
    }
  }
  return out;
}

}  // namespace L10n

std::string MessageCatalogue<CoreTag>::DefaultMessageForId(const std::string& id) {
  if (const Core::CatalogueEntry* entry = Core::Find(id)) return entry->text;
  return "Message " + Core::EscapeBraces(id) + ": {1} {2} {3}";
}

bool MessageCatalogue<CoreTag>::Contains(const std::string& id) { return Core::Find(id) != nullptr; }

}  // namespace Tovri
