// --json: an answer written as the transport's natural JSON (docs/wire.md),
// the same text `curl` gets in "output", so scripts can rely on one shape.
#pragma once

#include <ostream>
#include <string>

#include <dral/tovri_bindings.hpp>
#include <tovri/http/natural_json.hpp>

namespace Trustctl {

// Writes `native` (an operation's result) as one line of natural JSON.
// False, with the reason on `err`, when it cannot be converted.
template <class T>
bool PrintJson(std::ostream& out, std::ostream& err, const T& native) {
  std::shared_ptr<const Tovri::Data::DataValue> value;
  std::list<Tovri::BaseMessage> messages;
  const Tovri::L10n::RequestLocalizer l10n =
      Tovri::L10n::RequestLocalizerHelper::GetDefaultRequestLocalizer();
  const auto definition = Tovri::Data::NativeToDefinitionAdapter::Derive<T>();
  if (!definition || !Tovri::Data::NativeToValueAdapter::Adapt(native, value, messages, l10n)) {
    err << "trustctl: the answer cannot be written as JSON\n";
    return false;
  }
  const Tovri::Http::NaturalText text = Tovri::Http::WriteNatural(value, *definition);
  if (!text.ok()) {
    for (const auto& message : text.messages) err << "trustctl: " << message.defaultMessage << "\n";
    return false;
  }
  out << text.text << "\n";
  return true;
}

}  // namespace Trustctl
