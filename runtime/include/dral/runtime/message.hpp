// Making localisable messages: the default text is the catalogue template
// formatted with the arguments, and every argument is kept as plain text so
// a localizer can render the message again later.
//
//   messages.push_back(Tovri::Message<Tovri::CoreTag>(Tovri::MessageIds::kBadCast1, text));
//   messages.push_back(Tovri::MakeMessage(id, Tovri::Message<Tovri::CoreTag>::DefaultMessageForId(id),
//                                         a1, a2, a3));
//
// Message<Tag> takes its id by name (tovri/core/message_ids.hpp), so a
// misspelt id does not compile; MakeMessage takes any id with its own
// template, for catalogues of an application's own. Arguments are text
// literals, NUL-terminated texts or std::string.
#pragma once

#include <list>
#include <string>

#include <boost/utility/string_view.hpp>

#include <dral/runtime/format.hpp>
#include <tovri/core/message.hpp>
#include <tovri/core/message_ids.hpp>

namespace Tovri {

// Appends the plain text of each argument (the template "{1}" formatted with
// it) to the bound list.
class AppendArg {
 public:
  explicit AppendArg(std::list<std::string>& args) noexcept : args_(&args) {}

  template <class T>
  void operator()(const T& arg) const {
    args_->push_back(FormatImpl<1>::call(boost::string_view("{1}"), arg));
  }

 private:
  std::list<std::string>* args_;
};

// A message whose default text is `defaultMessage` (a template) formatted
// with `args`. A formatting error is ignored: the text then ends before the
// first field whose argument is missing. Every argument is recorded.
template <class... Args>
BaseMessage MakeMessage(const std::string& id, const std::string& defaultMessage, const Args&... args) {
  const std::string text = FormatImpl<sizeof...(Args)>::call(defaultMessage, args...);
  std::list<std::string> rendered;
  const AppendArg append(rendered);
  // Evaluated left to right, keeping argument order.
  const int order[] = {0, (append(args), 0)...};
  static_cast<void>(order);
  return BaseMessage(id, text, rendered);
}

// A message of the catalogue selected by Tag.
template <class Tag>
class Message : public BaseMessage {
 public:
  static std::string DefaultMessageForId(const std::string& id) {
    return MessageCatalogue<Tag>::DefaultMessageForId(id);
  }

  // Without arguments the template is kept verbatim, placeholders included.
  explicit Message(MessageId id) : BaseMessage(id, DefaultMessageForId(id), {}) {}

  template <class... Args>
  Message(MessageId id, const Args&... args)
      : BaseMessage(MakeMessage(id, DefaultMessageForId(id), args...)) {}
};

}  // namespace Tovri
