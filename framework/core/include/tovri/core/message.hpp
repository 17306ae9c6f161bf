// Localisable messages: the record every conversion, validation and dispatch
// failure is reported with, the rendering of message templates, and the
// framework core's message catalogue.
//
// A message is an id from the catalogue, a default text already formatted
// with the arguments, and the arguments rendered as text, so that a localizer
// can produce the text in another language later (see tovri/core/l10n.hpp).
#pragma once

#include <initializer_list>
#include <list>
#include <string>

#include <boost/utility/string_view.hpp>

namespace Tovri {

// A value type; lists of messages hold copies.
class BaseMessage {
 public:
  BaseMessage(const std::string& id, const std::string& defaultMessage, const std::list<std::string>& args)
      : id(id), defaultMessage(defaultMessage), args(args) {}

  std::string id;
  std::string defaultMessage;
  std::list<std::string> args;
};

inline bool operator==(const BaseMessage& a, const BaseMessage& b) {
  return a.id == b.id && a.defaultMessage == b.defaultMessage && a.args == b.args;
}
inline bool operator!=(const BaseMessage& a, const BaseMessage& b) { return !(a == b); }

namespace L10n {

// Renders a message template (grammar: tovri/core/message_template.hpp) with
// arguments that are already text. Each field shows its argument as the
// bindings' formatter shows a std::string argument, options included, so a
// message's default text and its rendering from the same template and
// arguments are equal. A field selecting an argument that does not exist
// ends the rendering: the result is the text before that field, exactly the
// partial text the formatter returns along with its error; nothing else
// marks it.
std::string RenderTemplate(boost::string_view tmpl, const std::list<std::string>& args);

}  // namespace L10n

// Selects the framework core's catalogue.
struct CoreTag {};

// Catalogue lookup by tag. `Tovri::Message<Tag>::DefaultMessageForId` of the
// bindings runtime forwards here.
template <class Tag>
struct MessageCatalogue;

template <>
struct MessageCatalogue<CoreTag> {
  // The template text of `id`, with positional fields numbered from 1
  // ("{1}"). An id the catalogue does not know yields a template that names
  // the id and lists its arguments, so no message is ever lost.
  static std::string DefaultMessageForId(const std::string& id);

  // True when the catalogue holds a template of its own for `id`.
  static bool Contains(const std::string& id);
};

namespace Core {

// Builds a message of the core catalogue: the template of `id` rendered with
// `args` (see L10n::RenderTemplate). Used by the framework for its own
// messages; the bindings runtime formats its messages' arguments of other
// types with its own formatter, over the same grammar.
BaseMessage MakeCoreMessage(const std::string& id, std::initializer_list<std::string> args = {});

}  // namespace Core
}  // namespace Tovri
