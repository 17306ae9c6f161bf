// The grammar of message templates, read in one place for every renderer of
// message texts: the framework's L10n::RenderTemplate and the bindings'
// positional formatter.
//
// A template is text with replacement fields "{index:options}". Indexes count
// from 1; an empty or zero index takes the next argument, where "next" counts
// every field before it, explicit ones included ("{2} {}" takes argument 2
// twice). An index is read as strtoull reads a decimal number from its first
// twenty characters: leading white space and a sign are accepted and anything
// after the digits is ignored, so "{name}" takes the next argument and "{-1}"
// one that does not exist. "{{" and "}}" are literal braces, a "}" that
// closes no field is literal too, and a field without its "}" runs to the end
// of the template. Options are printf flags, width and precision for a text.
#pragma once

#include <cstddef>
#include <string>

#include <boost/utility/string_view.hpp>

namespace Tovri {
namespace MessageTemplate {

// One piece of a template. Views point into the template.
struct Piece {
  enum class Kind {
    kText,             // literal text: `text`
    kField,            // argument `argument` (from 0), with `options`
    kMissingArgument,  // a field selects an argument that does not exist
  };
  Kind kind = Kind::kText;
  boost::string_view text;
  std::size_t argument = 0;
  boost::string_view options;
};

// Splits a template into pieces, for a given number of arguments. The
// template must outlive the reader and its pieces.
class Reader {
 public:
  Reader(boost::string_view tmpl, std::size_t argumentCount) noexcept
      : tmpl_(tmpl), argumentCount_(argumentCount) {}

  // Reads the next piece; false at the end of the template. A
  // kMissingArgument piece ends the template: renderers stop there.
  bool Next(Piece& piece) noexcept;

 private:
  boost::string_view tmpl_;
  std::size_t argumentCount_;
  std::size_t pos_ = 0;
  std::size_t fields_ = 0;  // fields read so far: the argument "{}" takes
};

// Appends `text` as a field with `options` shows it. No options or "s": every
// byte. Options of at most 13 characters made of printf flags, a width of at
// most 65536 and a precision: what snprintf's "%<options>s" makes of the text
// up to its first NUL. Any other options: the text up to its first NUL, as
// if there were none (they could form another conversion, reading or writing
// through the wrong argument).
void AppendField(std::string& out, boost::string_view text, boost::string_view options);

}  // namespace MessageTemplate
}  // namespace Tovri
